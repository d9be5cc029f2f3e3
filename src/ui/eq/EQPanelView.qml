import QtQuick
import Korvanta

// The "Custom Equalizer" panel's content: the equaliser view over the manager's record.
Item {
    id: root

    required property EQManager manager
    required property AudioPlayerManager player

    implicitWidth: 600
    implicitHeight: 500

    EqualizerView {
        anchors.fill: parent
        manager: root.manager
        // The player the manager follows now (the results screen may link another).
        player: root.manager.audioPlayer ? root.manager.audioPlayer : root.player
        reference: ReferenceTrackManager
    }
}
