import QtQuick
import QtTest
import Korvanta

// The equaliser panel: band picking and gain mapping on the graph, the AUTO readout and its
// automatic gain, RESET, the knobs, the texts and the drawn response.
Item {
    id: root
    width: 600
    height: 500

    Component {
        id: viewComponent
        EqualizerView {
            anchors.fill: parent
        }
    }

    TestCase {
        name: "Equalizer"
        when: windowShown

        // A view over a fresh manager whose player plays a file of `lufs` and `peak`.
        function makeView(lufs, peak) {
            testSupport.removeStored("EQSettings")
            testSupport.removeStored("ActiveEQSettings")
            const manager = testSupport.eqManager(lufs, peak)
            const view = createTemporaryObject(viewComponent, root, { manager: manager, player: manager.audioPlayer })
            verify(view)
            waitForRendering(view)
            return view
        }
        function graphArea(view) { return findChild(view, "graphArea") }
        function gains(view) { return view.eqModel.tempBandValues }
        // Presses at (x, y), moves through `ys` with the button held and lets go at the last.
        function drag(area, x, y, ...ys) {
            mousePress(area, x, y)
            for (const to of ys) mouseMove(area, x, to, -1, Qt.LeftButton)
            mouseRelease(area, x, ys[ys.length - 1])
        }

        function test_aPointerHalfWayBetweenTwoBandsPicksTheHigherOne() {
            const view = makeView(-14, -3)
            const m = view.eqModel
            const cases = [
                { x: 0, band: 0 }, { x: 19.99, band: 0 }, { x: 20, band: 1 }, { x: 60, band: 2 },
                { x: 59.9, band: 1 }, { x: 440, band: 11 }, { x: 500, band: 11 }, { x: -30, band: 0 },
            ]
            for (const c of cases) compare(m.bandIndexAt(c.x, 440, 12), c.band, "x = " + c.x)

            // On the graph: a press half-way between bands 3 and 4 drags band 4.
            const area = graphArea(view)
            const spacing = area.width / 11
            mousePress(area, 3.5 * spacing, area.height / 2)
            compare(m.draggedBandIndex, 4)
            verify(m.isDragging)
            mouseRelease(area, 3.5 * spacing, area.height / 2)
            compare(m.draggedBandIndex, -1)
            verify(!m.isDragging)
        }

        function test_theTopAndBottomEdgesSetTenDecibelsAndPositionsBeyondThemAreIgnored() {
            const view = makeView(-14, -3)
            const m = view.eqModel
            const area = graphArea(view)
            const x = 2 * area.width / 11
            mousePress(area, x, 0)
            compare(gains(view)[2], 10.0, "the very top is +10 dB")
            compare(view.manager.eqSettings.bands[2].gain, 0.0, "the record waits for the drag's end")
            compare(testSupport.playerGain(view.player, 2), 10.0, "the player hears the drag at once")
            mouseMove(area, x, -20, -1, Qt.LeftButton)
            compare(gains(view)[2], 10.0, "beyond the top nothing changes")
            mouseMove(area, x, area.height, -1, Qt.LeftButton)
            compare(gains(view)[2], -10.0, "the very bottom is -10 dB")
            mouseMove(area, x, area.height + 30, -1, Qt.LeftButton)
            compare(gains(view)[2], -10.0)
            mouseRelease(area, x, area.height)
            compare(view.manager.eqSettings.bands[2].gain, -10.0, "written at the drag's end")
            compare(testSupport.storedEQ("EQSettings").bands[2].gain, -10.0)
            verify(m.shouldPulseRemaster, "REMASTER pulses after a drag")
            compare(findChild(view, "bandGain2").text, "-10.0dB")
            // The gain mapping in between.
            compare(m.gainForY(25, 100), 5.0)
            compare(m.gainForY(50, 100), 0.0)
            compare(m.masterGainForY(0, 200), 10.0)
            compare(m.masterGainForY(150, 200), -5.0)
            compare(m.masterGainForY(260, 200), -10.0)
        }

        function test_autoGainNeverLiftsAPeakOfMinusOneAboveMinusPointTwo() {
            const view = makeView(-14, -1.0)
            const m = view.eqModel
            m.presetTargetLUFS = -8
            view.manager.writeSettings({ isEnabled: true })
            compare(m.autoText, "0.0dB", "nothing changed yet")
            compare(m.autoTier, -1)
            mouseClick(findChild(view, "autoButton"))
            fuzzyCompare(view.manager.eqSettings.masterGain, 0.8, 1e-5, "the loudness wants +6 dB, the peak allows +0.8")
            fuzzyCompare(testSupport.storedEQ("ActiveEQSettings").masterGain, 0.8, 1e-5, "stored as active too")
            fuzzyCompare(testSupport.storedEQ("EQSettings").masterGain, 0.8, 1e-5)
            compare(findChild(view, "masterGainText").text, "+0.8 dB")
            // −8 − (−14 + 0.8) = 5.2: the far tier.
            compare(m.autoText, "+5.2dB")
            compare(m.autoTier, 3)

            // A quiet preset: the gain goes down to the target.
            m.presetTargetLUFS = -16
            m.applyAutoGain()
            fuzzyCompare(view.manager.eqSettings.masterGain, -2.0, 1e-5)
            compare(m.autoText, "OK")
            compare(m.autoTier, 0)
        }

        function test_resetKeepsTheEqualiserOnAndLeavesOnlyTheWorkingCopyStored() {
            const view = makeView(-14, -3)
            const gains = []
            for (let i = 0; i < 12; ++i) gains.push(i % 2 ? 3.0 : -2.0)
            view.manager.writeSettings({ isEnabled: true, bands: gains, masterGain: 2.5,
                                         stereoEnhancementEnabled: true, stereoWidth: 1.6 })
            view.eqModel.applyAutoGain()
            verify(testSupport.storedEQ("ActiveEQSettings").isEnabled !== undefined)
            mouseClick(findChild(view, "resetButton"))
            const s = view.manager.eqSettings
            verify(s.isEnabled, "RESET keeps the equaliser on")
            for (const band of s.bands) compare(band.gain, 0.0)
            compare(s.masterGain, 0.0)
            verify(!s.stereoEnhancementEnabled)
            compare(s.stereoWidth, 1.0)
            compare(view.eqModel.tempBandValues[1], 0.0)
            compare(Object.keys(testSupport.storedEQ("ActiveEQSettings")).length, 0, "the active record is gone")
            verify(testSupport.storedEQ("EQSettings").isEnabled, "the change callback stores the reset record again")
        }

        function test_knobsToggleOnATapAndStopAtTheirLimits() {
            const view = makeView(-14, -3)
            const m = view.eqModel
            const knob = findChild(view, "sideKnob")
            const area = findChild(knob, "knobArea")
            compare(findChild(knob, "knobText").text, "0%")
            drag(area, 30, 60, 20)
            compare(m.stereoWidth, 1.0, "off: a drag changes nothing")
            verify(!m.stereoEnabled)
            mouseClick(area, 30, 40)
            verify(m.stereoEnabled, "a tap switches it on")
            drag(area, 30, 80, 70, -20)
            fuzzyCompare(m.stereoWidth, 1.5, 1e-6, "100 points up: half the range")
            compare(findChild(knob, "knobText").text, "50%")
            drag(area, 30, 80, 70, -300)
            compare(m.stereoWidth, 2.0, "never above 2.0")
            compare(findChild(knob, "knobText").text, "100%")
            drag(area, 30, 10, 20, 900)
            compare(m.stereoWidth, 1.0, "never below 1.0")
            compare(view.manager.eqSettings.stereoWidth, 1.0)
            // Space switches the focused knob.
            const mid = findChild(view, "midKnob")
            mid.forceActiveFocus()
            keyClick(Qt.Key_Space)
            verify(m.midEnabled)
            keyClick(Qt.Key_Up)
            fuzzyCompare(m.midAmount, 1.05, 1e-6)
            compare(m.knobText(1.999), "99%")
        }

        function test_labelsReadAsTheBandsAreNamed() {
            const view = makeView(-14, -3)
            const m = view.eqModel
            const labels = ["32", "63", "125", "250", "500", "1k", "2k", "4k", "8k", "12k", "16k", "20k"]
            for (let i = 0; i < 12; ++i) compare(findChild(view, "bandFrequency" + i).text, labels[i])
            compare(m.frequencyLabel(6300), "6.3k")
            compare(m.frequencyLabel(1500), "1.5k")
            compare(m.frequencyLabel(62.7), "63")
            compare(m.bandGainText(3.5), "+3.5dB")
            compare(m.bandGainText(0), "+0.0dB")
            compare(m.bandGainText(-2), "-2.0dB")
            compare(m.masterGainText(-10), "-10.0 dB")
            compare(findChild(view, "refButton").text, "NO REF")
            verify(!findChild(view, "refDot").visible)
        }

        function test_refApplyTogglesMatchedGainsWithItsDot() {
            testSupport.storeReference(5.0)
            const view = makeView(-14, -3)
            testSupport.storeReference(-1)
            const reference = testSupport.referenceOf(view.manager)
            testSupport.setMasteredSpectrum(reference, 4.0)
            const button = findChild(view, "refButton")
            const dot = findChild(view, "refDot")
            compare(button.text, "REF APPLY")
            verify(!dot.visible)
            mouseClick(button)
            verify(dot.visible, "the green dot shows matched gains")
            verify(view.eqModel.isAutoReferenceMode)
            for (let i = 0; i < 12; ++i) compare(view.eqModel.tempBandValues[i], 1.0)
            verify(view.eqModel.shouldPulseRemaster)
            compare(findChild(view, "curve").showSpectra, true, "both spectra are drawn over the graph")
            mouseClick(button)
            verify(!dot.visible)
            for (let i = 0; i < 12; ++i) compare(view.eqModel.tempBandValues[i], 0.0)
            reference.clearReference()
            compare(button.text, "NO REF")
            mouseClick(button)
            verify(!view.eqModel.isAutoReferenceMode, "without a reference nothing happens")
        }

        function test_theCurveIsTheFiltersResponse() {
            const view = makeView(-14, -3)
            const gains = [0, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0]
            view.manager.writeSettings({ bands: gains })
            const curve = findChild(view, "curve")
            const x = 5 * curve.width / 11
            fuzzyCompare(curve.responseAt(x), 6.0, 0.01, "a peaking band reaches its gain at its centre")
            verify(curve.responseAt(4 * curve.width / 11) < 3.0, "and falls off an octave away")
            view.manager.writeSettings({ bands: [0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.08] })
            compare(curve.responseAt(curve.width), 0.0, "bands within 0.1 dB are not filtered, as in the engine")
        }
    }
}
