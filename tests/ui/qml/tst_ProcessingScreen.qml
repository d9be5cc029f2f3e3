import QtQuick
import QtTest
import Korvanta

// The processing screen follows the batch: the counter counts up and rows leave as songs finish.
Item {
    id: root
    width: 500
    height: 450

    ContentView { id: workflow }
    SongListModel { id: songList; batchProcessor: workflow.batchProcessor }
    Component {
        id: screen
        ProcessingView { anchors.fill: parent; controller: workflow; songs: songList }
    }

    TestCase {
        name: "ProcessingScreen"
        when: windowShown

        function test_counterAndRowsFollowTheBatch() {
            workflow.importPaths([testSupport.songFolder(3)])
            tryCompare(songList, "count", 3, 10000)
            tryCompare(workflow.batchProcessor, "isAddingFiles", false, 10000)
            workflow.batchProcessor.toggleSelection(2)  // left out: never a row

            const view = createTemporaryObject(screen, root)
            const counter = findChild(view, "counter")
            const rows = findChild(view, "processingRows")
            tryCompare(rows, "count", 2, 2000)
            compare(counter.text, "1/2")

            const counts = []
            const texts = []
            rows.countChanged.connect(() => counts.push(rows.count))
            counter.textChanged.connect(() => texts.push(counter.text))
            workflow.startMasteringProcess()
            tryCompare(workflow, "appState", "result", 30000)

            compare(counts, [1], "the first row leaves when the second song starts; the last stays until the results")
            verify(texts.indexOf("2/2") >= 0, "counter reached the second song: " + texts)
            compare(workflow.batchProcessor.completedCount, 2)
            workflow.deleteAllAndStartOver()
        }
    }
}
