// Executes one request text against the command table and the loaded driver.
#pragma once

#include <boost/function.hpp>
#include <map>
#include <string>

#include "command/Commands.h"
#include "command/RequestText.h"
#include "command/Result.h"
#include "instrument/DriverEntryPoints.h"

namespace nelko {

using CommandHandler = boost::function<Result(const Parameters&)>;
using CommandTable = std::map<std::string, CommandHandler>;

// Not copyable, as the driver library it holds is not (DriverModule).
class Instrument {
public:
    Instrument();
    ~Instrument();

    // Turns every exception the request raises, of any type, into a failure Result.
    Result Execute(const std::string& request);

    bool LoadDriver(const std::string& name);
    void UnloadDriver();
    Result OnInit(const Parameters& parameters);

    const CommandTable& Commands() const { return commandTable_; }

private:
    bool DriverLoaded() const { return driverModule_ != nullptr; }

#define NELKO_DECLARE_HANDLER(name) Result On##name(const Parameters& parameters);
    NELKO_TABLE_COMMANDS(NELKO_DECLARE_HANDLER)
#undef NELKO_DECLARE_HANDLER

    // Destroyed in reverse order: the table first, then the library is released.
    DriverModule driverModule_;
    DriverEntryPoints driver_;
    CommandTable commandTable_;
};

}  // namespace nelko
