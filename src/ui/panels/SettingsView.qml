import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Korvanta

// The settings panel's content: presets, theme, export format, cover art, quality, and the
// reset of everything.
Item {
    id: root

    required property SettingsWindowManager manager
    required property SettingsViewModel model

    ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth
        clip: true

        ColumnLayout {
            width: scroll.availableWidth - 2 * 14
            x: 14
            spacing: 12

            Item { implicitHeight: 2 }

            SettingsSection {
                title: "Loudness Preset"
                GridLayout {
                    Layout.fillWidth: true
                    columns: 2
                    columnSpacing: 8
                    rowSpacing: 8
                    Repeater {
                        model: root.model.presets
                        delegate: PresetCard {
                            required property int index
                            required property var modelData
                            objectName: "preset-" + modelData.title
                            Layout.fillWidth: true
                            title: modelData.title
                            lufs: modelData.lufs
                            limiter: modelData.limiter
                            isSelected: root.model.selectedPresetIndex === index
                            onClicked: root.model.selectPreset(index)
                        }
                    }
                }
            }

            SettingsSection {
                title: "App Theme"
                subtitle: "Choose your preferred color scheme"
                Flow {
                    Layout.fillWidth: true
                    spacing: 8
                    Repeater {
                        model: ThemeManager.availableThemes
                        delegate: PillButton {
                            required property var modelData
                            objectName: "theme-" + modelData.id
                            text: modelData.name
                            tint: modelData.id === ThemeManager.currentThemeId ? ThemeManager.currentTheme.accent
                                                                                : ThemeManager.currentTheme.textSecondary
                            onClicked: ThemeManager.applyTheme(modelData.id)
                        }
                    }
                }
            }

            SettingsSection {
                title: "Export Format"
                subtitle: "Choose your preferred output format"
                RowLayout {
                    spacing: 8
                    Repeater {
                        model: ["WAV", "M4A"]
                        delegate: PillButton {
                            required property string modelData
                            text: modelData
                            tint: root.model.exportFormat === modelData ? ThemeManager.currentTheme.primary
                                                                        : ThemeManager.currentTheme.textSecondary
                            onClicked: root.model.chooseExportFormat(modelData)
                        }
                    }
                }
            }

            SettingsSection {
                title: "Global Artwork"
                subtitle: "Apply the same cover art to all exported songs"
                Switch {
                    id: artworkSwitch
                    text: root.model.globalArtworkEnabled ? "On" : "Off"
                    checked: root.model.globalArtworkEnabled
                    onToggled: root.model.setGlobalArtworkEnabled(checked)
                    palette.windowText: ThemeManager.currentTheme.textPrimary
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 12
                    Rectangle {
                        implicitWidth: 84
                        implicitHeight: 84
                        radius: Theme.radiusSmall
                        color: ThemeManager.currentTheme.elementBackground
                        clip: true
                        Image {
                            anchors.fill: parent
                            visible: root.model.hasArtwork
                            source: root.model.hasArtwork ? "image://artwork/" + root.model.artworkRevision : ""
                            sourceSize: Qt.size(168, 168)
                            fillMode: Image.PreserveAspectCrop
                            asynchronous: true
                        }
                        Icon {
                            anchors.centerIn: parent
                            visible: !root.model.hasArtwork
                            name: "photo"
                            size: 34
                            color: ThemeManager.currentTheme.textSecondary
                        }
                        BusyIndicator {
                            anchors.centerIn: parent
                            running: root.model.isLoadingArtwork
                            visible: running
                        }
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 6
                        Text {
                            Layout.fillWidth: true
                            visible: !root.model.hasArtwork
                            text: "Recommended: 500x500px or larger, JPEG/PNG format"
                            wrapMode: Text.WordWrap
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.fontCaption
                            color: ThemeManager.currentTheme.textSecondary
                        }
                        Text {
                            id: rejected
                            Layout.fillWidth: true
                            visible: false
                            text: "That file is not an image."
                            font.family: Theme.fontFamily
                            font.pixelSize: Theme.fontCaption
                            color: ThemeManager.currentTheme.warning
                        }
                        RowLayout {
                            spacing: 8
                            PillButton {
                                text: root.model.hasArtwork ? "Change Image" : "Select Image"
                                iconName: "photo"
                                onClicked: imagePicker.open()
                            }
                            PillButton {
                                visible: root.model.hasArtwork
                                text: "Remove"
                                tint: ThemeManager.currentTheme.error
                                onClicked: root.model.removeArtwork()
                            }
                        }
                    }
                }
            }

            SettingsSection {
                title: "High Quality Mode"
                subtitle: root.model.highQualityText
                Switch {
                    checked: root.model.highQualityMode
                    text: checked ? "24-bit" : "16-bit"
                    onToggled: root.model.setHighQualityMode(checked)
                    palette.windowText: ThemeManager.currentTheme.textPrimary
                }
            }

            SettingsSection {
                visible: root.manager.canRemaster
                title: "Remaster"
                subtitle: "Master every song again from its original with the selected preset"
                PillButton {
                    text: "Remaster All Songs"
                    iconName: "wand.and.stars"
                    onClicked: root.manager.remaster()
                }
            }

            SettingsSection {
                title: "Clean All Data"
                subtitle: "Remove all settings and temporary files"
                PillButton {
                    text: "CLEAN ALL DATA"
                    iconName: "trash"
                    tint: ThemeManager.currentTheme.error
                    onClicked: cleanAlert.open()
                }
            }

            AccentButton {
                Layout.alignment: Qt.AlignHCenter
                Layout.bottomMargin: 14
                text: "DONE"
                iconName: "checkmark.circle"
                onClicked: {
                    root.model.saveSettings()
                    root.manager.closeSettings()
                }
            }
        }
    }

    FileDialog {
        id: imagePicker
        title: "Select Image"
        fileMode: FileDialog.OpenFile
        nameFilters: ["Images (*.jpg *.jpeg *.png *.webp *.bmp *.gif *.tif *.tiff *.JPG *.JPEG *.PNG)", "All files (*)"]
        onAccepted: {
            rejected.visible = false
            root.model.chooseArtworkFile(imagePicker.selectedFile)
        }
    }
    Connections {
        target: root.model
        function onArtworkRejected() { rejected.visible = true }
    }

    Dialog {
        id: cleanAlert
        anchors.centerIn: parent
        width: Math.min(360, root.width - 24)
        modal: true
        closePolicy: Popup.CloseOnEscape
        padding: Theme.standardPadding
        background: Rectangle {
            radius: Theme.radius
            color: ThemeManager.currentTheme.backgroundSecondary
            border.width: 1
            border.color: ThemeManager.currentTheme.warning
        }
        contentItem: ColumnLayout {
            spacing: 8
            RowLayout {
                spacing: 8
                Icon {
                    name: "exclamationmark.triangle.fill"
                    size: 20
                    color: ThemeManager.currentTheme.warning
                }
                Text {
                    text: "Clean All Data?"
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontBody + 2
                    font.weight: Font.Bold
                    color: ThemeManager.currentTheme.textPrimary
                }
            }
            Text {
                Layout.fillWidth: true
                text: "This will remove all settings, preferences, and temporary files. The app will return to default state."
                wrapMode: Text.WordWrap
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontRow
                color: ThemeManager.currentTheme.textSecondary
            }
            RowLayout {
                Layout.topMargin: 8
                spacing: 8
                Item { Layout.fillWidth: true }
                PillButton {
                    id: cleanButton
                    text: "Clean"
                    tint: ThemeManager.currentTheme.error
                    onClicked: {
                        cleanAlert.close()
                        root.manager.cleanAllData()
                    }
                }
                PillButton {
                    text: "Cancel"
                    tint: ThemeManager.currentTheme.textSecondary
                    onClicked: cleanAlert.close()
                }
            }
        }
        onOpened: cleanButton.forceActiveFocus()
    }
}
