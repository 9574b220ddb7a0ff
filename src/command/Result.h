// The outcome of one command and its rendering as response text.
#pragma once

#include <string>
#include <utility>

namespace nelko {

class Result {
public:
    Result(bool succeeded, std::string message) : ok(succeeded), text(std::move(message)) {}

    static Result Success(std::string text = {}) { return Result(true, std::move(text)); }
    static Result FromBool(bool value) { return Result(true, value ? "true" : "false"); }
    static Result Failure(std::string text) { return Result(false, std::move(text)); }

    // "OK" or "ERROR", then "|" and the text when there is one.
    std::string ToString() const { return (ok ? "OK" : "ERROR") + (text.empty() ? std::string() : "|" + text); }

    bool ok;
    std::string text;
};

}  // namespace nelko
