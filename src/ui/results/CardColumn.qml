import QtQuick
import QtQuick.Layouts
import Korvanta

// One side of a song card: what it plays (original, master or final) and its figures.
ColumnLayout {
    id: root

    property string label
    property color modeColor
    property string lufs
    property string rms
    property string peak
    property string stereo

    spacing: 3
    Text {
        text: root.label
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontTiny
        font.weight: Font.Black
        font.letterSpacing: 1.0
        color: root.modeColor
    }
    FigureRow { Layout.fillWidth: true; label: "LUFS"; value: root.lufs; tint: ThemeManager.currentTheme.lufsColor }
    FigureRow { Layout.fillWidth: true; label: "RMS"; value: root.rms; tint: ThemeManager.currentTheme.rmsColor }
    FigureRow { Layout.fillWidth: true; label: "PEAK"; value: root.peak; tint: ThemeManager.currentTheme.peakColor }
    FigureRow { Layout.fillWidth: true; label: "STEREO"; value: root.stereo; tint: ThemeManager.currentTheme.stereoColor }
}
