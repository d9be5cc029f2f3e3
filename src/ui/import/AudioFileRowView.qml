import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Shapes
import Korvanta

// One imported song: its selection checkbox, name, length and remove button.
Rectangle {
    id: root

    required property int index
    required property string filename
    required property string durationText
    required property bool isSelected
    required property string processingStatus
    required property BatchProcessor batchProcessor

    QtObject {
        id: prv
        property point mousePosition
        property bool isHovering: hover.hovered
    }

    implicitHeight: 40
    radius: Theme.radiusSmall
    color: prv.isHovering ? ThemeManager.currentTheme.elementBackground : ThemeManager.currentTheme.cardBackground
    Behavior on color { ColorAnimation { duration: Theme.fast } }

    HoverHandler {
        id: hover
        onPointChanged: prv.mousePosition = point.position
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 4
        anchors.rightMargin: 4
        spacing: 6

        IconButton {
            iconName: root.isSelected ? "checkmark.square.fill" : "square"
            size: 20
            tint: root.isSelected ? ThemeManager.currentTheme.primary : ThemeManager.currentTheme.textSecondary
            accessibleName: (root.isSelected ? "Deselect " : "Select ") + root.filename
            onClicked: root.batchProcessor.toggleSelection(root.index)
        }
        Text {
            Layout.fillWidth: true
            text: root.filename
            elide: Text.ElideMiddle
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontBody
            color: root.isSelected ? ThemeManager.currentTheme.textPrimary : ThemeManager.currentTheme.textSecondary
        }
        Text {
            visible: root.durationText !== ""
            text: root.durationText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontRow
            font.weight: Font.Medium
            color: ThemeManager.currentTheme.textSecondary
        }
        IconButton {
            iconName: "xmark.circle.fill"
            size: Theme.fontBody + 2
            opacity: 0.7
            tint: ThemeManager.currentTheme.textSecondary
            accessibleName: "Remove " + root.filename
            onClicked: root.batchProcessor.removeFile(root.index)
        }
    }
}
