import QtQuick
import QtQuick.Window
import Korvanta

// A floating tool window; its manager sets the content.
Window {
    id: root

    property string identifier
    property alias content: loader.item

    function setContent(source, properties) {
        loader.setSource(source, properties)
    }

    color: ThemeManager.currentTheme.background
    flags: Qt.Tool | Qt.WindowTitleHint | Qt.WindowCloseButtonHint

    Loader {
        id: loader
        anchors.fill: parent
        focus: true
    }

    Shortcut {
        sequence: StandardKey.Cancel
        onActivated: root.close()
    }
}
