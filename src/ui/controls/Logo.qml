import QtQuick
import QtQuick.Shapes
import Korvanta

// The application's mark: a rising waveform in a rounded square.
Item {
    id: root
    implicitWidth: 64
    implicitHeight: 64
    readonly property real pw: root.width * 0.6
    readonly property real ph: root.height * 0.6

    Rectangle {
        anchors.fill: parent
        radius: width * 0.24
        gradient: Gradient {
            orientation: Gradient.Vertical
            GradientStop { position: 0.0; color: ThemeManager.currentTheme.primary }
            GradientStop { position: 1.0; color: ThemeManager.currentTheme.accent }
        }
    }
    Shape {
        anchors.fill: parent
        anchors.margins: root.width * 0.2
        ShapePath {
            strokeColor: Theme.onAccent
            strokeWidth: Math.max(1.5, root.width * 0.075)
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            joinStyle: ShapePath.RoundJoin
            startX: 0; startY: root.ph * 0.62
            PathLine { x: root.pw * 0.16; y: root.ph * 0.62 }
            PathLine { x: root.pw * 0.28; y: root.ph * 0.30 }
            PathLine { x: root.pw * 0.42; y: root.ph * 0.85 }
            PathLine { x: root.pw * 0.56; y: root.ph * 0.12 }
            PathLine { x: root.pw * 0.70; y: root.ph * 0.70 }
            PathLine { x: root.pw * 0.82; y: root.ph * 0.42 }
            PathLine { x: root.pw; y: root.ph * 0.42 }
        }
    }
}
