import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// The delivery figures of a song card: true peak and LUFS (R128) of both columns, the gain each
// streaming service applies to the right column, and the warning of the check after encoding.
// `figures` is the card's model entry (the ResultViewModel roles).
ColumnLayout {
    id: root

    property var figures

    QtObject {
        id: prv
        function text(name: string): string {
            return root.figures && root.figures[name] !== undefined ? root.figures[name] : ""
        }
    }

    spacing: 1
    Text {
        Layout.fillWidth: true
        objectName: "deliveryFigures"
        text: "TRUE PEAK " + prv.text("leftTruePeak") + " | " + prv.text("rightTruePeak") + " dBTP   "
              + "LUFS (R128) " + prv.text("leftLufsR128") + " | " + prv.text("rightLufsR128")
        elide: Text.ElideRight
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontTiny
        font.weight: Font.DemiBold
        color: ThemeManager.currentTheme.textSecondary
    }
    Text {
        id: penalties
        Layout.fillWidth: true
        objectName: "penaltyRow"
        text: prv.text("penaltyRow")
        visible: text !== ""
        elide: Text.ElideRight
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontTiny
        color: ThemeManager.currentTheme.textSecondary
        HoverHandler { id: penaltyHover }
        ToolTip.visible: penaltyHover.hovered && penalties.truncated
        ToolTip.text: "Playback gain by service, dB: " + penalties.text
    }
    Text {
        Layout.fillWidth: true
        objectName: "encodingWarning"
        text: prv.text("encodingWarning")
        visible: text !== ""
        elide: Text.ElideRight
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontTiny
        font.weight: Font.DemiBold
        color: ThemeManager.currentTheme.warning
    }
}
