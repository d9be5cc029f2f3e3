#include "ui/vectorscope/VectorscopeShape.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "analysis/VectorscopePoints.h"

namespace korvanta {

VectorscopeShape::VectorscopeShape(QQuickItem* parent) : QQuickPaintedItem(parent) { setAntialiasing(true); }

void VectorscopeShape::setFeed(QObject* feed) {
    auto* typed = qobject_cast<VectorscopeFeed*>(feed);
    if (typed == feed_) return;
    if (feed_) disconnect(feed_, nullptr, this, nullptr);
    feed_ = typed;
    if (feed_) connect(feed_, &VectorscopeFeed::samplesChanged, this, [this] { update(); });
    emit feedChanged();
    update();
}

void VectorscopeShape::setColor(const QColor& color) {
    if (color_ == color) return;
    color_ = color;
    emit colorChanged();
    update();
}

void VectorscopeShape::setGridColor(const QColor& color) {
    if (gridColor_ == color) return;
    gridColor_ = color;
    emit gridColorChanged();
    update();
}

void VectorscopeShape::paint(QPainter* painter) {
    const double w = width();
    const double h = height();
    const double cx = w / 2.0;
    const double r = std::min(cx, h);
    painter->setRenderHint(QPainter::Antialiasing, true);

    // The grid: half circles at a third, two thirds and the full radius, the baseline, and the
    // left, centre and right diagonals.
    QPen pen(gridColor_);
    pen.setWidthF(1.0);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    for (double k : {1.0 / 3.0, 2.0 / 3.0, 1.0}) {
        const double rr = r * k;
        painter->drawArc(QRectF(cx - rr, h - rr, 2 * rr, 2 * rr), 0, 180 * 16);
    }
    painter->drawLine(QPointF(cx - r, h - 0.5), QPointF(cx + r, h - 0.5));
    for (double angle : {45.0, 90.0, 135.0}) {
        const double a = angle * M_PI / 180.0;
        painter->drawLine(QPointF(cx, h), QPointF(cx + r * std::cos(a), h - r * std::sin(a)));
    }

    if (!feed_) return;
    const VectorscopePlot plot = plotVectorscope(feed_->leftSamples(), feed_->rightSamples(), w, h);
    QPainterPath dots;
    for (const VectorscopeDot& dot : plot.dots) {
        dots.addEllipse(QPointF(dot.x, dot.y), dot.diameter / 2.0, dot.diameter / 2.0);
    }
    painter->setPen(Qt::NoPen);
    painter->fillPath(dots, color_);
}

}  // namespace korvanta
