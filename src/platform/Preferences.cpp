#include "platform/Preferences.h"

namespace korvanta {

namespace {

template <typename Number>
std::optional<Number> asNumber(const PreferenceValue& v) {
    if (auto* b = std::get_if<bool>(&v)) return static_cast<Number>(*b ? 1 : 0);
    if (auto* f = std::get_if<float>(&v)) return static_cast<Number>(*f);
    if (auto* d = std::get_if<double>(&v)) return static_cast<Number>(*d);
    if (auto* s = std::get_if<std::string>(&v)) {
        try {
            size_t used = 0;
            const double parsed = std::stod(*s, &used);
            if (used == s->size()) return static_cast<Number>(parsed);
        } catch (...) {
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<bool> Preferences::boolValue(const std::string& key) const {
    auto v = value(key);
    if (!v) return std::nullopt;
    if (auto* s = std::get_if<std::string>(&*v)) {
        if (*s == "true" || *s == "YES") return true;
        if (*s == "false" || *s == "NO") return false;
    }
    auto n = asNumber<double>(*v);
    if (!n) return std::nullopt;
    return *n != 0.0;
}

std::optional<float> Preferences::floatValue(const std::string& key) const {
    auto v = value(key);
    return v ? asNumber<float>(*v) : std::nullopt;
}

std::optional<double> Preferences::doubleValue(const std::string& key) const {
    auto v = value(key);
    return v ? asNumber<double>(*v) : std::nullopt;
}

std::optional<std::string> Preferences::stringValue(const std::string& key) const {
    auto v = value(key);
    if (!v) return std::nullopt;
    if (auto* s = std::get_if<std::string>(&*v)) return *s;
    return std::nullopt;
}

std::optional<Bytes> Preferences::bytesValue(const std::string& key) const {
    auto v = value(key);
    if (!v) return std::nullopt;
    if (auto* b = std::get_if<Bytes>(&*v)) return *b;
    if (auto* s = std::get_if<std::string>(&*v)) return Bytes(s->begin(), s->end());
    return std::nullopt;
}

namespace {

// The store behind sharedPreferences(): forwards every call to whatever store is installed at the
// time of the call, so that a reference taken early stays valid when another store is installed.
class SharedPreferences final : public Preferences {
public:
    std::optional<PreferenceValue> value(const std::string& key) const override {
        return current()->value(key);
    }
    void setValue(const std::string& key, PreferenceValue value) override {
        current()->setValue(key, std::move(value));
    }
    void remove(const std::string& key) override { current()->remove(key); }
    void synchronize() override { current()->synchronize(); }

    void install(std::shared_ptr<Preferences> store) {
        std::lock_guard lock(mutex_);
        store_ = std::move(store);
    }

private:
    std::shared_ptr<Preferences> current() const {
        std::lock_guard lock(mutex_);
        if (!store_) store_ = std::make_shared<MemoryPreferences>();
        return store_;
    }

    mutable std::mutex mutex_;
    mutable std::shared_ptr<Preferences> store_;
};

SharedPreferences& sharedStore() {
    static SharedPreferences* store = new SharedPreferences();  // never destroyed
    return *store;
}

}  // namespace

Preferences& sharedPreferences() { return sharedStore(); }

void installSharedPreferences(std::shared_ptr<Preferences> store) {
    sharedStore().install(std::move(store));
}

std::optional<PreferenceValue> MemoryPreferences::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void MemoryPreferences::setValue(const std::string& key, PreferenceValue value) {
    std::lock_guard lock(mutex_);
    values_[key] = std::move(value);
}

void MemoryPreferences::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
}

std::vector<std::string> MemoryPreferences::keys() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [k, v] : values_) out.push_back(k);
    return out;
}

}  // namespace korvanta
