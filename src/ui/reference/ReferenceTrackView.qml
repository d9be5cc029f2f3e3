import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// The "Reference Track" panel: a drop zone for the reference song, its name and magnitude curve
// once loaded, "Clear Reference" and "Close Window".
Item {
    id: root

    required property ReferenceTrackManager manager
    readonly property var theme: ThemeManager.currentTheme

    implicitWidth: 350
    implicitHeight: 180

    QtObject {
        id: prv
        property bool isDragOver: false
        property bool isLoadingFile: false
        property bool showError: false
        property string errorMessage: ""
    }

    Connections {
        target: root.manager
        function onLoadFinished(succeeded, errorDescription) {
            prv.isLoadingFile = false
            if (!succeeded) {
                prv.errorMessage = "Failed to load reference track: " + errorDescription
                prv.showError = true
            }
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.spacing + 4
        spacing: Theme.spacing

        Rectangle {
            objectName: "dropZone"
            Layout.fillWidth: true
            Layout.fillHeight: true
            radius: Theme.radiusSmall
            color: prv.isDragOver ? Theme.alpha(root.theme.accent, 0.18) : root.theme.cardBackground
            border.width: 1
            border.color: prv.isDragOver ? root.theme.accent : Theme.alpha(root.theme.textSecondary, 0.4)

            DropArea {
                anchors.fill: parent
                onEntered: (drag) => {
                    // Only audio files are taken; anything else is refused at the door.
                    const audio = drag.hasUrls && root.manager.droppedAudioFile(drag.urls) !== ""
                    prv.isDragOver = audio
                    drag.accepted = audio
                }
                onExited: prv.isDragOver = false
                onDropped: (drop) => {
                    prv.isDragOver = false
                    const path = drop.hasUrls ? root.manager.droppedAudioFile(drop.urls) : ""
                    if (path === "") { drop.accepted = false; return }
                    prv.isLoadingFile = true
                    root.manager.loadReferenceTrack(path)
                    drop.accept()
                }
            }

            ColumnLayout {
                anchors.centerIn: parent
                width: parent.width - 2 * Theme.spacing
                spacing: 4
                visible: !root.manager.hasReference || prv.isDragOver

                Icon {
                    Layout.alignment: Qt.AlignHCenter
                    name: prv.isDragOver ? "arrow.down.circle.fill" : "waveform.circle"
                    size: 28
                    color: prv.isDragOver ? root.theme.accent : root.theme.textSecondary
                }
                Text {
                    objectName: "dropText"
                    Layout.alignment: Qt.AlignHCenter
                    text: prv.isLoadingFile ? "Loading…" : (prv.isDragOver ? "Drop Audio File" : "Drag & drop audio file")
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontSmall
                    color: root.theme.textPrimary
                }
            }

            ColumnLayout {
                anchors.fill: parent
                anchors.margins: Theme.spacing
                spacing: 2
                visible: root.manager.hasReference && !prv.isDragOver

                Text {
                    objectName: "referenceName"
                    Layout.fillWidth: true
                    text: root.manager.referenceFileName
                    elide: Text.ElideMiddle
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontSmall
                    font.weight: Font.DemiBold
                    color: root.theme.textPrimary
                }
                Canvas {
                    id: magnitudes
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    readonly property var values: root.manager.currentProfile.magnitudes ?? []
                    onValuesChanged: requestPaint()
                    onWidthChanged: requestPaint()
                    onHeightChanged: requestPaint()
                    onPaint: {
                        const ctx = getContext("2d")
                        ctx.reset()
                        const v = magnitudes.values
                        if (v.length < 2) return
                        let low = Math.min(...v), high = Math.max(...v)
                        if (high - low < 1) high = low + 1
                        ctx.strokeStyle = root.theme.accent
                        ctx.lineWidth = 1.5
                        ctx.beginPath()
                        for (let i = 0; i < v.length; ++i) {
                            const x = i * width / (v.length - 1)
                            const y = height - (v[i] - low) / (high - low) * (height - 2) - 1
                            if (i === 0) ctx.moveTo(x, y); else ctx.lineTo(x, y)
                        }
                        ctx.stroke()
                    }
                }
                Text {
                    Layout.alignment: Qt.AlignHCenter
                    text: "20Hz - 20kHz"
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontTiny
                    color: root.theme.textSecondary
                }
            }

            BusyIndicator {
                anchors.right: parent.right
                anchors.top: parent.top
                width: 24
                height: 24
                running: prv.isLoadingFile || root.manager.isLoading
                visible: running
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing
            PillButton {
                objectName: "clearReference"
                visible: root.manager.hasReference
                text: "Clear Reference"
                iconName: "trash"
                tint: root.theme.error
                onClicked: root.manager.clearReference()
            }
            Item { Layout.fillWidth: true }
            PillButton {
                objectName: "closeWindow"
                text: "Close Window"
                tint: root.theme.textSecondary
                onClicked: root.manager.hideReferencePanel()
            }
        }
    }

    Dialog {
        objectName: "errorAlert"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: Math.min(320, root.width - 20)
        modal: true
        visible: prv.showError
        title: "Error"
        standardButtons: Dialog.Ok
        onClosed: prv.showError = false
        background: Rectangle {
            radius: Theme.radius
            color: root.theme.backgroundSecondary
            border.width: 1
            border.color: root.theme.elementBackground
        }
        header: Text {
            text: "Error"
            padding: Theme.spacing + 4
            bottomPadding: 0
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontBody
            font.weight: Font.Bold
            color: root.theme.textPrimary
        }
        contentItem: Text {
            objectName: "errorMessage"
            text: prv.errorMessage
            wrapMode: Text.Wrap
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontSmall
            color: root.theme.textPrimary
        }
    }
}
