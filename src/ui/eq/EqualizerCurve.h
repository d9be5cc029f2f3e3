// The equaliser graph's drawing: the summed magnitude response of the peaking filters the engine
// would run for the shown gains, across the band positions, and the reference and rendering
// spectra laid over it.
#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QVariantList>

#include <vector>

namespace korvanta {

// The response in dB at `frequency` of the bands (|gain| > 0.1 dB, as the engine filters them)
// designed at `sampleRate`.
double equaliserResponseDb(const std::vector<float>& frequencies, const std::vector<float>& gains,
                           const std::vector<float>& qs, double frequency, double sampleRate);
// The frequency at horizontal position `x` of a graph `width` wide whose bands sit evenly spaced:
// between two band positions the frequency moves geometrically from one centre to the next.
double frequencyAtPosition(const std::vector<float>& frequencies, double x, double width);

class EqualizerCurve : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QVariantList gains READ gains WRITE setGains NOTIFY shapeChanged)
    Q_PROPERTY(QVariantList frequencies READ frequencies WRITE setFrequencies NOTIFY shapeChanged)
    Q_PROPERTY(QVariantList qs READ qs WRITE setQs NOTIFY shapeChanged)
    Q_PROPERTY(double sampleRate READ sampleRate WRITE setSampleRate NOTIFY shapeChanged)
    // 12-band spectra on the 0 … 10 scale; drawn when they hold a non-zero entry.
    Q_PROPERTY(QVariantList referenceSpectrum READ referenceSpectrum WRITE setReferenceSpectrum NOTIFY shapeChanged)
    Q_PROPERTY(QVariantList masteredSpectrum READ masteredSpectrum WRITE setMasteredSpectrum NOTIFY shapeChanged)
    Q_PROPERTY(bool showSpectra READ showSpectra WRITE setShowSpectra NOTIFY shapeChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY shapeChanged)
    Q_PROPERTY(QColor gridColor READ gridColor WRITE setGridColor NOTIFY shapeChanged)
    Q_PROPERTY(QColor referenceColor READ referenceColor WRITE setReferenceColor NOTIFY shapeChanged)
    Q_PROPERTY(QColor masteredColor READ masteredColor WRITE setMasteredColor NOTIFY shapeChanged)

public:
    explicit EqualizerCurve(QQuickItem* parent = nullptr);

    QVariantList gains() const;
    void setGains(const QVariantList& values);
    QVariantList frequencies() const;
    void setFrequencies(const QVariantList& values);
    QVariantList qs() const;
    void setQs(const QVariantList& values);
    double sampleRate() const { return sampleRate_; }
    void setSampleRate(double rate);
    QVariantList referenceSpectrum() const;
    void setReferenceSpectrum(const QVariantList& values);
    QVariantList masteredSpectrum() const;
    void setMasteredSpectrum(const QVariantList& values);
    bool showSpectra() const { return showSpectra_; }
    void setShowSpectra(bool value);
    QColor color() const { return color_; }
    void setColor(const QColor& c);
    QColor gridColor() const { return gridColor_; }
    void setGridColor(const QColor& c);
    QColor referenceColor() const { return referenceColor_; }
    void setReferenceColor(const QColor& c);
    QColor masteredColor() const { return masteredColor_; }
    void setMasteredColor(const QColor& c);

    // The drawn curve's response in dB at horizontal position `x` (tests).
    Q_INVOKABLE double responseAt(double x) const;

    void paint(QPainter* painter) override;

signals:
    void shapeChanged();

private:
    void changed();

    std::vector<float> gains_, frequencies_, qs_, reference_, mastered_;
    double sampleRate_ = 44100.0;
    bool showSpectra_ = false;
    QColor color_ = Qt::cyan;
    QColor gridColor_ = Qt::gray;
    QColor referenceColor_ = Qt::yellow;
    QColor masteredColor_ = Qt::green;
};

}  // namespace korvanta
