import QtQuick
import QtQuick.Controls
import Korvanta

// A toolbar toggle: an icon (or a letter) that lights up while its panel or mode is active,
// with its help text as a tooltip.
AbstractButton {
    id: root

    property string iconName
    property string letter
    property string helpText
    property bool active: false

    implicitWidth: 34
    implicitHeight: 30
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Accessible.name: root.helpText
    Accessible.checkable: true
    Accessible.checked: root.active

    Keys.onReturnPressed: root.clicked()
    Keys.onEnterPressed: root.clicked()

    ToolTip.visible: hovered && root.helpText !== ""
    ToolTip.delay: 600
    ToolTip.text: root.helpText

    background: Rectangle {
        radius: Theme.radiusSmall
        color: root.active ? Theme.alpha(ThemeManager.currentTheme.accent, 0.28)
                           : root.hovered ? ThemeManager.currentTheme.elementBackground : "transparent"
        border.width: root.visualFocus ? 2 : (root.active ? 1 : 0)
        border.color: root.visualFocus ? ThemeManager.currentTheme.textPrimary : ThemeManager.currentTheme.accent
    }

    contentItem: Item {
        Icon {
            anchors.centerIn: parent
            visible: root.letter === ""
            name: root.iconName
            size: 18
            color: root.active ? ThemeManager.currentTheme.accent : ThemeManager.currentTheme.textSecondary
        }
        Text {
            anchors.centerIn: parent
            visible: root.letter !== ""
            text: root.letter
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontBody + 1
            font.weight: Font.Black
            color: root.active ? ThemeManager.currentTheme.accent : ThemeManager.currentTheme.textSecondary
        }
    }
}
