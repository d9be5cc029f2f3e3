import QtQuick
Text {
    property string name
    property int size: 16
    font.family: "Material Icons"
    font.pixelSize: size
    text: ({"trash":"\ue872","gearshape":"\ue8b8","info.circle":"\ue88e","music.note.list":"\ue03d","wand.and.stars":"\ue663",
           "checkmark.square.fill":"\ue834","square":"\ue835","xmark.circle.fill":"\ue5c9","xmark.circle":"\ue5c9","clock.fill":"\ue8b5",
           "checkmark.seal.fill":"\uef76","square.and.arrow.up":"\ue2c6","checkmark.circle":"\ue86c","folder":"\ue2c7","doc.badge.plus":"\ue89c"})[name] || ""
}
