#include "app/SettingsStore.h"

#include <QByteArray>
#include <QVariant>

namespace korvanta {

namespace {

QString qKey(const std::string& key) { return QString::fromStdString(key); }

}  // namespace

SettingsStore::SettingsStore()
    // On Linux the native format is the INI syntax in a ".conf" file (IniFormat would name it
    // ".ini"), so both constructors read and write the same kind of file.
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Korvanta"), QStringLiteral("Korvanta"))) {}

SettingsStore::SettingsStore(const QString& iniPath)
    : settings_(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {}

std::optional<PreferenceValue> SettingsStore::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const QVariant v = settings_->value(qKey(key));
    if (!v.isValid()) return std::nullopt;
    switch (v.typeId()) {
    case QMetaType::Bool:
        return PreferenceValue{v.toBool()};
    case QMetaType::Float:
        return PreferenceValue{v.toFloat()};
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::LongLong:
        return PreferenceValue{v.toDouble()};
    case QMetaType::QByteArray: {
        const QByteArray bytes = v.toByteArray();
        return PreferenceValue{Bytes(bytes.begin(), bytes.end())};
    }
    default:
        // INI files keep plain values as text; the typed getters convert.
        return PreferenceValue{v.toString().toStdString()};
    }
}

void SettingsStore::setValue(const std::string& key, PreferenceValue value) {
    std::lock_guard lock(mutex_);
    QVariant v;
    if (auto* b = std::get_if<bool>(&value)) v = *b;
    else if (auto* f = std::get_if<float>(&value)) v = static_cast<double>(*f);
    else if (auto* d = std::get_if<double>(&value)) v = *d;
    else if (auto* s = std::get_if<std::string>(&value)) v = QString::fromStdString(*s);
    else if (auto* bytes = std::get_if<Bytes>(&value)) {
        v = QByteArray(reinterpret_cast<const char*>(bytes->data()),
                       static_cast<qsizetype>(bytes->size()));
    }
    settings_->setValue(qKey(key), v);
}

void SettingsStore::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->remove(qKey(key));
}

void SettingsStore::synchronize() {
    std::lock_guard lock(mutex_);
    settings_->sync();
}

QStringList SettingsStore::allKeys() const {
    std::lock_guard lock(mutex_);
    return settings_->allKeys();
}

}  // namespace korvanta
