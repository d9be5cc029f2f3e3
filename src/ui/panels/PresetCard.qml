import QtQuick
import QtQuick.Controls
import Korvanta

// One loudness preset: its name, target and limiter; highlighted while selected.
AbstractButton {
    id: root

    property string title
    property string lufs
    property string limiter
    property bool isSelected: false

    implicitHeight: 64
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    checkable: false
    Accessible.role: Accessible.RadioButton
    Accessible.name: root.title
    Accessible.checked: root.isSelected
    Keys.onReturnPressed: root.clicked()
    Keys.onEnterPressed: root.clicked()

    background: Rectangle {
        radius: Theme.radius
        color: root.isSelected ? Theme.alpha(ThemeManager.currentTheme.primary, 0.22)
                               : root.hovered ? ThemeManager.currentTheme.elementBackground
                                              : ThemeManager.currentTheme.cardBackground
        border.width: root.isSelected || root.visualFocus ? 2 : 1
        border.color: root.visualFocus ? ThemeManager.currentTheme.textPrimary
                                       : root.isSelected ? ThemeManager.currentTheme.primary
                                                         : Theme.alpha(ThemeManager.currentTheme.textSecondary, 0.2)
        Behavior on color { ColorAnimation { duration: Theme.fast } }
    }
    contentItem: Column {
        spacing: 2
        leftPadding: 12
        topPadding: 8
        Text {
            text: root.title
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontBody
            font.weight: Font.Bold
            color: root.isSelected ? ThemeManager.currentTheme.primary : ThemeManager.currentTheme.textPrimary
        }
        Text {
            text: root.lufs
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontCaption
            color: ThemeManager.currentTheme.textSecondary
        }
        Text {
            text: root.limiter
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontCaption
            color: ThemeManager.currentTheme.textSecondary
        }
    }
}
