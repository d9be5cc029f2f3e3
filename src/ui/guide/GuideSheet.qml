import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// The guide: how mastering works here, a quick start, the tools and some tips.
Popup {
    id: root

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: parent ? parent.width - 2 * Theme.spacing : 480
    height: parent ? parent.height - 2 * Theme.spacing : 430
    modal: true
    focus: true
    padding: 0
    closePolicy: Popup.CloseOnEscape

    background: Rectangle {
        radius: Theme.radius
        color: ThemeManager.currentTheme.backgroundSecondary
        border.width: 1
        border.color: ThemeManager.currentTheme.elementBackground
    }

    component Heading: Text {
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontSmall
        font.weight: Font.Black
        font.letterSpacing: 1.2
        color: ThemeManager.currentTheme.accent
        Layout.topMargin: Theme.spacing
    }
    component Body: Text {
        Layout.fillWidth: true
        wrapMode: Text.WordWrap
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontRow
        lineHeight: 1.15
        color: ThemeManager.currentTheme.textSecondary
    }
    component Entry: ColumnLayout {
        property alias title: entryTitle.text
        property alias body: entryBody.text
        Layout.fillWidth: true
        spacing: 2
        Text {
            id: entryTitle
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontBody
            font.weight: Font.DemiBold
            color: ThemeManager.currentTheme.textPrimary
        }
        Body { id: entryBody }
    }

    contentItem: ColumnLayout {
        spacing: 0
        RowLayout {
            Layout.fillWidth: true
            Layout.margins: Theme.standardPadding
            Layout.bottomMargin: Theme.spacing
            Text {
                Layout.fillWidth: true
                text: "Korvanta - Guide"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontTitle
                font.weight: Font.Bold
                color: ThemeManager.currentTheme.textPrimary
            }
            IconButton {
                iconName: "xmark.circle.fill"
                size: 22
                accessibleName: "Close the guide"
                onClicked: root.close()
            }
        }
        ScrollView {
            id: scroll
            Layout.fillWidth: true
            Layout.fillHeight: true
            contentWidth: availableWidth
            clip: true
            ColumnLayout {
                width: scroll.availableWidth - 2 * Theme.standardPadding
                x: Theme.standardPadding
                spacing: Theme.spacing

                Heading { text: "MASTERING TYPES" }
                Entry {
                    title: "Normal Mastering (with Preset)"
                    body: "Automatic LUFS calculation and compression/limiter application to reach selected preset value (Events: -12 LUFS, Radio: -14 LUFS, Club: -10 LUFS, Festival: -8 LUFS)"
                }
                Entry {
                    title: "Reference Track Mastering"
                    body: "Normal mastering + EQ detection from reference track and application of same EQ to all songs"
                }
                Entry {
                    title: "Remastering"
                    body: "Any song from normal mastering can be remastered by opening EQ, applying manual adjustments, then clicking REMASTER"
                }

                Heading { text: "QUICK START" }
                Body { text: "Add music folder → Select preset → Click MASTER SONGS! → Click EXPORT ALL" }

                Heading { text: "TOOLS" }
                Body { text: "• EQ: 12-band equalizer for frequency adjustments" }
                Body { text: "• Vectorscope: Stereo image visualization" }
                Body { text: "• Reference Track: Match professional track sound" }
                Body { text: "• Play buttons: Compare Original vs Master" }

                Heading { text: "How to use Custom EQ" }
                Body { text: "Auto Gain automatically calculates the perfect compensation to maintain optimal sound quality" }
                Body { text: "The master GAIN slider provides final output control after EQ adjustments" }
                Body { text: "Stereo Enhancer widens the stereo image while keeping bass centered" }

                Heading { text: "TIPS" }
                Body { text: "• Start with good quality mixes" }
                Body { text: "• Always compare Original vs Master before export" }
                Body { text: "• Process albums together for consistent sound" }
                Body { text: "• Test on different speakers/headphones" }
                Item { implicitHeight: Theme.spacing }
            }
        }
        AccentButton {
            Layout.alignment: Qt.AlignHCenter
            Layout.margins: Theme.standardPadding
            Layout.topMargin: Theme.spacing
            text: "GOT IT"
            iconName: "checkmark.circle"
            focus: true
            onClicked: root.close()
        }
    }
}
