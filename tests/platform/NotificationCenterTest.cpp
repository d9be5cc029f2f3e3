#include "platform/NotificationCenter.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <thread>

#include "support/QtTestSupport.h"

namespace korvanta {
namespace {

TEST(NotificationCenter, ObserversRunInOrderOnlyForTheirNameUntilRemoved) {
    NotificationCenter center;
    QStringList calls;
    auto a = center.addObserver("A", [&] { calls << "a1"; });
    center.addObserver("B", [&] { calls << "b"; });
    center.addObserver("A", [&] { calls << "a2"; });
    QSignalSpy posted(&center, &NotificationCenter::posted);

    center.post("A");
    EXPECT_EQ(calls, QStringList({"a1", "a2"})) << "a post from the main thread is delivered at once";
    ASSERT_EQ(posted.count(), 1);
    EXPECT_EQ(posted.at(0).at(0).toString(), "A");

    center.removeObserver(a);
    center.removeObserver(a);  // a second removal is harmless
    calls.clear();
    center.post("A");
    EXPECT_EQ(calls, QStringList({"a2"}));
}

TEST(NotificationCenter, ABlockMayRemoveAnotherAndContextsEndRegistrations) {
    NotificationCenter center;
    int second = 0;
    NotificationCenter::Token later = 0;
    center.addObserver("X", [&] { center.removeObserver(later); });
    later = center.addObserver("X", [&] { ++second; });
    center.post("X");
    EXPECT_EQ(second, 0) << "removed by an earlier block of the same delivery";

    int withContext = 0;
    auto* context = new QObject;
    center.addObserver("Y", [&] { ++withContext; }, context);
    EXPECT_EQ(center.observerCount("Y"), 1);
    delete context;
    center.post("Y");
    EXPECT_EQ(withContext, 0);
    EXPECT_EQ(center.observerCount("Y"), 0);
}

TEST(NotificationCenter, PostsFromOtherThreadsAreDeliveredOnTheMainThread) {
    NotificationCenter center;
    bool onMain = false;
    int calls = 0;
    center.addObserver("Z", [&] {
        onMain = test::onMainThread();
        ++calls;
    });
    std::thread([&] { center.post("Z"); }).join();
    EXPECT_EQ(calls, 0) << "nothing runs on the posting thread";
    ASSERT_TRUE(test::waitUntil([&] { return calls == 1; }));
    EXPECT_TRUE(onMain);
}

}  // namespace
}  // namespace korvanta
