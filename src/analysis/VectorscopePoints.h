// The points of a stereo vectorscope and how they are drawn on a half disc.
#pragma once

#include <cstddef>
#include <vector>

namespace korvanta {

// Left and right sample values, one point per index.
struct VectorscopePoints {
    std::vector<float> left;
    std::vector<float> right;
};

// Keeps every step-th pair, step = n / 128 (integer division), or every pair when n < 128:
// about 128 points from a block of n frame pairs.
VectorscopePoints thinVectorscopeBlock(const float* left, const float* right, size_t n);

struct VectorscopeDot {
    double x = 0.0;  // centre, from the drawing rectangle's left edge
    double y = 0.0;  // centre, from its top edge
    double diameter = 0.0;
};

struct VectorscopePlot {
    double scale = 0.0;      // 1.2 / (mean magnitude + 0.1)
    double dotFactor = 0.0;  // 2.75 when scale ≥ 2.5, else 1.1 × max(scale, 0.6)
    std::vector<VectorscopeDot> dots;
};

// The dots for a drawing rectangle of `width` × `height`: the baseline is the bottom edge, the
// half disc's centre its middle and its radius min(width / 2, height). Samples are clamped to
// ±1; x follows the left value, the height the right value's magnitude (both × 0.9 of the
// radius); points outside the half disc are left out. No points, no dots.
VectorscopePlot plotVectorscope(const std::vector<float>& left, const std::vector<float>& right,
                                double width, double height);

}  // namespace korvanta
