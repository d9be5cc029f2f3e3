pragma Singleton
import QtQuick
import Korvanta
// Fonts, sizes, spacings and durations every screen shares; the colours live in
// ThemeManager.currentTheme.
QtObject {
    // Inter when it is installed, the system's font otherwise.
    readonly property string fontFamily: AppFonts.text
    readonly property int fontTiny: 9
    readonly property int fontCaption: 11
    readonly property int fontSmall: 12
    readonly property int fontRow: 13
    readonly property int fontBody: 14
    readonly property int fontButton: 16
    readonly property int fontTitle: 20
    readonly property int spacing: 8
    readonly property int standardPadding: 20
    readonly property int radius: 12
    readonly property int radiusSmall: 6
    readonly property int fast: 150
    readonly property int normal: 300
    readonly property color onAccent: "#ffffff"
    function alpha(c, a) { return Qt.rgba(c.r, c.g, c.b, a) }
}
