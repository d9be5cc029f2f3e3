import QtQuick
import Korvanta

// A card's progress bar: how far the playing column has got; a tap asks to seek there.
Item {
    id: root

    property bool active: false
    property real progress: 0
    property color tint

    signal tapped(real x, real width)

    implicitHeight: 12
    Rectangle {
        id: track
        anchors.verticalCenter: parent.verticalCenter
        // The bar is drawn inside the 5 % margins a tap leaves at either end.
        x: parent.width * 0.05
        width: parent.width * 0.9
        height: 4
        radius: 2
        color: Theme.alpha(ThemeManager.currentTheme.textSecondary, 0.18)
        Rectangle {
            objectName: "progressFill"
            width: track.width * Math.max(0, Math.min(1, root.progress))
            height: parent.height
            radius: parent.radius
            color: root.tint
            visible: root.active
        }
    }
    TapHandler {
        enabled: root.active
        onTapped: (eventPoint) => root.tapped(eventPoint.position.x, root.width)
    }
}
