// The console front end shared by nelko-console (the add-in's SimulationExecute on this
// machine) and nelko-remote (the add-in in a Remote Desktop client, over its channels): the
// same arguments, output and exit codes; only where requests go differs.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

#include "Session.h"

namespace nelko::console {

struct Backend {
    const char* program;      // "nelko-console"
    std::string description;  // the first paragraph of --help
    std::string note;         // a paragraph of --help on where requests go
    std::string resources;    // what exit code 2 says cannot be used: "library, script, folder or plot"
    // Adds the backend's own options.
    std::function<void(CLI::App&)> addOptions;
    // Called once the arguments are taken and the script and plot can be used: the executor,
    // or empty with `problem` saying why there is none (exit code 2).
    std::function<Executor(std::string& problem)> open;
    // What the interactive greeting says is in use.
    std::function<std::string()> describe;
};

int RunFrontend(int argc, char** argv, const Backend& backend);

}  // namespace nelko::console
