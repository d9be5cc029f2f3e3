#include "app/AppDelegate.h"

#include "app/CleanupManager.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"

namespace korvanta {

AppDelegate::AppDelegate(Preferences& store, QObject* parent) : QObject(parent), store_(store) {}

void AppDelegate::applicationDidFinishLaunching() {
    store_.remove(keys::kEQSettings);
    store_.remove(keys::kActiveEQSettings);
}

void AppDelegate::applicationWillTerminate() {
    if (terminated_) return;
    terminated_ = true;
    NotificationCenter::shared()->post(notifications::kApplicationWillTerminate);
    CleanupManager::waitForBackgroundCleanup();
    CleanupManager::cleanupTempFiles(true);
    store_.synchronize();
}

}  // namespace korvanta
