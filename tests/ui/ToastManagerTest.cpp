#include "ui/theme/ToastManager.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include "support/ManualDelays.h"
#include "ui/controls/IconTable.h"

namespace korvanta {
namespace {

using Toast = ToastManager::ToastMessage;
using Type = ToastManager::ToastType;

Toast toast(const char* text, double seconds, Type type = Type::Success) {
    Toast t;
    t.message = QString::fromUtf8(text);
    t.duration = seconds;
    t.type = type;
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
    struct Case {
        int type;
        const char* kind;
        const char* icon;
    };
    for (const Case& c : {Case{0, "success", "checkmark.circle.fill"}, Case{1, "warning", "exclamationmark.triangle.fill"},
                          Case{2, "error", "xmark.circle.fill"}, Case{3, "info", "info.circle.fill"},
                          Case{7, "info", "info.circle.fill"}, Case{-1, "info", "info.circle.fill"}}) {
        SCOPED_TRACE(c.type);
        toasts.show(QStringLiteral("All data cleaned\nApp restored to default state"), c.type, 3.0);
        const QModelIndex row = toasts.index(toasts.count() - 1);
        EXPECT_EQ(row.data(ToastManager::KindRole).toString(), QString::fromLatin1(c.kind));
        EXPECT_EQ(row.data(ToastManager::IconNameRole).toString(), QString::fromLatin1(c.icon));
        EXPECT_TRUE(iconCodepoint(c.icon)) << "the icon table knows the toast's icon";
        EXPECT_EQ(row.data(ToastManager::MessageRole).toString(), QStringLiteral("All data cleaned\nApp restored to default state"));
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
