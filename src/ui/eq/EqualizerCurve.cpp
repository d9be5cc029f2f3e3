#include "ui/eq/EqualizerCurve.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "engine/Biquad.h"

namespace korvanta {

namespace {

std::vector<float> toFloats(const QVariantList& list) {
    std::vector<float> out;
    out.reserve(size_t(list.size()));
    for (const QVariant& v : list) out.push_back(v.toFloat());
    return out;
}

QVariantList toList(const std::vector<float>& values) {
    QVariantList out;
    for (float v : values) out.append(double(v));
    return out;
}

bool anyNonZero(const std::vector<float>& values) {
    return std::any_of(values.begin(), values.end(), [](float v) { return v != 0.0f; });
}

}  // namespace

double equaliserResponseDb(const std::vector<float>& frequencies, const std::vector<float>& gains,
                           const std::vector<float>& qs, double frequency, double sampleRate) {
    double sum = 0.0;
    const size_t n = std::min({frequencies.size(), gains.size(), qs.size()});
    for (size_t i = 0; i < n; ++i) {
        if (std::fabs(gains[i]) <= 0.1f) continue;
        // Centres at or above Nyquist are designed as the engine designs them.
        const auto design = BiquadCoefficients::peaking(frequencies[i], gains[i], qs[i], float(sampleRate));
        sum += design.magnitudeDb(frequency, sampleRate);
    }
    return sum;
}

double frequencyAtPosition(const std::vector<float>& frequencies, double x, double width) {
    if (frequencies.empty()) return 1000.0;
    if (frequencies.size() == 1 || width <= 0) return frequencies.front();
    const double position = std::clamp(x / width, 0.0, 1.0) * double(frequencies.size() - 1);
    const size_t i = std::min(size_t(position), frequencies.size() - 2);
    const double t = position - double(i);
    return frequencies[i] * std::pow(double(frequencies[i + 1]) / frequencies[i], t);
}

EqualizerCurve::EqualizerCurve(QQuickItem* parent) : QQuickPaintedItem(parent) { setAntialiasing(true); }

void EqualizerCurve::changed() {
    emit shapeChanged();
    update();
}

QVariantList EqualizerCurve::gains() const { return toList(gains_); }
void EqualizerCurve::setGains(const QVariantList& values) {
    gains_ = toFloats(values);
    changed();
}
QVariantList EqualizerCurve::frequencies() const { return toList(frequencies_); }
void EqualizerCurve::setFrequencies(const QVariantList& values) {
    frequencies_ = toFloats(values);
    changed();
}
QVariantList EqualizerCurve::qs() const { return toList(qs_); }
void EqualizerCurve::setQs(const QVariantList& values) {
    qs_ = toFloats(values);
    changed();
}
void EqualizerCurve::setSampleRate(double rate) {
    if (rate <= 0 || rate == sampleRate_) return;
    sampleRate_ = rate;
    changed();
}
QVariantList EqualizerCurve::referenceSpectrum() const { return toList(reference_); }
void EqualizerCurve::setReferenceSpectrum(const QVariantList& values) {
    reference_ = toFloats(values);
    changed();
}
QVariantList EqualizerCurve::masteredSpectrum() const { return toList(mastered_); }
void EqualizerCurve::setMasteredSpectrum(const QVariantList& values) {
    mastered_ = toFloats(values);
    changed();
}
void EqualizerCurve::setShowSpectra(bool value) {
    if (value == showSpectra_) return;
    showSpectra_ = value;
    changed();
}
void EqualizerCurve::setColor(const QColor& c) {
    if (c == color_) return;
    color_ = c;
    changed();
}
void EqualizerCurve::setGridColor(const QColor& c) {
    if (c == gridColor_) return;
    gridColor_ = c;
    changed();
}
void EqualizerCurve::setReferenceColor(const QColor& c) {
    if (c == referenceColor_) return;
    referenceColor_ = c;
    changed();
}
void EqualizerCurve::setMasteredColor(const QColor& c) {
    if (c == masteredColor_) return;
    masteredColor_ = c;
    changed();
}

double EqualizerCurve::responseAt(double x) const {
    return equaliserResponseDb(frequencies_, gains_, qs_, frequencyAtPosition(frequencies_, x, width()), sampleRate_);
}

void EqualizerCurve::paint(QPainter* painter) {
    const double w = width();
    const double h = height();
    if (w <= 0 || h <= 0) return;
    painter->setRenderHint(QPainter::Antialiasing, true);

    // Grid: the 0 dB line, ±5 dB and a line at every band.
    QPen grid(gridColor_, 1.0);
    painter->setPen(grid);
    for (double db : {-5.0, 0.0, 5.0}) {
        const double y = h / 2.0 - db / 10.0 * h / 2.0;
        grid.setStyle(db == 0.0 ? Qt::SolidLine : Qt::DotLine);
        painter->setPen(grid);
        painter->drawLine(QPointF(0, y), QPointF(w, y));
    }
    grid.setStyle(Qt::DotLine);
    painter->setPen(grid);
    const size_t n = frequencies_.size();
    for (size_t i = 0; n > 1 && i < n; ++i) {
        const double x = double(i) * w / double(n - 1);
        painter->drawLine(QPointF(x, 0), QPointF(x, h));
    }

    // Spectra overlays: 0 … 10 from the bottom to the top, through the band positions.
    const auto drawSpectrum = [&](const std::vector<float>& spectrum, const QColor& colour) {
        if (!anyNonZero(spectrum) || spectrum.size() < 2) return;
        QPainterPath path;
        for (size_t i = 0; i < spectrum.size(); ++i) {
            const QPointF point(double(i) * w / double(spectrum.size() - 1),
                                h - std::clamp(double(spectrum[i]), 0.0, 10.0) / 10.0 * h);
            if (i == 0) path.moveTo(point);
            else path.lineTo(point);
        }
        painter->setPen(QPen(colour, 1.5, Qt::DashLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(path);
    };
    if (showSpectra_) {
        drawSpectrum(reference_, referenceColor_);
        drawSpectrum(mastered_, masteredColor_);
    }

    // The response, one point per pixel, clipped to the ±10 dB scale.
    QPainterPath curve;
    QPainterPath fill;
    const int steps = std::max(2, int(std::ceil(w)));
    for (int s = 0; s <= steps; ++s) {
        const double x = w * double(s) / double(steps);
        const double db = std::clamp(responseAt(x), -10.0, 10.0);
        const QPointF point(x, h / 2.0 - db / 10.0 * h / 2.0);
        if (s == 0) {
            curve.moveTo(point);
            fill.moveTo(x, h / 2.0);
        }
        curve.lineTo(point);
        fill.lineTo(point);
    }
    fill.lineTo(w, h / 2.0);
    fill.closeSubpath();
    QColor fillColour = color_;
    fillColour.setAlphaF(0.18f);
    painter->fillPath(fill, fillColour);
    painter->setPen(QPen(color_, 2.0));
    painter->drawPath(curve);
}

}  // namespace korvanta
