import QtQuick
import QtQuick.Controls
import Korvanta

// The screens' main actions ("MASTER SONGS!", "EXPORT ALL", "CANCEL", …): an icon and a text on
// a filled, rounded body. Space and Enter press it when it has the keyboard focus.
AbstractButton {
    id: root

    property string iconName
    property color tint: ThemeManager.currentTheme.primary
    property int fontSize: Theme.fontButton
    property bool outlined: false

    implicitHeight: 44
    implicitWidth: Math.max(160, row.implicitWidth + 2 * Theme.standardPadding)
    focusPolicy: Qt.StrongFocus
    opacity: enabled ? 1.0 : 0.6
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Accessible.name: root.text

    Keys.onReturnPressed: root.clicked()
    Keys.onEnterPressed: root.clicked()

    background: Rectangle {
        radius: Theme.radius
        color: root.outlined ? "transparent"
                             : (root.down ? Qt.darker(root.tint, 1.25)
                                          : root.hovered ? Qt.lighter(root.tint, 1.12) : root.tint)
        border.width: root.outlined || root.visualFocus ? 2 : 0
        border.color: root.visualFocus ? ThemeManager.currentTheme.textPrimary : root.tint
        Behavior on color { ColorAnimation { duration: Theme.fast } }
    }

    contentItem: Item {
        implicitWidth: row.implicitWidth
        implicitHeight: row.implicitHeight
        Row {
            id: row
            anchors.centerIn: parent
            spacing: Theme.spacing
            Icon {
                anchors.verticalCenter: parent.verticalCenter
                visible: root.iconName !== ""
                name: root.iconName
                size: root.fontSize + 4
                color: root.outlined ? root.tint : ThemeManager.labelColorOn(root.tint)
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: root.text
                font.family: Theme.fontFamily
                font.pixelSize: root.fontSize
                font.weight: Font.Bold
                font.letterSpacing: 0.5
                color: root.outlined ? root.tint : ThemeManager.labelColorOn(root.tint)
            }
        }
    }
}
