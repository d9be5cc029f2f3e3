import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// One mastered song: its name and, side by side, the figures of the two versions it compares.
Item {
    id: root

    required property int index
    required property string songId
    required property string filename
    required property bool showSeal
    required property string leftLabel
    required property string rightLabel
    required property string leftLufs
    required property string leftRms
    required property string leftPeak
    required property string leftStereo
    required property string rightLufs
    required property string rightRms
    required property string rightPeak
    required property string rightStereo
    required property string bpm
    required property bool isLeaving
    required property real appearDelay
    property bool isFinalMode: false
    // The screen's listening model; null while the card is only shown.
    property ResultPlayback playback: null
    required property var model

    QtObject {
        id: prv
        property bool appeared: false
        readonly property bool current: root.playback !== null && root.playback.playingFileIndex === root.index
        readonly property bool leftPlaying: prv.current && root.playback.playingOriginal
        readonly property bool rightPlaying: prv.current && !root.playback.playingOriginal
        // Depends on matchLevel, so that the text follows the toggle.
        readonly property string leftGain: root.playback !== null && root.playback.matchLevel
                                           ? root.playback.matchGainText(root.index) : ""
    }
    Timer {
        interval: root.appearDelay * 1000
        running: true
        onTriggered: prv.appeared = true
    }

    opacity: prv.appeared && !root.isLeaving ? 1 : 0
    scale: root.isLeaving ? 0.85 : (prv.appeared ? 1 : 0.92)
    Behavior on opacity { NumberAnimation { duration: Theme.normal; easing.type: Easing.OutCubic } }
    Behavior on scale { SpringAnimation { spring: 3; damping: 0.3 } }

    Rectangle {
        id: card
        anchors.fill: parent
        anchors.margins: 5
        radius: Theme.radius
        color: ThemeManager.currentTheme.cardBackground
        border.width: 1
        border.color: Theme.alpha(ThemeManager.currentTheme.textSecondary, 0.18)

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: 10
            spacing: 6

            RowLayout {
                Layout.fillWidth: true
                spacing: 4
                Icon {
                    visible: root.showSeal
                    name: "checkmark.seal.fill"
                    size: Theme.fontBody
                    color: ThemeManager.currentTheme.success
                }
                Text {
                    Layout.fillWidth: true
                    text: root.filename
                    elide: Text.ElideMiddle
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontSmall
                    font.weight: Font.DemiBold
                    color: ThemeManager.currentTheme.textPrimary
                }
                Text {
                    visible: root.bpm !== ""
                    text: root.bpm
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontTiny
                    font.weight: Font.DemiBold
                    color: ThemeManager.currentTheme.textSecondary
                }
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: 10
                CardColumn {
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    label: root.leftLabel
                    modeColor: root.isFinalMode ? ThemeManager.currentTheme.masterMode : ThemeManager.currentTheme.originalMode
                    lufs: root.leftLufs
                    rms: root.leftRms
                    peak: root.leftPeak
                    stereo: root.leftStereo
                    playing: prv.leftPlaying
                    gainText: prv.leftGain
                    onTogglePlay: if (root.playback) root.playback.togglePlay(root.index, true)
                }
                Rectangle {
                    Layout.fillHeight: true
                    implicitWidth: 1
                    color: Theme.alpha(ThemeManager.currentTheme.textSecondary, 0.2)
                }
                CardColumn {
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    label: root.rightLabel
                    modeColor: root.isFinalMode ? ThemeManager.currentTheme.finalMode : ThemeManager.currentTheme.masterMode
                    lufs: root.rightLufs
                    rms: root.rightRms
                    peak: root.rightPeak
                    stereo: root.rightStereo
                    playing: prv.rightPlaying
                    onTogglePlay: if (root.playback) root.playback.togglePlay(root.index, false)
                }
            }
            PlaybackBar {
                Layout.fillWidth: true
                active: prv.current
                progress: prv.current ? root.playback.player.currentProgress : 0
                tint: prv.leftPlaying ? (root.isFinalMode ? ThemeManager.currentTheme.masterMode : ThemeManager.currentTheme.originalMode)
                                      : (root.isFinalMode ? ThemeManager.currentTheme.finalMode : ThemeManager.currentTheme.masterMode)
                onTapped: (x, width) => { if (root.playback) root.playback.seekTap(root.index, x, width) }
            }
            DeliveryDetails { Layout.fillWidth: true; figures: root.model }
        }
    }
}
