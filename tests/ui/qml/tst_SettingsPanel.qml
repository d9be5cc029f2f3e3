import QtQuick
import QtTest
import Korvanta

// The settings panel's preset cards: exactly the card of the current settings is selected.
Item {
    id: root
    width: 420
    height: 700

    ContentView { id: workflow }
    Component {
        id: panel
        SettingsView {
            anchors.fill: parent
            manager: SettingsWindowManager
            model: testSupport.settingsModel(workflow.settingsManager, workflow.batchProcessor)
        }
    }

    TestCase {
        name: "SettingsPanel"
        when: windowShown

        function selected(view) {
            return ["Events", "Radio", "Club", "Festival"].filter(t => findChild(view, "preset-" + t).isSelected)
        }

        function test_tappedCardBecomesTheOnlySelectedOne() {
            const view = createTemporaryObject(panel, root)
            for (const title of ["Festival", "Radio"]) {
                const card = findChild(view, "preset-" + title)
                verify(card, title)
                mouseClick(card)
                compare(selected(view), [title])
            }
            compare(workflow.settingsManager.targetLoudness, -14.0)

            // Keyboard: Tab to a card, Enter selects it.
            const club = findChild(view, "preset-Club")
            club.forceActiveFocus()
            keyClick(Qt.Key_Return)
            compare(selected(view), ["Club"])
        }

        function test_choosingAThemeRedrawsWhatIsOnScreen() {
            const view = createTemporaryObject(panel, root)
            const before = grabImage(root)
            const background = String(ThemeManager.currentTheme.cardBackground)
            mouseClick(findChild(view, "theme-ocean"))
            tryCompare(ThemeManager, "currentThemeId", "ocean")
            verify(String(ThemeManager.currentTheme.cardBackground) !== background, background)
            tryVerify(() => !grabImage(root).equals(before), 2000, "the open panel is drawn again in the new colours")
            ThemeManager.applyTheme("original")
        }
    }
}
