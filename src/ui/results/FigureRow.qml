import QtQuick
import QtQuick.Layouts
import Korvanta

// One figure of a card column: its label and its value.
RowLayout {
    id: root
    property string label
    property string value
    property color tint

    spacing: 4
    Text {
        text: root.label
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontTiny
        font.weight: Font.DemiBold
        font.letterSpacing: 0.6
        color: ThemeManager.currentTheme.textSecondary
        Layout.preferredWidth: 44
    }
    Text {
        text: root.value
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontRow
        font.weight: Font.Bold
        color: root.tint
        horizontalAlignment: Text.AlignRight
        Layout.fillWidth: true
    }
}
