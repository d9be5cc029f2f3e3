import QtQuick
import QtQuick.Layouts
import Korvanta

// One side of a song card: what it plays (original, master or final), its play button and its
// figures.
ColumnLayout {
    id: root

    property string label
    property color modeColor
    property string lufs
    property string rms
    property string peak
    property string stereo
    // This side is the one playing.
    property bool playing: false
    // The level-matching gain this side plays with ("+4.2 dB"), or "".
    property string gainText

    signal togglePlay()

    spacing: 3
    RowLayout {
        Layout.fillWidth: true
        spacing: 2
        IconButton {
            objectName: "playButton"
            iconName: root.playing ? "pause.fill" : "play.fill"
            size: Theme.fontBody
            tint: root.modeColor
            accessibleName: (root.playing ? "Pause " : "Play ") + root.label
            onClicked: root.togglePlay()
        }
        Text {
            text: root.label
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontTiny
            font.weight: Font.Black
            font.letterSpacing: 1.0
            color: root.modeColor
        }
        Item { Layout.fillWidth: true }
        Text {
            objectName: "matchGain"
            visible: root.gainText !== ""
            text: root.gainText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontTiny
            font.weight: Font.DemiBold
            color: ThemeManager.currentTheme.textSecondary
        }
    }
    FigureRow { Layout.fillWidth: true; label: "LUFS"; value: root.lufs; tint: ThemeManager.currentTheme.lufsColor }
    FigureRow { Layout.fillWidth: true; label: "RMS"; value: root.rms; tint: ThemeManager.currentTheme.rmsColor }
    FigureRow { Layout.fillWidth: true; label: "PEAK"; value: root.peak; tint: ThemeManager.currentTheme.peakColor }
    FigureRow { Layout.fillWidth: true; label: "STEREO"; value: root.stereo; tint: ThemeManager.currentTheme.stereoColor }
}
