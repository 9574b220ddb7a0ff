#include "command/Instrument.h"

#include <boost/bind/bind.hpp>
#include <exception>

#include "command/CommandNames.h"
#include "diagnostics/TraceLog.h"

namespace nelko {
namespace {

bool StartsWithHello(const std::string& name) { return name.compare(0, 5, CommandNames::Hello) == 0; }

std::string JoinParameters(const Parameters& parameters) {
    std::string joined;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (i > 0) joined += ", ";
        joined += parameters[i];
    }
    return joined;
}

}  // namespace

Instrument::Instrument() {
    UnloadDriver();
    using boost::placeholders::_1;
    using boost::placeholders::_2;
#define NELKO_DECLARE_HANDLER(name) \
    commandTable_[CommandNames::name] = boost::bind(&Instrument::On##name, this, _1, _2);
#include "command/TableCommands.inc"
#undef NELKO_DECLARE_HANDLER
}

Instrument::~Instrument() = default;

Result Instrument::Execute(const std::string& request) {
    std::string name = "?";
    try {
        name = GetCommandName(request);
        if (StartsWithHello(name)) {
            Trace("Hello -> Hello");
            return Result::Success(CommandNames::Hello);
        }
        const Parameters parameters = GetParameters(request);
        if (name == CommandNames::Init) return OnInit(parameters);

        const auto entry = commandTable_.find(name);
        if (entry == commandTable_.end()) return Result::Failure("Unknown command \"" + name + "\"");
        Trace("Command " + name + " (" + JoinParameters(parameters) + ")");
        return entry->second(name, parameters);
    } catch (const std::exception& error) {
        return Result::Failure("Error executing command \"" + name + "\" (" + error.what() + ")");
    }
}

}  // namespace nelko
