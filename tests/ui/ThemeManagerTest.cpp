// Themes (the built-in schemes, the manager, the QML bindings) and transient messages.
#include "ui/theme/ThemeManager.h"

#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QSignalSpy>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"
#include "support/ManualDelays.h"
#include "support/QtTestSupport.h"
#include "ui/EngineSetup.h"
#include "ui/controls/IconTable.h"
#include "ui/theme/BuiltInThemes.h"
#include "ui/theme/ToastManager.h"

Q_IMPORT_QML_PLUGIN(KorvantaPlugin)

namespace korvanta {
namespace {

TEST(BuiltInThemes, AreTheSixSchemesInSettingsOrder) {
    std::vector<std::pair<std::string, std::string>> themes;
    for (const AppTheme& theme : builtInThemes()) themes.emplace_back(theme.id, theme.name);
    EXPECT_EQ(themes, (decltype(themes){{"original", "Original"}, {"dark", "Dark Mode"},
                                        {"ocean", "Ocean Blue"}, {"sunset", "Black & Gold"},
                                        {"forest", "Forest Green"}, {"teal", "Teal Dream"}}));
    EXPECT_EQ(builtInThemes().front().id, kDefaultThemeId);
}

// CIE 1976 colour difference, for telling whether two colours read as different at a glance.
double deltaE(Rgb a, Rgb b) {
    auto lab = [](Rgb c) {
        auto lin = [](uint8_t v) {
            const double x = v / 255.0;
            return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
        };
        const double r = lin(c.red()), g = lin(c.green()), b = lin(c.blue());
        auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
        const double fx = f((0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047);
        const double fy = f(0.2126 * r + 0.7152 * g + 0.0722 * b);
        const double fz = f((0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883);
        return std::array<double, 3>{116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
    };
    const auto p = lab(a), q = lab(b);
    return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

// What the user must be able to read in every scheme.
TEST(BuiltInThemes, KeepTextLegibleAndModesApart) {
    const std::array<Rgb AppTheme::*, 4> surfaces{&AppTheme::background, &AppTheme::backgroundSecondary,
                                                  &AppTheme::cardBackground, &AppTheme::elementBackground};
    // Drawn as text, icons or figures on the screens' surfaces (element backgrounds carry only the
    // two text colours).
    const std::array<Rgb AppTheme::*, 15> inks{
        &AppTheme::primary,     &AppTheme::secondary,  &AppTheme::accent,       &AppTheme::success,
        &AppTheme::warning,     &AppTheme::error,      &AppTheme::info,         &AppTheme::lufsColor,
        &AppTheme::rmsColor,    &AppTheme::peakColor,  &AppTheme::stereoColor,  &AppTheme::originalMode,
        &AppTheme::masterMode,  &AppTheme::finalMode,  &AppTheme::eqMode};
    const std::array<Rgb AppTheme::*, 4> modes{&AppTheme::originalMode, &AppTheme::masterMode,
                                               &AppTheme::finalMode, &AppTheme::eqMode};
    MemoryPreferences scratch;
    ThemeManager labels(scratch);
    for (const AppTheme& theme : builtInThemes()) {
        SCOPED_TRACE(theme.id);
        for (const ThemeColourField& field : kThemeColourFields)
            EXPECT_NE((theme.*field.member).value, 0u) << field.name << " left unset";
        double primary = 21, secondary = 21, ink = 21, label = 21, modeGap = 1000;
        for (auto surface : surfaces) {
            primary = std::min(primary, contrastRatio(theme.textPrimary, theme.*surface));
            secondary = std::min(secondary, contrastRatio(theme.textSecondary, theme.*surface));
            if (surface == &AppTheme::elementBackground) continue;
            for (auto colour : inks) ink = std::min(ink, contrastRatio(theme.*colour, theme.*surface));
        }
        // Labels on filled buttons (primary actions, CANCEL).
        for (Rgb fill : {theme.primary, theme.error}) {
            const QColor on = labels.labelColorOn(ThemeColors::toQColor(fill));
            label = std::min(label, contrastRatio(Rgb{on.rgb() & 0xffffffu}, fill));
        }
        for (size_t i = 0; i < modes.size(); ++i)
            for (size_t j = i + 1; j < modes.size(); ++j)
                modeGap = std::min(modeGap, deltaE(theme.*modes[i], theme.*modes[j]));
        EXPECT_GE(primary, 4.5);
        EXPECT_GE(secondary, 3.0);
        EXPECT_GE(ink, 3.0);
        EXPECT_GE(label, 3.0);
        EXPECT_GE(modeGap, 40.0) << "original/master/final/eq must not look alike";
    }
}

class ThemeManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        token = NotificationCenter::shared()->addObserver(QString::fromLatin1(notifications::kThemeDidChange),
                                                          [this] { ++themePosts; });
    }
    void TearDown() override { NotificationCenter::shared()->removeObserver(token); }

    MemoryPreferences store;
    NotificationCenter::Token token = 0;
    int themePosts = 0;
};

TEST_F(ThemeManagerTest, StartsWithTheStoredThemeOrFallsBackToOriginal) {
    struct Case {
        std::optional<std::string> stored;
        const char* id;
        const char* name;
    };
    for (const Case& c : {Case{std::nullopt, "original", "Original"}, Case{"sunset", "sunset", "Black & Gold"},
                          Case{"teal", "teal", "Teal Dream"}, Case{"purple-haze", "original", "Original"},
                          Case{"", "original", "Original"}}) {
        SCOPED_TRACE(c.stored.value_or("(absent)"));
        MemoryPreferences prefs;
        if (c.stored) prefs.setString(keys::kSelectedThemeId, *c.stored);
        ThemeManager manager(prefs);
        EXPECT_EQ(manager.currentThemeId(), QString::fromLatin1(c.id));
        EXPECT_EQ(manager.currentTheme()->name(), QString::fromUtf8(c.name));
        // Starting never rewrites the stored choice.
        EXPECT_EQ(prefs.stringValue(keys::kSelectedThemeId), c.stored);
    }
}

TEST_F(ThemeManagerTest, ApplyingAThemeRestylesStoresAndNotifiesLater) {
    ThemeManager manager(store);
    QSignalSpy colours(manager.currentTheme(), &ThemeColors::changed);
    QSignalSpy id(&manager, &ThemeManager::currentThemeIdChanged);
    manager.applyTheme(QStringLiteral("forest"));
    EXPECT_EQ(manager.currentThemeId(), QStringLiteral("forest"));
    EXPECT_EQ(manager.currentTheme()->background(), ThemeColors::toQColor(findBuiltInTheme("forest")->background));
    EXPECT_EQ(colours.count(), 1);
    EXPECT_EQ(id.count(), 1);
    EXPECT_EQ(store.stringValue(keys::kSelectedThemeId), "forest");
    EXPECT_EQ(themePosts, 0) << "the notification follows on a later turn of the event loop";
    test::drainEvents();
    EXPECT_EQ(themePosts, 1);

    // The next start comes back with it.
    EXPECT_EQ(ThemeManager(store).currentThemeId(), QStringLiteral("forest"));
}

TEST_F(ThemeManagerTest, AnUnknownIdKeepsTheThemeButStillNotifies) {
    store.setString(keys::kSelectedThemeId, "ocean");
    ThemeManager manager(store);
    QSignalSpy colours(manager.currentTheme(), &ThemeColors::changed);
    manager.applyTheme(QStringLiteral("neon"));
    manager.applyTheme(QStringLiteral("ocean"));  // already current
    test::drainEvents();
    EXPECT_EQ(manager.currentThemeId(), QStringLiteral("ocean"));
    EXPECT_EQ(colours.count(), 0);
    EXPECT_EQ(store.stringValue(keys::kSelectedThemeId), "ocean");
    EXPECT_EQ(themePosts, 2);
}

// The screens bind ThemeManager.currentTheme.<colour> (a change of theme must reach them) and
// call ToastManager.show(message, ToastManager.<kind>, seconds).
TEST_F(ThemeManagerTest, QmlBindingsFollowTheSharedManagers) {
    installSharedPreferences(std::make_shared<MemoryPreferences>());
    QQmlApplicationEngine engine;
    setUpEngine(engine);
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport Korvanta\nQtObject {\n"
                      "  property color card: ThemeManager.currentTheme.cardBackground\n"
                      "  property string id: ThemeManager.currentThemeId\n"
                      "  property int themes: ThemeManager.availableThemes.length\n"
                      "  property string font: Theme.fontFamily\n"
                      "  Component.onCompleted: ToastManager.show(\"Saved\", ToastManager.warning, 2.0)\n}\n",
                      QUrl(QStringLiteral("qrc:/test/Binding.qml")));
    std::unique_ptr<QObject> object(component.create());
    ASSERT_TRUE(object) << component.errorString().toStdString();
    EXPECT_EQ(object->property("themes").toInt(), 6);
    EXPECT_FALSE(object->property("font").toString().isEmpty());
    ASSERT_GT(ToastManager::shared()->count(), 0) << "the screens' form of show() reaches the manager";
    EXPECT_EQ(ToastManager::shared()->messages().back().type, ToastManager::ToastType::Warning);
    EXPECT_EQ(ToastManager::shared()->messages().back().duration, 2.0);
    ThemeManager::shared()->applyTheme(QStringLiteral("dark"));
    EXPECT_EQ(object->property("id").toString(), QStringLiteral("dark"));
    EXPECT_EQ(object->property("card").value<QColor>(), ThemeColors::toQColor(findBuiltInTheme("dark")->cardBackground));
    ThemeManager::shared()->applyTheme(QStringLiteral("original"));
    EXPECT_EQ(object->property("card").value<QColor>(), ThemeColors::toQColor(findBuiltInTheme("original")->cardBackground));
    test::drainEvents();
}

using Toast = ToastManager::ToastMessage;

Toast toast(const char* text, double seconds) {
    Toast t;
    t.message = QString::fromUtf8(text);
    t.duration = seconds;
    return t;
}

class ToastManagerTest : public ::testing::Test {
protected:
    QStringList shown() const {
        QStringList out;
        for (const Toast& t : toasts.messages()) out << t.message;
        return out;
    }
    std::shared_ptr<test::ManualDelays> delays = test::installManualDelays();
    ToastManager toasts{nullptr};
};

TEST_F(ToastManagerTest, EachToastLeavesAfterItsOwnDuration) {
    QSignalSpy removed(&toasts, &QAbstractItemModel::rowsRemoved);
    toasts.show(toast("first", 3.0));
    delays->advance(1.0);
    toasts.show(toast("second", 1.0));
    EXPECT_EQ(shown(), (QStringList{"first", "second"})) << "stacked oldest first";

    delays->advance(0.99);
    EXPECT_EQ(shown(), (QStringList{"first", "second"}));
    delays->advance(0.02);  // t = 2.01: the second one's time is up
    EXPECT_EQ(shown(), QStringList{"first"});
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 1) << "only its own row goes";
    delays->advance(1.0);  // t = 3.01
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_EQ(removed.count(), 2);
}

TEST_F(ToastManagerTest, DismissingRemovesEveryCopyOfTheSameMessage) {
    const Toast same = toast("twice", 5.0);
    toasts.show(same);
    toasts.show(toast("other", 5.0));
    toasts.show(same);
    QSignalSpy count(&toasts, &ToastManager::countChanged);
    toasts.dismiss(same.id);
    EXPECT_EQ(shown(), QStringList{"other"});
    EXPECT_EQ(count.count(), 1);

    toasts.dismiss(same.id);  // already gone
    toasts.dismiss(QUuid::createUuid());
    EXPECT_EQ(count.count(), 1);
    delays->advance(5.0);  // the copies' own dismissals find nothing, "other" leaves
    EXPECT_TRUE(shown().isEmpty());
}

TEST_F(ToastManagerTest, QmlFormGivesEachKindItsIconAndTint) {
    const std::tuple<int, const char*, const char*> cases[] = {
        {0, "success", "checkmark.circle.fill"}, {1, "warning", "exclamationmark.triangle.fill"},
        {2, "error", "xmark.circle.fill"},       {3, "info", "info.circle.fill"},
        {7, "info", "info.circle.fill"},         {-1, "info", "info.circle.fill"}};
    const QString text = QStringLiteral("All data cleaned\nApp restored to default state");
    for (const auto& [type, kind, icon] : cases) {
        SCOPED_TRACE(type);
        toasts.show(text, type, 3.0);
        const QModelIndex row = toasts.index(toasts.count() - 1);
        EXPECT_EQ(row.data(ToastManager::KindRole).toString(), QString::fromLatin1(kind));
        EXPECT_EQ(row.data(ToastManager::IconNameRole).toString(), QString::fromLatin1(icon));
        EXPECT_TRUE(iconCodepoint(icon)) << "the icon table knows the toast's icon";
        EXPECT_EQ(row.data(ToastManager::MessageRole).toString(), text);
        EXPECT_EQ(QUuid::fromString(row.data(ToastManager::IdRole).toString()), toasts.messages().back().id);
    }
    EXPECT_EQ(toasts.property("success").toInt(), 0) << "ToastManager.success as the screens pass it";
    EXPECT_EQ(toasts.roleNames().value(ToastManager::KindRole), QByteArray("kind"));
}

TEST_F(ToastManagerTest, ANonsenseDurationDismissesOnTheNextStep) {
    toasts.show(toast("nan", std::nan("")));
    toasts.show(toast("negative", -2.0));
    delays->advance(0.0);
    EXPECT_TRUE(shown().isEmpty());
}

}  // namespace
}  // namespace korvanta
