import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// The processing screen: which song of how many, a row per song still to do, and CANCEL.
Item {
    id: root

    required property ContentView controller
    required property SongListModel songs
    readonly property BatchProcessor batchProcessor: root.controller.batchProcessor

    ProcessingQueueModel {
        id: queue
        songs: root.songs
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.standardPadding
        spacing: Theme.spacing + 4

        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Icon {
                name: "music.note.list"
                size: Theme.fontCaption + 3
                color: ThemeManager.currentTheme.accent
            }
            Text {
                objectName: "counter"
                text: (root.batchProcessor.currentIndex + 1) + "/" + root.batchProcessor.selectedCount
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontCaption
                font.weight: Font.Bold
                color: ThemeManager.currentTheme.textPrimary
            }
            Item { Layout.fillWidth: true }
            Text {
                text: root.batchProcessor.usedPresetName
                visible: text !== ""
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontCaption
                font.weight: Font.DemiBold
                color: ThemeManager.currentTheme.textSecondary
            }
        }

        // The whole batch.
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 4
            radius: 2
            color: ThemeManager.currentTheme.elementBackground
            Rectangle {
                width: parent.width * root.batchProcessor.overallProgress
                height: parent.height
                radius: 2
                color: ThemeManager.currentTheme.accent
                Behavior on width { NumberAnimation { duration: 300 } }
            }
        }

        ListView {
            objectName: "processingRows"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 6
            model: queue
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
            delegate: ProcessingRow {
                width: ListView.view.width
                currentIndex: root.batchProcessor.currentIndex
                currentFileProgress: root.batchProcessor.currentFileProgress
            }
            remove: Transition {
                ParallelAnimation {
                    NumberAnimation { property: "opacity"; to: 0; duration: Theme.normal }
                    NumberAnimation { property: "x"; to: -40; duration: Theme.normal; easing.type: Easing.InCubic }
                }
            }
            displaced: Transition { NumberAnimation { property: "y"; duration: Theme.normal; easing.type: Easing.OutCubic } }
        }

        AccentButton {
            objectName: "cancelButton"
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 200
            text: "CANCEL"
            iconName: "xmark.circle"
            tint: ThemeManager.currentTheme.error
            outlined: true
            onClicked: root.controller.showCancelConfirmation()
        }
    }
}
