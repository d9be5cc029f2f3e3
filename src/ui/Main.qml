import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import QtQuick.Window
import Korvanta

// The main window: the toolbar over the screen of the workflow state, drops anywhere on it,
// the choosers, the alerts, the guide and the transient messages.
ApplicationWindow {
    id: window

    property var initialPaths: []
    // The window's controller and its song list, made before anything that shows them.
    readonly property ContentView contentView: ContentView {}
    readonly property SongListModel songList: SongListModel { batchProcessor: window.contentView.batchProcessor }

    width: 500
    height: 450
    minimumWidth: 500
    minimumHeight: 450
    visible: true
    title: "Korvanta"
    color: ThemeManager.currentTheme.background
    // Controls and dialogs take their colours from the theme too.
    palette.window: ThemeManager.currentTheme.background
    palette.windowText: ThemeManager.currentTheme.textPrimary
    palette.base: ThemeManager.currentTheme.cardBackground
    palette.alternateBase: ThemeManager.currentTheme.backgroundSecondary
    palette.text: ThemeManager.currentTheme.textPrimary
    palette.button: ThemeManager.currentTheme.elementBackground
    palette.buttonText: ThemeManager.currentTheme.textPrimary
    palette.brightText: ThemeManager.currentTheme.textPrimary
    palette.placeholderText: ThemeManager.currentTheme.textSecondary
    palette.highlight: ThemeManager.currentTheme.primary
    palette.highlightedText: ThemeManager.labelColorOn(ThemeManager.currentTheme.primary)
    palette.light: Qt.lighter(ThemeManager.currentTheme.elementBackground, 1.6)
    palette.midlight: Qt.tint(ThemeManager.currentTheme.elementBackground, Theme.alpha(ThemeManager.currentTheme.textSecondary, 0.35))
    palette.mid: ThemeManager.currentTheme.textSecondary
    palette.dark: ThemeManager.currentTheme.primary
    palette.shadow: "#000000"
    palette.link: ThemeManager.currentTheme.accent
    palette.toolTipBase: ThemeManager.currentTheme.backgroundSecondary
    palette.toolTipText: ThemeManager.currentTheme.textPrimary

    header: AppToolbar { controller: window.contentView }

    Loader {
        id: screen
        anchors.fill: parent
        focus: true
        sourceComponent: window.contentView.appState === "processing" ? processingScreen
                       : window.contentView.appState === "result" ? resultScreen : importScreen
    }
    Component {
        id: importScreen
        ImportFilesView { controller: window.contentView; songs: window.songList }
    }
    Component {
        id: processingScreen
        ProcessingView { controller: window.contentView; songs: window.songList }
    }
    Component {
        id: resultScreen
        ResultView { controller: window.contentView; songs: window.songList }
    }

    // Drops land on the whole window.
    DropArea {
        anchors.fill: parent
        keys: ["text/uri-list"]
        onEntered: (drag) => {
            window.contentView.dragOver = true
            drag.accept(Qt.CopyAction)
        }
        onExited: window.contentView.dragOver = false
        onDropped: (drop) => {
            window.contentView.dragOver = false
            window.contentView.handleDroppedItems(drop.urls)
            drop.accept(Qt.CopyAction)
        }
    }

    FileDialog {
        id: fileChooser
        title: "Add Songs"
        fileMode: FileDialog.OpenFiles
        nameFilters: ["Audio files (*.mp3 *.wav *.aiff *.aif *.m4a *.flac *.ogg *.aac *.MP3 *.WAV *.AIFF *.AIF *.M4A *.FLAC *.OGG *.AAC)",
                      "All files (*)"]
        onAccepted: window.contentView.filesChosen(fileChooser.selectedFiles)
        onRejected: window.contentView.isImportingFiles = false
    }
    FolderDialog {
        id: folderChooser
        title: "Choose a Folder of Songs"
        onAccepted: window.contentView.folderChosen([folderChooser.selectedFolder])
        onRejected: window.contentView.isImportingFolder = false
    }
    Connections {
        target: window.contentView
        function onIsImportingFilesChanged() { if (window.contentView.isImportingFiles) fileChooser.open() }
        function onIsImportingFolderChanged() { if (window.contentView.isImportingFolder) folderChooser.open() }
    }

    AlertDialog { controller: window.contentView }

    GuideSheet {
        id: guide
        visible: window.contentView.showInfoPanel
        onClosed: window.contentView.showInfoPanel = false
    }

    ToastOverlay {
        anchors.fill: parent
        z: 100
    }

    Connections {
        target: SettingsWindowManager
        function onDataCleaned() { cleanedToast.restart() }
    }
    Timer {
        id: cleanedToast
        interval: 200
        onTriggered: ToastManager.show("All data cleaned\nApp restored to default state", ToastManager.success, 3.0)
    }

    Component.onCompleted: {
        window.contentView.appear()
        if (window.initialPaths.length > 0) window.contentView.importPaths(window.initialPaths)
    }
    onClosing: window.contentView.disappear()
}
