#include "command/Result.h"

namespace nelko {

std::string Result::ToString() const {
    std::string response = ok ? "OK" : "ERROR";
    if (!text.empty()) response.append(1, '|').append(text);
    return response;
}

}  // namespace nelko
