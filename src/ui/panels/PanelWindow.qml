import QtQuick
import QtQuick.Window
import Korvanta

// A floating tool window; its manager sets the content.
Window {
    id: root

    property string identifier
    property alias content: loader.item

    function setContent(source, properties) {
        loader.setSource(source, properties)
    }

    color: ThemeManager.currentTheme.background
    // Controls and dialogs take their colours from the theme too.
    palette.window: ThemeManager.currentTheme.background
    palette.windowText: ThemeManager.currentTheme.textPrimary
    palette.base: ThemeManager.currentTheme.cardBackground
    palette.alternateBase: ThemeManager.currentTheme.backgroundSecondary
    palette.text: ThemeManager.currentTheme.textPrimary
    palette.button: ThemeManager.currentTheme.elementBackground
    palette.buttonText: ThemeManager.currentTheme.textPrimary
    palette.brightText: ThemeManager.currentTheme.textPrimary
    palette.placeholderText: ThemeManager.currentTheme.textSecondary
    palette.highlight: ThemeManager.currentTheme.primary
    palette.highlightedText: ThemeManager.labelColorOn(ThemeManager.currentTheme.primary)
    palette.light: Qt.lighter(ThemeManager.currentTheme.elementBackground, 1.6)
    palette.midlight: Qt.tint(ThemeManager.currentTheme.elementBackground, Theme.alpha(ThemeManager.currentTheme.textSecondary, 0.35))
    palette.mid: ThemeManager.currentTheme.textSecondary
    palette.dark: ThemeManager.currentTheme.primary
    palette.shadow: "#000000"
    palette.link: ThemeManager.currentTheme.accent
    palette.toolTipBase: ThemeManager.currentTheme.backgroundSecondary
    palette.toolTipText: ThemeManager.currentTheme.textPrimary
    flags: Qt.Tool | Qt.WindowTitleHint | Qt.WindowCloseButtonHint

    Loader {
        id: loader
        anchors.fill: parent
        focus: true
    }

    Shortcut {
        sequence: StandardKey.Cancel
        onActivated: root.close()
    }
}
