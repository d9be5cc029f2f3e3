import QtQuick
import Korvanta

// A symbol by its name ("trash", "wand.and.stars", …) drawn from the icon font in a square of
// `size` pixels; an unknown name draws nothing.
Item {
    id: root

    property string name
    property int size: 16
    property alias color: glyph.color

    implicitWidth: root.size
    implicitHeight: root.size
    Accessible.ignored: true

    Text {
        id: glyph
        anchors.centerIn: parent
        text: Icons.glyph(root.name)
        font.family: Icons.fontFamily
        font.pixelSize: root.size
    }
}
