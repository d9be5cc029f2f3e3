// The current colour scheme as QML binds to it: ThemeManager.currentTheme.<colour>.
#pragma once

#include <QColor>
#include <QObject>
#include <QQmlEngine>
#include <QString>

#include "ui/theme/AppTheme.h"

namespace korvanta {

// Owned by ThemeManager; one instance whose values change in place, so that every binding to a
// colour follows a change of theme. Main thread only.
class ThemeColors : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("ThemeManager.currentTheme")
    Q_PROPERTY(QString id READ id NOTIFY changed)
    Q_PROPERTY(QString name READ name NOTIFY changed)
    Q_PROPERTY(QColor primary READ primary NOTIFY changed)
    Q_PROPERTY(QColor secondary READ secondary NOTIFY changed)
    Q_PROPERTY(QColor accent READ accent NOTIFY changed)
    Q_PROPERTY(QColor background READ background NOTIFY changed)
    Q_PROPERTY(QColor backgroundSecondary READ backgroundSecondary NOTIFY changed)
    Q_PROPERTY(QColor cardBackground READ cardBackground NOTIFY changed)
    Q_PROPERTY(QColor elementBackground READ elementBackground NOTIFY changed)
    Q_PROPERTY(QColor textPrimary READ textPrimary NOTIFY changed)
    Q_PROPERTY(QColor textSecondary READ textSecondary NOTIFY changed)
    Q_PROPERTY(QColor success READ success NOTIFY changed)
    Q_PROPERTY(QColor warning READ warning NOTIFY changed)
    Q_PROPERTY(QColor error READ error NOTIFY changed)
    Q_PROPERTY(QColor info READ info NOTIFY changed)
    Q_PROPERTY(QColor lufsColor READ lufsColor NOTIFY changed)
    Q_PROPERTY(QColor rmsColor READ rmsColor NOTIFY changed)
    Q_PROPERTY(QColor peakColor READ peakColor NOTIFY changed)
    Q_PROPERTY(QColor stereoColor READ stereoColor NOTIFY changed)
    Q_PROPERTY(QColor originalMode READ originalMode NOTIFY changed)
    Q_PROPERTY(QColor masterMode READ masterMode NOTIFY changed)
    Q_PROPERTY(QColor finalMode READ finalMode NOTIFY changed)
    Q_PROPERTY(QColor eqMode READ eqMode NOTIFY changed)

public:
    explicit ThemeColors(AppTheme theme, QObject* parent = nullptr);

    const AppTheme& theme() const { return theme_; }
    // Emits changed() when the scheme differs from the current one.
    void setTheme(const AppTheme& theme);

    QString id() const { return QString::fromStdString(theme_.id); }
    QString name() const { return QString::fromStdString(theme_.name); }
    QColor primary() const { return toQColor(theme_.primary); }
    QColor secondary() const { return toQColor(theme_.secondary); }
    QColor accent() const { return toQColor(theme_.accent); }
    QColor background() const { return toQColor(theme_.background); }
    QColor backgroundSecondary() const { return toQColor(theme_.backgroundSecondary); }
    QColor cardBackground() const { return toQColor(theme_.cardBackground); }
    QColor elementBackground() const { return toQColor(theme_.elementBackground); }
    QColor textPrimary() const { return toQColor(theme_.textPrimary); }
    QColor textSecondary() const { return toQColor(theme_.textSecondary); }
    QColor success() const { return toQColor(theme_.success); }
    QColor warning() const { return toQColor(theme_.warning); }
    QColor error() const { return toQColor(theme_.error); }
    QColor info() const { return toQColor(theme_.info); }
    QColor lufsColor() const { return toQColor(theme_.lufsColor); }
    QColor rmsColor() const { return toQColor(theme_.rmsColor); }
    QColor peakColor() const { return toQColor(theme_.peakColor); }
    QColor stereoColor() const { return toQColor(theme_.stereoColor); }
    QColor originalMode() const { return toQColor(theme_.originalMode); }
    QColor masterMode() const { return toQColor(theme_.masterMode); }
    QColor finalMode() const { return toQColor(theme_.finalMode); }
    QColor eqMode() const { return toQColor(theme_.eqMode); }

    static QColor toQColor(Rgb colour) { return QColor::fromRgb(QRgb(0xff000000u | colour.value)); }

signals:
    void changed();

private:
    AppTheme theme_;
};

}  // namespace korvanta
