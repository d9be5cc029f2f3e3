import QtQuick
import QtQuick.Controls
import Korvanta

// A small rounded secondary action ("Select Folder", "Remove", …).
AbstractButton {
    id: root

    property string iconName
    property color tint: ThemeManager.currentTheme.accent

    implicitHeight: 28
    implicitWidth: row.implicitWidth + 24
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    opacity: enabled ? 1.0 : 0.5
    Accessible.role: Accessible.Button
    Accessible.name: root.text
    Keys.onReturnPressed: root.clicked()
    Keys.onEnterPressed: root.clicked()

    background: Rectangle {
        radius: height / 2
        color: root.down ? Theme.alpha(root.tint, 0.35) : root.hovered ? Theme.alpha(root.tint, 0.25)
                                                                         : Theme.alpha(root.tint, 0.14)
        border.width: root.visualFocus ? 2 : 1
        border.color: root.visualFocus ? ThemeManager.currentTheme.textPrimary : Theme.alpha(root.tint, 0.5)
    }
    contentItem: Item {
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 6
            Icon {
                anchors.verticalCenter: parent.verticalCenter
                visible: root.iconName !== ""
                name: root.iconName
                size: Theme.fontSmall + 2
                color: root.tint
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: root.text
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                font.weight: Font.DemiBold
                color: root.tint
            }
        }
    }
}
