import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// One song still to do: its name, a progress bar and its status.
Rectangle {
    id: root

    required property int songIndex
    required property string filename
    required property int currentIndex
    required property real currentFileProgress
    readonly property bool isCurrent: root.songIndex === root.currentIndex
    readonly property real progress: root.isCurrent ? root.currentFileProgress : 0

    implicitHeight: 55
    radius: Theme.radiusSmall
    color: ThemeManager.currentTheme.cardBackground
    border.width: root.isCurrent ? 1 : 0
    border.color: Theme.alpha(ThemeManager.currentTheme.primary, 0.6)

    ColumnLayout {
        anchors.fill: parent
        anchors.leftMargin: Theme.spacing + 4
        anchors.rightMargin: Theme.spacing + 4
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        spacing: 6

        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing
            Text {
                Layout.fillWidth: true
                text: root.filename
                elide: Text.ElideMiddle
                maximumLineCount: 1
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontBody
                color: ThemeManager.currentTheme.textPrimary
            }
            BusyIndicator {
                visible: root.isCurrent
                running: visible
                scale: 0.8
                Layout.preferredWidth: 20
                Layout.preferredHeight: 20
            }
            Text {
                objectName: "percentage"
                visible: root.isCurrent
                text: Math.floor(root.progress * 100) + "%"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontRow
                font.weight: Font.DemiBold
                color: ThemeManager.currentTheme.primary
            }
            Icon {
                visible: !root.isCurrent
                name: "clock.fill"
                size: Theme.fontBody
                color: ThemeManager.currentTheme.textSecondary
            }
        }
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 6
            radius: 3
            color: ThemeManager.currentTheme.elementBackground
            Rectangle {
                width: parent.width * Math.max(0, Math.min(1, root.progress))
                height: parent.height
                radius: 3
                gradient: Gradient {
                    orientation: Gradient.Horizontal
                    GradientStop { position: 0.0; color: ThemeManager.currentTheme.primary }
                    GradientStop { position: 1.0; color: ThemeManager.currentTheme.accent }
                }
                Behavior on width { NumberAnimation { duration: 300; easing.type: Easing.Linear } }
            }
        }
    }
}
