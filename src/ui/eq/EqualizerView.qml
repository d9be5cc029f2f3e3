import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// The equaliser: the 12-band graph with draggable points, the master gain, the AUTO readout,
// RESET, REMASTER, "REF APPLY" and the SIDE and MID knobs. Every rule lives in the model.
Item {
    id: root

    property EQManager manager
    property AudioPlayerManager player
    property ReferenceTrackManager reference
    readonly property EqualizerModel eqModel: eqModel
    readonly property var theme: ThemeManager.currentTheme

    implicitWidth: 600
    implicitHeight: 500

    EqualizerModel {
        id: eqModel
        manager: root.manager
        player: root.player
        reference: root.reference
    }

    // The four readout colours, nearest to the target first.
    function tierColor(tier) {
        switch (tier) {
        case 0: return root.theme.success
        case 1: return root.theme.info
        case 2: return root.theme.warning
        case 3: return root.theme.error
        }
        return root.theme.textSecondary
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.spacing + 4
        spacing: Theme.spacing

        // Header: the readout, the reference control, RESET and REMASTER.
        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing

            Text {
                text: "Custom Equalizer"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontBody
                font.weight: Font.Bold
                color: root.theme.textPrimary
            }
            Item { Layout.fillWidth: true }

            AbstractButton {
                id: autoButton
                objectName: "autoButton"
                implicitWidth: autoRow.implicitWidth + 16
                implicitHeight: 28
                focusPolicy: Qt.StrongFocus
                hoverEnabled: true
                Accessible.role: Accessible.Button
                Accessible.name: "AUTO " + eqModel.autoText
                Keys.onReturnPressed: autoButton.clicked()
                Keys.onEnterPressed: autoButton.clicked()
                onClicked: eqModel.applyAutoGain()
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: "Set the master gain to reach the preset's loudness without clipping"
                background: Rectangle {
                    radius: Theme.radiusSmall
                    color: Theme.alpha(root.tierColor(eqModel.autoTier), autoButton.hovered ? 0.28 : 0.16)
                    border.width: autoButton.visualFocus ? 2 : 1
                    border.color: autoButton.visualFocus ? root.theme.textPrimary : root.tierColor(eqModel.autoTier)
                }
                contentItem: Item {
                    Row {
                        id: autoRow
                        anchors.centerIn: parent
                        spacing: 6
                        Text {
                            text: "AUTO"
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.fontCaption
                            font.weight: Font.Bold
                            color: root.theme.textSecondary
                        }
                        Text {
                            objectName: "autoText"
                            text: eqModel.autoText
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.fontSmall
                            font.weight: Font.Medium
                            color: root.tierColor(eqModel.autoTier)
                        }
                    }
                }
            }

            PillButton {
                id: refButton
                objectName: "refButton"
                text: eqModel.referenceText
                tint: eqModel.hasReference ? root.theme.accent : root.theme.textSecondary
                onClicked: eqModel.applyReference()
                Rectangle {
                    objectName: "refDot"
                    visible: eqModel.isAutoReferenceMode
                    width: 6
                    height: 6
                    radius: 3
                    color: root.theme.success
                    anchors.right: parent.right
                    anchors.top: parent.top
                    anchors.margins: 3
                }
            }
            PillButton {
                objectName: "resetButton"
                text: "RESET"
                iconName: "arrow.clockwise"
                tint: root.theme.textSecondary
                onClicked: eqModel.reset()
            }
            PillButton {
                id: remasterButton
                objectName: "remasterButton"
                text: "REMASTER"
                iconName: "wand.and.stars"
                tint: root.theme.eqMode
                onClicked: eqModel.remaster()
                scale: eqModel.shouldPulseRemaster ? 1.12 : 1.0
                Behavior on scale { NumberAnimation { duration: 220; easing.type: Easing.OutBack } }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: Theme.spacing

            // The band graph; labels around it, points on it.
            Item {
                id: graphFrame
                Layout.fillWidth: true
                Layout.fillHeight: true

                Rectangle {
                    anchors.fill: parent
                    radius: Theme.radiusSmall
                    color: root.theme.cardBackground
                }

                Item {
                    id: graph
                    objectName: "bandGraph"
                    anchors.fill: parent
                    anchors.leftMargin: 18
                    anchors.rightMargin: 18
                    anchors.topMargin: 22
                    anchors.bottomMargin: 26
                    activeFocusOnTab: true
                    Accessible.role: Accessible.Slider
                    Accessible.name: "Band " + (graph.focusBand + 1)

                    // The band the keyboard changes (Left/Right choose, Up/Down change by 0.5 dB).
                    property int focusBand: 0

                    function pointY(gain) { return graph.height / 2 - gain / 10 * graph.height / 2 }
                    function keyStep(delta) {
                        const gains = eqModel.tempBandValues
                        const next = Math.max(-10, Math.min(10, gains[graph.focusBand] + delta))
                        const x = graph.focusBand * graph.width / (eqModel.bandCount - 1)
                        eqModel.dragBand(x, graph.pointY(next), graph.width, graph.height)
                        eqModel.endBandDrag()
                    }
                    Keys.onLeftPressed: graph.focusBand = Math.max(0, graph.focusBand - 1)
                    Keys.onRightPressed: graph.focusBand = Math.min(eqModel.bandCount - 1, graph.focusBand + 1)
                    Keys.onUpPressed: graph.keyStep(0.5)
                    Keys.onDownPressed: graph.keyStep(-0.5)

                    EqualizerCurve {
                        id: curve
                        objectName: "curve"
                        anchors.fill: parent
                        gains: eqModel.tempBandValues
                        frequencies: eqModel.bandFrequencies
                        qs: eqModel.bandQs
                        sampleRate: 44100
                        showSpectra: eqModel.hasReference
                        referenceSpectrum: eqModel.reference ? eqModel.reference.referenceSpectrum : []
                        masteredSpectrum: eqModel.reference ? eqModel.reference.masteredSpectrum : []
                        color: root.theme.eqMode
                        gridColor: Theme.alpha(root.theme.textSecondary, 0.35)
                        referenceColor: "#FFD60A"
                        masteredColor: "#30D158"
                    }

                    Row {
                        visible: eqModel.hasReference
                        anchors.left: parent.left
                        anchors.top: parent.top
                        spacing: Theme.spacing
                        Text { text: "reference"; color: "#FFD60A"; font.family: Theme.fontFamily; font.pixelSize: Theme.fontTiny }
                        Text { text: "mastered"; color: "#30D158"; font.family: Theme.fontFamily; font.pixelSize: Theme.fontTiny }
                    }

                    MouseArea {
                        id: graphArea
                        objectName: "graphArea"
                        anchors.fill: parent
                        preventStealing: true
                        onPressed: (mouse) => eqModel.dragBand(mouse.x, mouse.y, graph.width, graph.height)
                        onPositionChanged: (mouse) => eqModel.dragBand(mouse.x, mouse.y, graph.width, graph.height)
                        onReleased: eqModel.endBandDrag()
                        onCanceled: eqModel.endBandDrag()
                    }

                    Repeater {
                        model: eqModel.bandCount
                        delegate: Item {
                            id: band
                            required property int index
                            readonly property real gain: eqModel.tempBandValues[band.index] ?? 0
                            readonly property bool picked: eqModel.draggedBandIndex === band.index
                                                           || (graph.activeFocus && graph.focusBand === band.index)
                            x: band.index * graph.width / Math.max(1, eqModel.bandCount - 1)
                            y: graph.pointY(band.gain)
                            width: 0
                            height: 0

                            Rectangle {
                                objectName: "bandPoint" + band.index
                                width: 14
                                height: 14
                                radius: 7
                                x: -7
                                y: -7
                                color: band.picked ? root.theme.textPrimary : root.theme.eqMode
                                border.width: 1
                                border.color: root.theme.background
                                Text {
                                    anchors.centerIn: parent
                                    text: String(band.index + 1)
                                    font.family: Theme.fontFamily
                                    font.pixelSize: 8
                                    font.weight: Font.Bold
                                    color: root.theme.background
                                }
                            }
                            Text {
                                objectName: "bandGain" + band.index
                                text: eqModel.bandGainText(band.gain)
                                font.family: Theme.fontFamily
                                font.pixelSize: Theme.fontTiny
                                color: root.theme.textSecondary
                                // Kept inside the graph's frame at either end.
                                x: Math.max(-band.x - 14, Math.min(graph.width - band.x + 14 - width, -width / 2))
                                y: band.gain >= 0 ? -22 : 9
                            }
                        }
                    }

                    // Frequency labels under the graph.
                    Repeater {
                        model: eqModel.bandCount
                        delegate: Text {
                            required property int index
                            objectName: "bandFrequency" + index
                            text: eqModel.frequencyLabel(eqModel.bandFrequencies[index] ?? 0)
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.fontTiny
                            color: root.theme.textSecondary
                            x: index * graph.width / Math.max(1, eqModel.bandCount - 1) - width / 2
                            y: graph.height + 8
                        }
                    }
                }
            }

            // Master gain: a vertical scale from −10 dB (bottom) to +10 dB (top).
            ColumnLayout {
                Layout.fillHeight: true
                Layout.fillWidth: false
                Layout.preferredWidth: 64
                spacing: 4

                Text {
                    Layout.alignment: Qt.AlignHCenter
                    text: "GAIN"
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontCaption
                    font.weight: Font.Bold
                    color: root.theme.textSecondary
                }
                Item {
                    id: gainTrack
                    objectName: "gainTrack"
                    Layout.fillHeight: true
                    Layout.fillWidth: true
                    activeFocusOnTab: true
                    Accessible.role: Accessible.Slider
                    Accessible.name: "Master gain " + eqModel.masterGainText(eqModel.masterGain)
                    readonly property real markerY: (1 - (eqModel.masterGain + 10) / 20) * gainTrack.height
                    Keys.onUpPressed: {
                        eqModel.dragMasterGain(Math.max(0, gainTrack.markerY - gainTrack.height / 40), gainTrack.height)
                        eqModel.endMasterGainDrag()
                    }
                    Keys.onDownPressed: {
                        eqModel.dragMasterGain(Math.min(gainTrack.height, gainTrack.markerY + gainTrack.height / 40), gainTrack.height)
                        eqModel.endMasterGainDrag()
                    }

                    Rectangle {
                        anchors.horizontalCenter: parent.horizontalCenter
                        width: 6
                        height: parent.height
                        radius: 3
                        color: root.theme.elementBackground
                        border.width: gainTrack.activeFocus ? 1 : 0
                        border.color: root.theme.textPrimary
                    }
                    Rectangle {
                        anchors.horizontalCenter: parent.horizontalCenter
                        y: parent.height / 2
                        width: 14
                        height: 1
                        color: root.theme.textSecondary
                    }
                    Icon {
                        objectName: "gainMarker"
                        name: "arrowtriangle.down.fill"
                        size: 26
                        color: root.theme.eqMode
                        anchors.horizontalCenter: parent.horizontalCenter
                        y: gainTrack.markerY - height / 2
                    }
                    MouseArea {
                        objectName: "gainArea"
                        anchors.fill: parent
                        preventStealing: true
                        onPressed: (mouse) => eqModel.dragMasterGain(mouse.y, gainTrack.height)
                        onPositionChanged: (mouse) => eqModel.dragMasterGain(mouse.y, gainTrack.height)
                        onReleased: eqModel.endMasterGainDrag()
                        onCanceled: eqModel.endMasterGainDrag()
                    }
                }
                Text {
                    objectName: "masterGainText"
                    Layout.alignment: Qt.AlignHCenter
                    text: eqModel.masterGainText(eqModel.masterGain)
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontCaption
                    color: root.theme.textPrimary
                }
            }
        }

        // The stereo and mid knobs.
        RowLayout {
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignHCenter
            spacing: Theme.standardPadding * 2
            Item { Layout.fillWidth: true }
            EffectKnob {
                objectName: "sideKnob"
                label: "SIDE"
                which: "stereo"
                eq: eqModel
                isOn: eqModel.stereoEnabled
                value: eqModel.stereoWidth
            }
            EffectKnob {
                objectName: "midKnob"
                label: "MID"
                which: "mid"
                eq: eqModel
                isOn: eqModel.midEnabled
                value: eqModel.midAmount
            }
            Item { Layout.fillWidth: true }
        }
    }
}
