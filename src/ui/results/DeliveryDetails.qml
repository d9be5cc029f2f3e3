import QtQuick
import QtQuick.Controls
import Korvanta

// The delivery line of a song card: true peak and LUFS (R128) of both columns, marked when the
// check after encoding warned. Its details (hover, or keyboard focus): the gain each streaming
// service applies to the right column, and that warning. `figures` is the card's model entry
// (the ResultViewModel roles).
Item {
    id: root

    property var figures

    QtObject {
        id: prv
        function text(name: string): string {
            return root.figures && root.figures[name] !== undefined ? root.figures[name] : ""
        }
        readonly property string warning: prv.text("encodingWarning")
        readonly property string penalties: prv.text("penaltyRow")
    }

    implicitHeight: line.implicitHeight
    activeFocusOnTab: true
    Accessible.role: Accessible.StaticText
    Accessible.name: line.text + ". " + prv.penalties + ". " + prv.warning

    Text {
        id: line
        objectName: "deliveryFigures"
        anchors.left: parent.left
        anchors.right: parent.right
        text: (prv.warning !== "" ? "\u26a0 " : "")
              + "TP " + prv.text("leftTruePeak") + " | " + prv.text("rightTruePeak") + " dBTP  \u00b7  "
              + "LUFS (R128) " + prv.text("leftLufsR128") + " | " + prv.text("rightLufsR128")
        elide: Text.ElideRight
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontTiny
        font.weight: Font.DemiBold
        color: prv.warning !== "" ? ThemeManager.currentTheme.warning : ThemeManager.currentTheme.textSecondary
    }
    HoverHandler { id: hover }
    ToolTip.visible: (hover.hovered || root.activeFocus) && prv.penalties !== ""
    ToolTip.text: "Playback gain by service, dB:\n" + prv.penalties.split(" \u00b7 ").join("\n")
                  + (prv.warning !== "" ? "\n\n" + prv.warning : "")
}
