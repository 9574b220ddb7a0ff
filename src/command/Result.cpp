#include "command/Result.h"

namespace nelko {

std::string Result::ToString() const {
    const char* const status = ok ? "OK" : "ERROR";
    std::string response;
    response.reserve(6 + text.size());  // one allocation whatever the text
    response += status;
    if (!text.empty()) {
        response += '|';
        response += text;
    }
    return response;
}

}  // namespace nelko
