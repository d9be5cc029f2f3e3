// The user's preferences store as the core sees it: typed values under fixed keys.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace korvanta {

using Bytes = std::vector<uint8_t>;
using PreferenceValue = std::variant<bool, float, double, std::string, Bytes>;

// Implementations must be safe to call from any thread. Typed getters convert where a person
// would expect it (a stored double read as float, a number read as bool) and answer nullopt when
// the key is absent or holds something of another kind.
class Preferences {
public:
    virtual ~Preferences() = default;

    virtual std::optional<PreferenceValue> value(const std::string& key) const = 0;
    virtual void setValue(const std::string& key, PreferenceValue value) = 0;
    virtual void remove(const std::string& key) = 0;
    // Writes pending changes through to permanent storage (no-op for memory stores).
    virtual void synchronize() = 0;

    bool contains(const std::string& key) const { return value(key).has_value(); }

    std::optional<bool> boolValue(const std::string& key) const;
    std::optional<float> floatValue(const std::string& key) const;
    std::optional<double> doubleValue(const std::string& key) const;
    std::optional<std::string> stringValue(const std::string& key) const;
    std::optional<Bytes> bytesValue(const std::string& key) const;

    void setBool(const std::string& key, bool v) { setValue(key, v); }
    void setFloat(const std::string& key, float v) { setValue(key, v); }
    void setDouble(const std::string& key, double v) { setValue(key, v); }
    void setString(const std::string& key, std::string v) { setValue(key, std::move(v)); }
    void setBytes(const std::string& key, Bytes v) { setValue(key, std::move(v)); }
};

// A store that lives in memory only: tests, and the command line, which must never change the
// user's saved settings.
class MemoryPreferences final : public Preferences {
public:
    std::optional<PreferenceValue> value(const std::string& key) const override;
    void setValue(const std::string& key, PreferenceValue value) override;
    void remove(const std::string& key) override;
    void synchronize() override {}

    std::vector<std::string> keys() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, PreferenceValue> values_;
};

// The process-wide store every component reads unless it is handed another one: every call goes
// to the store installed at that moment, so the reference stays valid across installations. Until
// the application installs its persistent store (or the command line its seeded one), that is an
// empty MemoryPreferences. Thread-safe.
Preferences& sharedPreferences();
void installSharedPreferences(std::shared_ptr<Preferences> store);

}  // namespace korvanta
