import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Korvanta

// The window's modal alerts: a title, a message and "OK" — or, to confirm a cancel, the
// destructive "Cancel" and "Continue".
Dialog {
    id: root

    required property ContentView controller
    readonly property bool isCancelConfirmation: root.controller.alertType === "cancelConfirmation"

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(380, parent ? parent.width - 40 : 380)
    modal: true
    visible: root.controller.alertType !== ""
    closePolicy: Popup.CloseOnEscape
    padding: Theme.standardPadding
    title: root.controller.alertTitle

    onRejected: root.controller.dismissAlert()

    background: Rectangle {
        radius: Theme.radius
        color: ThemeManager.currentTheme.backgroundSecondary
        border.width: 1
        border.color: ThemeManager.currentTheme.elementBackground
    }
    header: Text {
        text: root.title
        padding: Theme.standardPadding
        bottomPadding: 0
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontBody + 2
        font.weight: Font.Bold
        color: ThemeManager.currentTheme.textPrimary
    }
    contentItem: Text {
        text: root.controller.alertMessage
        wrapMode: Text.WordWrap
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontRow
        color: ThemeManager.currentTheme.textSecondary
    }
    footer: RowLayout {
        spacing: Theme.spacing
        Item { Layout.fillWidth: true }
        PillButton {
            visible: root.isCancelConfirmation
            text: "Continue"
            onClicked: root.controller.dismissAlert()
            Layout.bottomMargin: Theme.standardPadding
        }
        PillButton {
            id: primaryButton
            text: root.isCancelConfirmation ? "Cancel" : "OK"
            tint: root.isCancelConfirmation ? ThemeManager.currentTheme.error : ThemeManager.currentTheme.accent
            focus: true
            onClicked: root.isCancelConfirmation ? root.controller.cancelProcessing() : root.controller.dismissAlert()
            Layout.rightMargin: Theme.standardPadding
            Layout.bottomMargin: Theme.standardPadding
        }
    }
    onOpened: primaryButton.forceActiveFocus()
}
