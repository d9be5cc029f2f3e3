pragma Singleton
import QtQuick
QtObject {
    property QtObject currentTheme: QtObject {
        property color primary: "#6c5ce7"; property color secondary: "#a29bfe"; property color accent: "#fd9644"
        property color background: "#0f1222"; property color backgroundSecondary: "#161a2e"; property color cardBackground: "#1c2139"
        property color elementBackground: "#262c4a"; property color textPrimary: "#f1f2f8"; property color textSecondary: "#a7abc3"
        property color success: "#2ecc71"; property color warning: "#f1c40f"; property color error: "#ff5e57"; property color info: "#48dbfb"
        property color lufsColor: "#48dbfb"; property color rmsColor: "#a29bfe"; property color peakColor: "#ff9f43"; property color stereoColor: "#1dd1a1"
        property color originalMode: "#2ecc71"; property color masterMode: "#fd9644"; property color finalMode: "#ff6b81"; property color eqMode: "#48dbfb"
    }
}
