// The persistent preferences store: QSettings in the user's configuration folder.
#pragma once

#include <QSettings>

#include <memory>
#include <mutex>

#include "platform/Preferences.h"

namespace korvanta {

class SettingsStore final : public Preferences {
public:
    // The user's store: ~/.config/Korvanta/Korvanta.conf (XDG_CONFIG_HOME respected).
    SettingsStore();
    // A store in an explicit INI file (tests).
    explicit SettingsStore(const QString& iniPath);

    std::optional<PreferenceValue> value(const std::string& key) const override;
    void setValue(const std::string& key, PreferenceValue value) override;
    void remove(const std::string& key) override;
    void synchronize() override;

    QStringList allKeys() const;

private:
    mutable std::mutex mutex_;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace korvanta
