import QtQuick
import QtQuick.Controls
import Korvanta

// A bare icon that acts as a button (row checkboxes, remove buttons, play buttons).
AbstractButton {
    id: root

    property string iconName
    property int size: 18
    property color tint: ThemeManager.currentTheme.textSecondary
    property string accessibleName

    implicitWidth: size + 10
    implicitHeight: size + 10
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Accessible.name: root.accessibleName

    Keys.onReturnPressed: root.clicked()
    Keys.onEnterPressed: root.clicked()

    background: Rectangle {
        radius: width / 2
        color: root.hovered ? Theme.alpha(root.tint, 0.15) : "transparent"
        border.width: root.visualFocus ? 2 : 0
        border.color: ThemeManager.currentTheme.textPrimary
    }
    contentItem: Item {
        Icon {
            anchors.centerIn: parent
            name: root.iconName
            size: root.size
            color: root.down ? Qt.darker(root.tint, 1.3) : root.tint
        }
    }
}
