// Draws a vectorscope feed's points as dots on a half disc.
#pragma once

#include <QColor>
#include <QPointer>
#include <QQuickPaintedItem>

#include "analysis/VectorscopeFeed.h"

namespace korvanta {

class VectorscopeShape : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QObject* feed READ feed WRITE setFeed NOTIFY feedChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(QColor gridColor READ gridColor WRITE setGridColor NOTIFY gridColorChanged)

public:
    explicit VectorscopeShape(QQuickItem* parent = nullptr);

    QObject* feed() const { return feed_; }
    void setFeed(QObject* feed);
    QColor color() const { return color_; }
    void setColor(const QColor& color);
    QColor gridColor() const { return gridColor_; }
    void setGridColor(const QColor& color);

    void paint(QPainter* painter) override;

signals:
    void feedChanged();
    void colorChanged();
    void gridColorChanged();

private:
    QPointer<VectorscopeFeed> feed_;
    QColor color_ = Qt::green;
    QColor gridColor_ = Qt::gray;
};

}  // namespace korvanta
