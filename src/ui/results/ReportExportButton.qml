import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Korvanta

// "Export Report…": the batch report as CSV, JSON or an HTML page, by the chosen name's
// extension; with the outcome, and the warnings of the checks after encoding, beside it.
RowLayout {
    id: root

    required property ResultViewModel results

    spacing: 6
    Icon {
        visible: root.results.encodingWarnings !== ""
        name: "info.circle"
        size: Theme.fontBody
        color: ThemeManager.currentTheme.warning
        HoverHandler { id: warningHover }
        ToolTip.visible: warningHover.hovered
        ToolTip.text: root.results.encodingWarnings
    }
    Text {
        objectName: "reportMessage"
        visible: text !== ""
        text: root.results.reportMessage
        elide: Text.ElideMiddle
        Layout.maximumWidth: 260
        font.family: Theme.fontFamily
        font.pixelSize: Theme.fontTiny
        color: ThemeManager.currentTheme.textSecondary
    }
    PillButton {
        objectName: "exportReport"
        text: "Export Report…"
        iconName: "doc.badge.plus"
        tint: ThemeManager.currentTheme.info
        enabled: !root.results.isWritingReport
        onClicked: reportFile.open()
    }
    FileDialog {
        id: reportFile
        title: "Export Report"
        fileMode: FileDialog.SaveFile
        nameFilters: ["HTML page (*.html)", "CSV table (*.csv)", "JSON (*.json)"]
        defaultSuffix: "html"
        onAccepted: root.results.exportReport(reportFile.selectedFile)
    }
}
