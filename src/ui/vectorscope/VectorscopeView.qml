import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// The vectorscope panel's content: the playing song's stereo image on a half disc.
Item {
    id: root

    required property VectorscopeManager manager
    required property var feed
    required property bool hasSource
    required property bool isOriginal
    required property string title
    required property color dotColor

    implicitWidth: 280
    implicitHeight: 260

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.spacing + 4
        spacing: Theme.spacing

        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Icon {
                name: "dot.radiowaves.left.and.right"
                size: Theme.fontBody
                color: root.hasSource ? root.dotColor : ThemeManager.currentTheme.textSecondary
            }
            Text {
                Layout.fillWidth: true
                objectName: "vectorscopeTitle"
                text: root.hasSource ? root.title : "Stereo Vectorscope"
                elide: Text.ElideMiddle
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontSmall
                font.weight: Font.DemiBold
                color: ThemeManager.currentTheme.textPrimary
            }
            Text {
                visible: root.hasSource
                text: root.isOriginal ? "ORIGINAL" : "PROCESSED"
                font.family: Theme.fontFamily
                font.pixelSize: Theme.fontTiny
                font.weight: Font.Black
                font.letterSpacing: 1.0
                color: root.dotColor
            }
        }

        // The plotting area keeps its 2 : 1 shape inside whatever room the panel gives it.
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Rectangle {
                id: plotFrame
                anchors.centerIn: parent
                width: Math.min(parent.width, parent.height * 2)
                height: width / 2 + Theme.spacing
                radius: Theme.radiusSmall
                color: ThemeManager.currentTheme.cardBackground
                VectorscopeShape {
                    objectName: "vectorscopeShape"
                    anchors.fill: parent
                    anchors.margins: Theme.spacing / 2
                    anchors.bottomMargin: Theme.spacing / 2
                    feed: root.feed
                    color: root.dotColor
                    gridColor: Theme.alpha(ThemeManager.currentTheme.textSecondary, 0.25)
                }
                BusyIndicator {
                    anchors.centerIn: parent
                    width: 32
                    height: 32
                    running: root.hasSource && root.feed !== null && root.feed.isAnalyzing
                    visible: running
                }
                Text {
                    anchors.centerIn: parent
                    visible: !root.hasSource
                    text: "No Audio Playing"
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.fontRow
                    font.weight: Font.DemiBold
                    color: ThemeManager.currentTheme.textSecondary
                }
            }
        }
    }
}
