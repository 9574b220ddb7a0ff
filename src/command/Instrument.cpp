#include "command/Instrument.h"

#include <boost/bind/bind.hpp>
#include <exception>

#include "diagnostics/TraceLog.h"

namespace nelko {
namespace {

const std::string kHello = "Hello";

bool StartsWithHello(const std::string& name) { return name.compare(0, kHello.size(), kHello) == 0; }

// "Command NAME (P1, P2)", put together in one allocation: it is built for every request.
std::string CommandTraceText(const std::string& name, const Parameters& parameters) {
    static const char kPrefix[] = "Command ";
    std::size_t length = sizeof kPrefix - 1 + name.size() + 3;
    for (const std::string& parameter : parameters) length += parameter.size() + 2;
    std::string text;
    text.reserve(length);
    text.append(kPrefix).append(name).append(" (");
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (i > 0) text += ", ";
        text += parameters[i];
    }
    text += ')';
    return text;
}

// "Unknown command "NAME"", in one allocation.
std::string UnknownCommandText(const std::string& name) {
    static const char kPrefix[] = "Unknown command \"";
    std::string text;
    text.reserve(sizeof kPrefix + name.size());
    text.append(kPrefix).append(name) += '"';
    return text;
}

}  // namespace

Instrument::Instrument() {
    using boost::placeholders::_1;
#define NELKO_REGISTER_HANDLER(name) commandTable_[#name] = boost::bind(&Instrument::On##name, this, _1);
    NELKO_TABLE_COMMANDS(NELKO_REGISTER_HANDLER)
#undef NELKO_REGISTER_HANDLER
}

Instrument::~Instrument() = default;

Result Instrument::Execute(const std::string& request) {
    std::string name = "?";
    try {
        name = std::string(GetCommandName(request));
        if (StartsWithHello(name)) {
            Trace("Hello -> Hello");
            return Result::Success(kHello);
        }
        const Parameters parameters = GetParameters(request);
        if (name == "Init") return OnInit(parameters);

        const auto entry = commandTable_.find(name);
        if (entry == commandTable_.end()) return Result::Failure(UnknownCommandText(name));
        Trace(CommandTraceText(name, parameters));
        return entry->second(parameters);
    } catch (const std::exception& error) {
        return Result::Failure("Error executing command \"" + name + "\" (" + error.what() + ")");
    } catch (...) {
        // A driver may throw anything at all; the caller still owes the server an answer.
        std::string text = "Error executing command \"" + name + "\" (unknown exception)";
        Trace("! " + text);
        return Result::Failure(std::move(text));
    }
}

}  // namespace nelko
