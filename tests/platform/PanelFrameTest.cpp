#include "platform/PanelFrame.h"

#include <gtest/gtest.h>

namespace korvanta {
namespace {

TEST(PanelFrame, EveryFrameReadsBackUnchanged) {
    const PanelFrame frames[] = {
        {820, 380, 600, 500}, {10.5, -3, 400, 400}, {0.1, 1e-7, 1234.5678901234, 99999.125}, {}};
    for (const auto& f : frames) {
        const std::string text = panelFrameToString(f);
        auto back = panelFrameFromString(text);
        ASSERT_TRUE(back) << text;
        EXPECT_EQ(*back, f) << text;
    }
    EXPECT_EQ(panelFrameToString({820, 380, 600, 500}), "{{820, 380}, {600, 500}}");
}

TEST(PanelFrame, MalformedTextIsRefused) {
    for (const char* text : {"", "{{1, 2}, {3}}", "{{1, 2}, {3, 4}} x", "1 2 3 4", "{{nan, 2}, {3, 4}}",
                             "{{inf, 2}, {3, 4}}", "{{1, 2} {3, 4}}"}) {
        EXPECT_FALSE(panelFrameFromString(text)) << text;
    }
    EXPECT_TRUE(panelFrameFromString(" { {1 ,2},{ 3, 4} } "));
}

}  // namespace
}  // namespace korvanta
