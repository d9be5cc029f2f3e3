import QtQuick
import Korvanta

// A stereo (SIDE) or mid (MID) knob: a tap switches it on or off, an upward drag raises its value
// while it is on. Space toggles, Up/Down change by 5 %.
Item {
    id: root

    required property string label
    required property string which
    required property EqualizerModel eq
    required property bool isOn
    required property real value
    readonly property var theme: ThemeManager.currentTheme

    implicitWidth: 64
    implicitHeight: 84
    activeFocusOnTab: true
    Accessible.role: Accessible.Dial
    Accessible.name: root.label + " " + root.eq.knobText(root.value) + (root.isOn ? "" : " off")

    QtObject {
        id: prv
        property bool moved: false
        property real pressY: 0
    }

    Keys.onSpacePressed: root.eq.tapKnob(root.which)
    Keys.onReturnPressed: root.eq.tapKnob(root.which)
    Keys.onUpPressed: { root.eq.dragKnob(root.which, 0); root.eq.dragKnob(root.which, -10); root.eq.endKnobDrag(root.which) }
    Keys.onDownPressed: { root.eq.dragKnob(root.which, 0); root.eq.dragKnob(root.which, 10); root.eq.endKnobDrag(root.which) }

    Canvas {
        id: dial
        width: 48
        height: 48
        anchors.horizontalCenter: parent.horizontalCenter
        readonly property real fraction: Math.max(0, Math.min(1, root.value - 1))
        onFractionChanged: requestPaint()
        Connections {
            target: root
            function onIsOnChanged() { dial.requestPaint() }
            function onThemeChanged() { dial.requestPaint() }
        }
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            const c = width / 2
            const start = Math.PI * 0.75
            const sweep = Math.PI * 1.5
            ctx.lineWidth = 4
            ctx.lineCap = "round"
            ctx.strokeStyle = root.theme.elementBackground
            ctx.beginPath()
            ctx.arc(c, c, c - 4, start, start + sweep)
            ctx.stroke()
            ctx.strokeStyle = root.isOn ? root.theme.eqMode : root.theme.textSecondary
            ctx.beginPath()
            ctx.arc(c, c, c - 4, start, start + sweep * Math.max(0.001, dial.fraction))
            ctx.stroke()
        }
        Text {
            anchors.centerIn: parent
            objectName: "knobText"
            text: root.eq.knobText(root.value)
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontCaption
            color: root.isOn ? root.theme.textPrimary : root.theme.textSecondary
        }
        Rectangle {
            anchors.fill: parent
            radius: width / 2
            color: "transparent"
            border.width: root.activeFocus ? 2 : 0
            border.color: root.theme.textPrimary
        }
    }
    Text {
        anchors.top: dial.bottom
        anchors.topMargin: 4
        anchors.horizontalCenter: parent.horizontalCenter
        text: root.label
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontCaption
        font.weight: Font.Bold
        color: root.isOn ? root.theme.eqMode : root.theme.textSecondary
    }

    MouseArea {
        objectName: "knobArea"
        anchors.fill: parent
        hoverEnabled: true
        preventStealing: true
        cursorShape: root.isOn ? Qt.SizeVerCursor : Qt.ArrowCursor
        onPressed: (mouse) => { prv.moved = false; prv.pressY = mouse.y }
        onPositionChanged: (mouse) => {
            if (!pressed) return
            if (!prv.moved && Math.abs(mouse.y - prv.pressY) < 2) return
            if (!prv.moved) root.eq.dragKnob(root.which, prv.pressY)  // the drag starts where it was pressed
            prv.moved = true
            root.eq.dragKnob(root.which, mouse.y)
        }
        onReleased: {
            if (prv.moved) root.eq.endKnobDrag(root.which)
            else root.eq.tapKnob(root.which)
        }
    }
}
