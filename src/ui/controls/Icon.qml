import QtQuick
import Korvanta

// A symbol by its name ("trash", "wand.and.stars", …) drawn from the icon font, `size` pixels
// square; an unknown name draws nothing.
Text {
    id: root

    property string name
    property int size: 16

    implicitWidth: root.size
    implicitHeight: root.size
    text: Icons.glyph(root.name)
    font.family: Icons.fontFamily
    font.pixelSize: root.size
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    Accessible.ignored: true
}
