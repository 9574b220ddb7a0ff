#include "command/Instrument.h"

#include <boost/bind/bind.hpp>
#include <exception>

#include "diagnostics/TraceLog.h"

namespace nelko {
namespace {

const std::string kHello = "Hello";

bool StartsWithHello(const std::string& name) { return name.compare(0, kHello.size(), kHello) == 0; }

// "Command NAME (P1, P2)"
std::string CommandTraceText(const std::string& name, const Parameters& parameters) {
    std::string text = "Command " + name + " (";
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (i > 0) text += ", ";
        text += parameters[i];
    }
    return text + ')';
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
        if (entry == commandTable_.end()) return Result::Failure("Unknown command \"" + name + '"');
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
