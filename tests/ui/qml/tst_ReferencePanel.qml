import QtQuick
import QtTest
import Korvanta

// The reference panel's two states and its buttons.
Item {
    id: root
    width: 350
    height: 180

    Component {
        id: panel
        ReferenceTrackView { anchors.fill: parent }
    }

    TestCase {
        name: "ReferencePanel"
        when: windowShown

        function test_aLoadedReferenceShowsItsNameUntilCleared() {
            testSupport.storeReference(5.0)
            const reference = testSupport.referenceOf(testSupport.eqManager(-14, -3))
            testSupport.storeReference(-1)
            const view = createTemporaryObject(panel, root, { manager: reference })
            verify(view)
            const name = findChild(view, "referenceName")
            verify(name.visible)
            compare(name.text, "reference.wav")
            verify(!findChild(view, "dropText").visible)
            const clear = findChild(view, "clearReference")
            compare(clear.text, "Clear Reference")
            mouseClick(clear)
            verify(!reference.hasReference)
            verify(!clear.visible)
            const drop = findChild(view, "dropText")
            verify(drop.visible)
            compare(drop.text, "Drag & drop audio file")
            compare(findChild(view, "closeWindow").text, "Close Window")
        }
    }
}
