#include "platform/Error.h"

namespace korvanta {

std::string Error::description() const {
    if (!message.empty()) return message;
    return "The operation couldn't be completed. (" + domain + " error " + std::to_string(code) +
           ".)";
}

Error cancelledError() {
    return Error{errc::kApp, errc::kCancelled, "The process was canceled by the user"};
}

}  // namespace korvanta
