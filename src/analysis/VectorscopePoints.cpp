#include "analysis/VectorscopePoints.h"

#include <algorithm>
#include <cmath>

namespace korvanta {

VectorscopePoints thinVectorscopeBlock(const float* left, const float* right, size_t n) {
    VectorscopePoints points;
    const size_t step = n < 128 ? 1 : n / 128;
    points.left.reserve(n / step + 1);
    points.right.reserve(n / step + 1);
    for (size_t i = 0; i < n; i += step) {
        points.left.push_back(left[i]);
        points.right.push_back(right[i]);
    }
    return points;
}

VectorscopePlot plotVectorscope(const std::vector<float>& left, const std::vector<float>& right,
                                double width, double height) {
    VectorscopePlot plot;
    const size_t n = std::min(left.size(), right.size());
    if (n == 0) return plot;
    const double cx = width / 2.0;
    const double r = std::min(cx, height);

    double magnitudeSum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        magnitudeSum += std::sqrt(double(left[i]) * left[i] + double(right[i]) * right[i]);
    }
    const double mean = magnitudeSum / double(n);
    plot.scale = 1.2 / (mean + 0.1);
    plot.dotFactor = plot.scale >= 2.5 ? 2.75 : 1.1 * std::max(plot.scale, 0.6);

    plot.dots.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const double l = std::clamp(double(left[i]), -1.0, 1.0);
        const double rv = std::clamp(double(right[i]), -1.0, 1.0);
        const double x = cx + r * l * 0.9;
        const double y = height - std::fabs(r * rv * 0.9);
        if ((x - cx) * (x - cx) + (y - height) * (y - height) > r * r) continue;
        const double d = std::max(plot.dotFactor * (std::sqrt(l * l + rv * rv) + 0.5), 0.4);
        plot.dots.push_back({x, y, d});
    }
    return plot;
}

}  // namespace korvanta
