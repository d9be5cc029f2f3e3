import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// The main window's toolbar: which items show depends on the workflow state.
ToolBar {
    id: root

    required property ContentView controller
    readonly property bool inResult: root.controller.appState === "result"

    background: Rectangle {
        color: ThemeManager.currentTheme.backgroundSecondary
        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: ThemeManager.currentTheme.elementBackground
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: Theme.spacing + 4
        anchors.rightMargin: Theme.spacing
        spacing: 4

        Logo {
            Layout.preferredWidth: 22
            Layout.preferredHeight: 22
        }
        Text {
            text: "Korvanta"
            font.family: Theme.fontFamily
            font.pixelSize: Theme.fontBody
            font.weight: Font.Bold
            color: ThemeManager.currentTheme.textPrimary
            Layout.leftMargin: 4
        }
        Item { Layout.fillWidth: true }

        ToolbarButton {
            visible: root.inResult
            iconName: "trash"
            helpText: "Delete All & Start Over"
            onClicked: root.controller.deleteAllAndStartOver()
        }
        ToolbarButton {
            objectName: "eqButton"
            visible: root.inResult && !root.controller.batchProcessor.isFinalMode
            iconName: "slider.horizontal.3"
            helpText: "Equalizer"
            active: root.controller.showEQ && root.controller.eqManager.isVisible
            onClicked: root.controller.toggleEQ()
        }
        ToolbarButton {
            objectName: "vectorscopeButton"
            visible: root.inResult
            iconName: "dot.radiowaves.left.and.right"
            helpText: "Vectorscope"
            active: root.controller.showVectorscope
            onClicked: root.controller.toggleVectorscope()
        }
        ToolbarButton {
            objectName: "referenceButton"
            visible: root.controller.appState === "importFiles"
            letter: "R"
            helpText: ReferenceTrackManager.hasReference ? "Reference Track (Loaded)" : "Reference Track"
            active: ReferenceTrackManager.isEnabled
            onClicked: root.controller.toggleReferenceTrack()
        }
        ToolbarButton {
            iconName: "gearshape"
            helpText: "Settings"
            active: root.controller.showSettings
            onClicked: root.controller.toggleSettings()
        }
        ToolbarButton {
            iconName: "info.circle"
            helpText: "Learn how to use Korvanta"
            active: root.controller.showInfoPanel
            onClicked: root.controller.showGuide()
        }
    }
}
