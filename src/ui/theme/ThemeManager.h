// The colour scheme of every window: the current theme, the list to choose from, and the choice
// remembered under "selectedThemeId".
#pragma once

#include <QColor>
#include <QObject>
#include <QQmlEngine>
#include <QString>
#include <QVariantList>

#include "platform/Preferences.h"
#include "ui/theme/ThemeColors.h"

namespace korvanta {

// One shared instance for the process (created on first use, never destroyed); tests make their
// own over a memory store. Main thread only.
class ThemeManager : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    // Always the same object; its colours change in place.
    Q_PROPERTY(korvanta::ThemeColors* currentTheme READ currentTheme CONSTANT)
    Q_PROPERTY(QString currentThemeId READ currentThemeId NOTIFY currentThemeIdChanged)
    // [{id, name}] of the built-in themes, in the order the settings list them.
    Q_PROPERTY(QVariantList availableThemes READ availableThemes CONSTANT)

public:
    static ThemeManager* shared();
    static ThemeManager* create(QQmlEngine*, QJSEngine* engine);

    // Starts with the theme stored under "selectedThemeId"; "original" when nothing is stored or
    // the stored id names no theme (the store is left as it is until the user chooses).
    explicit ThemeManager(Preferences& store, QObject* parent = nullptr);

    ThemeColors* currentTheme() const { return colors_; }
    QString currentThemeId() const { return currentThemeId_; }
    QVariantList availableThemes() const;

    // Makes the theme with this id current and stores its id; an unknown id changes nothing.
    // Either way, on a later turn of the event loop, every window is redrawn and "ThemeDidChange"
    // is posted.
    Q_INVOKABLE void applyTheme(const QString& id);

    // The colour for a label or an icon drawn on a fill of `fill`: white while it keeps 3:1
    // against the fill, otherwise near-black.
    Q_INVOKABLE QColor labelColorOn(const QColor& fill) const;

signals:
    void currentThemeIdChanged();

private:
    Preferences& store_;
    ThemeColors* colors_;
    QString currentThemeId_;
};

}  // namespace korvanta
