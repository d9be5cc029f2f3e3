import QtQuick
import QtQuick.Window
import Korvanta

Window {
    id: root
    width: 500
    height: 450
    visible: true
    title: "Korvanta"
    Text { anchors.centerIn: parent; text: ReferenceTrackManager.hasReference ? "ref" : "no ref" }
}
