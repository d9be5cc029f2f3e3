#include "ui/theme/ThemeManager.h"

#include <QGuiApplication>
#include <QVariantMap>
#include <QWindow>

#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"
#include "ui/theme/BuiltInThemes.h"

namespace korvanta {

namespace {

constexpr Rgb kLightLabel{0xffffff};
constexpr Rgb kDarkLabel{0x121212};

const AppTheme& storedOrDefaultTheme(const Preferences& store) {
    const std::string id = store.stringValue(keys::kSelectedThemeId).value_or(std::string(kDefaultThemeId));
    if (const AppTheme* theme = findBuiltInTheme(id)) return *theme;
    return builtInThemes().front();
}

}  // namespace

ThemeManager* ThemeManager::shared() {
    static ThemeManager* instance = new ThemeManager(sharedPreferences());
    return instance;
}

ThemeManager* ThemeManager::create(QQmlEngine*, QJSEngine* engine) {
    ThemeManager* manager = shared();
    engine->setObjectOwnership(manager, QJSEngine::CppOwnership);
    return manager;
}

ThemeManager::ThemeManager(Preferences& store, QObject* parent)
    : QObject(parent), store_(store), colors_(new ThemeColors(storedOrDefaultTheme(store), this)) {
    currentThemeId_ = colors_->id();
}

QVariantList ThemeManager::availableThemes() const {
    QVariantList list;
    for (const AppTheme& theme : builtInThemes()) {
        list.append(QVariantMap{{QStringLiteral("id"), QString::fromStdString(theme.id)},
                                {QStringLiteral("name"), QString::fromStdString(theme.name)}});
    }
    return list;
}

void ThemeManager::applyTheme(const QString& id) {
    if (const AppTheme* theme = findBuiltInTheme(id.toStdString())) {
        colors_->setTheme(*theme);
        if (currentThemeId_ != id) {
            currentThemeId_ = id;
            store_.setString(keys::kSelectedThemeId, id.toStdString());
            emit currentThemeIdChanged();
        }
    }
    QMetaObject::invokeMethod(
        this,
        [] {
            // Bindings restyle the items; windows that draw nothing else still need a new frame.
            for (QWindow* window : QGuiApplication::topLevelWindows()) window->requestUpdate();
            NotificationCenter::shared()->post(QString::fromLatin1(notifications::kThemeDidChange));
        },
        Qt::QueuedConnection);
}

QColor ThemeManager::labelColorOn(const QColor& fill) const {
    const Rgb rgb{fill.rgb() & 0xffffffu};
    return ThemeColors::toQColor(contrastRatio(kLightLabel, rgb) >= 3.0 ? kLightLabel : kDarkLabel);
}

}  // namespace korvanta
