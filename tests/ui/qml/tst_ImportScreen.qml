import QtQuick
import QtTest
import Korvanta

// The import screen: "MASTER SONGS!" only with a selected song, by mouse and by keyboard.
Item {
    id: root
    width: 500
    height: 450

    ContentView { id: workflow }
    SongListModel { id: songList; batchProcessor: workflow.batchProcessor }
    Component {
        id: screen
        ImportFilesView { anchors.fill: parent; controller: workflow; songs: songList }
    }

    TestCase {
        name: "ImportScreen"
        when: windowShown

        function test_masterSongsWaitsForASelectedSong() {
            const view = createTemporaryObject(screen, root)
            const button = findChild(view, "masterSongsButton")
            verify(button)
            compare(button.enabled, false, "nothing imported")

            workflow.importPaths([testSupport.songFolder(2)])
            tryCompare(songList, "count", 2, 10000)
            tryCompare(workflow.batchProcessor, "isAddingFiles", false, 10000)
            compare(findChild(view, "selectedCount").text, "2")
            compare(button.enabled, true)

            workflow.batchProcessor.toggleSelection(0)
            compare(button.enabled, true, "one song still selected")
            workflow.batchProcessor.toggleSelection(1)
            compare(findChild(view, "selectedCount").text, "0")
            compare(button.enabled, false, "0 selected")

            workflow.batchProcessor.toggleSelection(1)
            let started = false
            const onState = () => { if (workflow.appState === "processing") started = true }
            workflow.appStateChanged.connect(onState)
            button.forceActiveFocus()
            keyClick(Qt.Key_Space)
            tryVerify(() => started, 5000, "Space on the focused button starts the batch")
            workflow.appStateChanged.disconnect(onState)
            tryCompare(workflow, "appState", "result", 30000)
            workflow.deleteAllAndStartOver()
            tryCompare(songList, "count", 0, 5000)
        }
    }
}
