// What the application does when it has started and when it is about to quit.
#pragma once

#include <QObject>

#include "platform/Preferences.h"

namespace korvanta {

// Main thread only.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(Preferences& store = sharedPreferences(), QObject* parent = nullptr);

    // Every run starts with the default equaliser: both stored equaliser records are removed.
    void applicationDidFinishLaunching();
    // The panels close ("ApplicationWillTerminate" is posted), then every audio file of the
    // private temporary folder is deleted.
    void applicationWillTerminate();

private:
    Preferences& store_;
    bool terminated_ = false;
};

}  // namespace korvanta
