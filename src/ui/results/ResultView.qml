import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Korvanta

// The results screen: a card per mastered song and the export of all of them.
Item {
    id: root

    required property ContentView controller
    required property SongListModel songs
    readonly property ResultViewModel results: root.controller.results
    readonly property ResultPlayback playback: root.controller.playback

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.standardPadding - 6
        spacing: Theme.spacing

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 6
            Layout.rightMargin: 6
            spacing: 6
            Icon {
                name: "music.note.list"
                size: Theme.fontBody + 2
                color: ThemeManager.currentTheme.accent
            }
            Text {
                objectName: "completedCount"
                text: root.results.completedCount.toString()
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontBody
                font.weight: Font.Bold
                color: ThemeManager.currentTheme.textPrimary
            }
            Text {
                visible: root.results.failedCount > 0
                text: root.results.failedCount + " failed"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontCaption
                font.weight: Font.DemiBold
                color: ThemeManager.currentTheme.error
                HoverHandler { id: failedHover }
                ToolTip.visible: failedHover.hovered
                ToolTip.text: root.results.failureSummary
            }
            Item { Layout.fillWidth: true; visible: root.playback.audioAvailable }
            ReportExportButton { results: root.results }
            Text {
                objectName: "noAudioOutput"
                visible: !root.playback.audioAvailable
                text: "No audio output is available"
                // In a narrow window the notice gives way (elided, whole in its tooltip) rather
                // than pushing the cards beyond the window's edge.
                Layout.fillWidth: true
                Layout.minimumWidth: 0
                elide: Text.ElideRight
                horizontalAlignment: Text.AlignRight
                HoverHandler { id: noAudioHover }
                ToolTip.visible: noAudioHover.hovered && truncated
                ToolTip.text: text
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontCaption
                font.weight: Font.DemiBold
                color: ThemeManager.currentTheme.warning
            }
            Switch {
                id: matchLevel
                objectName: "matchLevel"
                text: "Match Level"
                checked: root.playback.matchLevel
                onToggled: root.playback.matchLevel = matchLevel.checked
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontCaption
                HoverHandler { id: matchHover }
                ToolTip.visible: matchHover.hovered
                ToolTip.delay: 600
                ToolTip.text: "Play the original at the master's loudness, for a fair comparison"
                contentItem: Text {
                    leftPadding: matchLevel.indicator.width + matchLevel.spacing
                    text: matchLevel.text
                    font: matchLevel.font
                    color: ThemeManager.currentTheme.textSecondary
                    verticalAlignment: Text.AlignVCenter
                }
            }
            Text {
                text: root.controller.batchProcessor.usedPresetName
                visible: text !== ""
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontCaption
                font.weight: Font.DemiBold
                color: ThemeManager.currentTheme.textSecondary
            }
        }

        GridView {
            id: grid
            objectName: "cards"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            cellWidth: Math.floor(width / 2)
            cellHeight: 172
            model: root.results
            interactive: !root.results.isExportAnimating
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
            delegate: SongCardView {
                width: grid.cellWidth
                height: grid.cellHeight
                isFinalMode: root.results.isFinalMode
                playback: root.playback
            }
            displaced: Transition { NumberAnimation { properties: "x,y"; duration: Theme.normal; easing.type: Easing.OutCubic } }
        }

        Item {
            Layout.fillWidth: true
            implicitHeight: 48
            AccentButton {
                anchors.centerIn: parent
                width: Math.min(parent.width, 300)
                visible: !root.results.isExportAnimating
                text: "EXPORT ALL"
                iconName: "square.and.arrow.up"
                enabled: root.results.count > 0
                onClicked: root.results.startExportAll()
            }
            Text {
                anchors.centerIn: parent
                visible: root.results.isExportAnimating && !root.results.exportAnimationCompleted
                text: "EXPORTING..."
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontButton
                font.weight: Font.Black
                font.letterSpacing: 1.5
                color: ThemeManager.currentTheme.accent
                SequentialAnimation on opacity {
                    running: true
                    loops: Animation.Infinite
                    NumberAnimation { to: 0.45; duration: 600 }
                    NumberAnimation { to: 1.0; duration: 600 }
                }
            }
        }
    }

    // "Saved Successfully!" over the emptied grid.
    Column {
        anchors.centerIn: parent
        visible: root.results.exportAnimationCompleted
        spacing: Theme.spacing
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "🎉"
            font.pixelSize: 64
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Saved Successfully!"
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontTitle
            font.weight: Font.Bold
            color: ThemeManager.currentTheme.success
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.results.exportedFilesCount === 1 ? "1 file written" : root.results.exportedFilesCount + " files written"
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontSmall
            color: ThemeManager.currentTheme.textSecondary
        }
    }

    Dialog {
        id: exportChoice
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: Math.min(380, root.width - 40)
        modal: true
        visible: root.results.showExportChoiceAlert
        closePolicy: Popup.CloseOnEscape
        padding: Theme.standardPadding
        onRejected: root.results.cancelExportChoice()
        background: Rectangle {
            radius: Theme.radius
            color: ThemeManager.currentTheme.backgroundSecondary
            border.width: 1
            border.color: ThemeManager.currentTheme.elementBackground
        }
        contentItem: ColumnLayout {
            spacing: Theme.spacing
            Text {
                text: "Export Selection"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontBody + 2
                font.weight: Font.Bold
                color: ThemeManager.currentTheme.textPrimary
            }
            Text {
                Layout.fillWidth: true
                text: "Which version would you like to export?"
                wrapMode: Text.WordWrap
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontRow
                color: ThemeManager.currentTheme.textSecondary
            }
            RowLayout {
                Layout.topMargin: Theme.spacing
                spacing: Theme.spacing
                Item { Layout.fillWidth: true }
                PillButton {
                    text: "Export MASTER"
                    tint: ThemeManager.currentTheme.masterMode
                    onClicked: root.results.chooseExport(false)
                }
                PillButton {
                    id: exportFinal
                    text: "Export FINAL"
                    tint: ThemeManager.currentTheme.finalMode
                    onClicked: root.results.chooseExport(true)
                }
                PillButton {
                    text: "Cancel"
                    tint: ThemeManager.currentTheme.textSecondary
                    onClicked: root.results.cancelExportChoice()
                }
            }
        }
        onOpened: exportFinal.forceActiveFocus()
    }

    FolderDialog {
        id: exportFolder
        title: "Select a Folder to Save All Files"
        acceptLabel: "Select Folder"
        onAccepted: root.results.exportFolderChosen(exportFolder.selectedFolder)
        onRejected: root.results.exportFolderCancelled()
    }
    Connections {
        target: root.results
        function onShowFolderChooserChanged() { if (root.results.showFolderChooser) exportFolder.open() }
    }

    // Space plays or pauses the card played last.
    Shortcut {
        sequence: "Space"
        enabled: !root.results.isExportAnimating
        onActivated: root.playback.togglePlayLast()
    }

    Component.onCompleted: root.playback.screenAppeared()
    Component.onDestruction: {
        root.playback.screenDisappeared()
        root.results.screenDisappeared()
    }
}
