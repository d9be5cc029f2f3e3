#include "platform/PanelFrame.h"

#include <array>
#include <charconv>
#include <cmath>

namespace korvanta {

namespace {

std::string number(double v) {
    std::array<char, 32> buffer{};
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v);
    if (ec != std::errc()) return "0";
    return std::string(buffer.data(), end);
}

class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    bool expect(char c) {
        skipSpace();
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    std::optional<double> number() {
        skipSpace();
        double v = 0.0;
        auto [end, ec] = std::from_chars(text_.data() + pos_, text_.data() + text_.size(), v);
        if (ec != std::errc() || !std::isfinite(v)) return std::nullopt;
        pos_ = static_cast<size_t>(end - text_.data());
        return v;
    }
    bool atEnd() {
        skipSpace();
        return pos_ == text_.size();
    }

private:
    void skipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n'))
            ++pos_;
    }
    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

std::string panelFrameToString(const PanelFrame& frame) {
    return "{{" + number(frame.x) + ", " + number(frame.y) + "}, {" + number(frame.width) + ", " +
           number(frame.height) + "}}";
}

std::optional<PanelFrame> panelFrameFromString(std::string_view text) {
    Scanner s(text);
    PanelFrame f;
    if (!s.expect('{') || !s.expect('{')) return std::nullopt;
    auto x = s.number();
    if (!x || !s.expect(',')) return std::nullopt;
    auto y = s.number();
    if (!y || !s.expect('}') || !s.expect(',') || !s.expect('{')) return std::nullopt;
    auto w = s.number();
    if (!w || !s.expect(',')) return std::nullopt;
    auto h = s.number();
    if (!h || !s.expect('}') || !s.expect('}') || !s.atEnd()) return std::nullopt;
    f.x = *x;
    f.y = *y;
    f.width = *w;
    f.height = *h;
    return f;
}

}  // namespace korvanta
