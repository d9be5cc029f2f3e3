// Fuzz target: the textual form of panel frames kept in the preferences store. What reads must
// write and read again to the same frame.
#include <cstdint>
#include <string_view>

#include "platform/PanelFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvanta;
    auto frame = panelFrameFromString(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!frame) return 0;
    auto again = panelFrameFromString(panelFrameToString(*frame));
    if (!again || !(*again == *frame)) __builtin_trap();
    return 0;
}
