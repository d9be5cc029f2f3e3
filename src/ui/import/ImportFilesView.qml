import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// The import screen: the drop card, the song list with its selection, and "MASTER SONGS!".
Item {
    id: root

    required property ContentView controller
    required property SongListModel songs
    readonly property BatchProcessor batchProcessor: root.controller.batchProcessor

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.standardPadding
        spacing: Theme.spacing + 4

        Card3DView {
            Layout.fillWidth: true
            dragOver: root.controller.dragOver
            triggerAttentionAnimation: root.controller.triggerCardAttention
            onSelectFolder: root.controller.isImportingFolder = true
            onSelectFiles: root.controller.isImportingFiles = true
        }

        Text {
            Layout.alignment: Qt.AlignHCenter
            visible: root.controller.showMaxFilesWarning
            text: "Maximum 50 files allowed..."
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontBody
            font.weight: Font.DemiBold
            color: ThemeManager.currentTheme.warning
        }

        RowLayout {
            Layout.fillWidth: true
            visible: root.songs.count > 0 || root.batchProcessor.isAddingFiles
            spacing: 6
            Icon {
                name: "music.note.list"
                size: Theme.fontBody + 2
                color: ThemeManager.currentTheme.accent
            }
            Text {
                objectName: "selectedCount"
                text: root.batchProcessor.selectedCount.toString()
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontBody
                font.weight: Font.Bold
                color: ThemeManager.currentTheme.textPrimary
            }
            Item { Layout.fillWidth: true }
            BusyIndicator {
                visible: root.batchProcessor.isAddingFiles
                running: visible
                Layout.preferredWidth: 18
                Layout.preferredHeight: 18
            }
            Text {
                visible: root.batchProcessor.isAddingFiles
                text: "Measuring songs…"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontCaption
                color: ThemeManager.currentTheme.textSecondary
            }
        }

        ListView {
            id: list
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 4
            model: root.songs
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
            delegate: AudioFileRowView {
                width: ListView.view.width
                batchProcessor: root.batchProcessor
            }
            add: Transition { NumberAnimation { property: "opacity"; from: 0; to: 1; duration: Theme.normal } }
            remove: Transition { NumberAnimation { property: "opacity"; to: 0; duration: Theme.fast } }
            displaced: Transition { NumberAnimation { property: "y"; duration: Theme.normal; easing.type: Easing.OutCubic } }
        }

        AccentButton {
            objectName: "masterSongsButton"
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: Math.min(parent.width, 300)
            text: "MASTER SONGS!"
            iconName: "wand.and.stars"
            fontSize: Theme.fontButton
            enabled: root.batchProcessor.selectedCount > 0 && !root.batchProcessor.isProcessing
            onClicked: root.controller.startMasteringProcess()
        }
    }
}
