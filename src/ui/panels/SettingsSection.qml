import QtQuick
import QtQuick.Layouts
import Korvanta

// A titled card of the settings panel.
Rectangle {
    id: root

    property string title
    property string subtitle
    default property alias content: body.data

    Layout.fillWidth: true
    implicitHeight: column.implicitHeight + 2 * 14
    radius: Theme.radius
    color: ThemeManager.currentTheme.backgroundSecondary
    border.width: 1
    border.color: Theme.alpha(ThemeManager.currentTheme.textSecondary, 0.14)

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 14
        spacing: 8
        Text {
            text: root.title
            visible: text !== ""
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontBody
            font.weight: Font.Bold
            color: ThemeManager.currentTheme.textPrimary
        }
        Text {
            Layout.fillWidth: true
            text: root.subtitle
            visible: text !== ""
            wrapMode: Text.WordWrap
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontCaption
            color: ThemeManager.currentTheme.textSecondary
        }
        ColumnLayout {
            id: body
            Layout.fillWidth: true
            spacing: 8
        }
    }
}
