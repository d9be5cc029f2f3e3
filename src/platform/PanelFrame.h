// A panel's frame on screen and its textual form in the preferences store.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvanta {

// Origin and size in device-independent pixels; the origin is the top-left corner.
struct PanelFrame {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    bool isEmpty() const { return width <= 0.0 || height <= 0.0; }
    bool isZero() const { return x == 0.0 && y == 0.0 && width == 0.0 && height == 0.0; }
    friend bool operator==(const PanelFrame&, const PanelFrame&) = default;
};

// "{{x, y}, {width, height}}", each number in its shortest form that reads back exactly
// ("{{820, 380}, {600, 500}}", "{{10.5, -3}, {400, 400}}").
std::string panelFrameToString(const PanelFrame& frame);

// The inverse of panelFrameToString; white space around numbers and braces is allowed. Anything
// else, including non-finite numbers, gives nullopt.
std::optional<PanelFrame> panelFrameFromString(std::string_view text);

}  // namespace korvanta
