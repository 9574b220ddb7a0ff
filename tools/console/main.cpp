// nelko-console: loads the add-in library as a caller would and runs requests through its
// SimulationExecute.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "AddinLibrary.h"
#include "Frontend.h"
#include "Processes.h"

namespace fs = std::filesystem;
using namespace nelko::console;
using nelko::support::AddinLibrary;

int main(int argc, char** argv) {
    std::string libraryOption;
    std::string driverDirOption;
    fs::path library;
    std::shared_ptr<AddinLibrary> addin;

    Backend backend;
    backend.program = "nelko-console";
    backend.description =
        "Loads the NelkoClientDriver add-in library and runs requests through its SimulationExecute\n"
        "export, exactly as a caller does.";
    backend.note =
        "Instrument drivers (Init|NAME|) are loaded\n"
        "from the working folder, which --driver-dir sets.";
    backend.resources = "library, script, folder or plot";
    backend.addOptions = [&](CLI::App& app) {
        app.add_option("--library", libraryOption,
                       "Add-in library to load (default: " NELKO_ADDIN_FILE_NAME
                       " beside this program, else the installed one)")
            ->type_name("PATH");
        app.add_option("--driver-dir", driverDirOption,
                       "Folder to work in, where Init loads instrument drivers from (default: the add-in library's "
                       "folder, or the installed drivers' folder with the installed add-in)")
            ->type_name("DIR");
    };
    backend.open = [&](std::string& problem) -> Executor {
        const auto fail = [&problem](const std::string& why) {
            problem = why;
            return Executor();
        };
        std::error_code error;
        fs::path defaultDriverDir;
        std::string chosen = libraryOption;
        if (chosen.empty()) {
            const std::string programDirectory = nelko::support::ExecutableDirectory();
            if (programDirectory.empty())
                return fail("cannot tell where this program is; name the add-in with --library");
            const fs::path beside = fs::path(programDirectory) / NELKO_ADDIN_FILE_NAME;
            if (fs::exists(beside, error)) {
                chosen = beside.string();
            } else {
                // Installed from a package: the add-in sits in the client's add-in folder and
                // the drivers in their own, both at fixed places relative to this program.
                chosen = (fs::path(programDirectory) / NELKO_INSTALLED_ADDIN).string();
                defaultDriverDir = fs::path(programDirectory) / NELKO_INSTALLED_DRIVER_DIR;
            }
        }
        library = fs::absolute(chosen, error);
        if (error) return fail("cannot use the library path " + chosen + ": " + error.message());
        if (!fs::is_regular_file(library, error))
            return fail("cannot load the add-in library " + library.string() + ": no such file");
        addin = AddinLibrary::Load(library.string(), problem, AddinLibrary::Needs::SimulationExecute);
        if (addin == nullptr) return nullptr;
        fs::path driverDir = driverDirOption;
        if (driverDir.empty()) driverDir = defaultDriverDir.empty() ? library.parent_path() : defaultDriverDir;
        fs::current_path(driverDir, error);
        if (error) return fail("cannot work in the driver folder " + driverDir.string() + ": " + error.message());
        return [addin](const std::string& request) { return addin->Execute(request); };
    };
    backend.describe = [&library] { return "Add-in " + library.string() + " loaded"; };
    return RunFrontend(argc, argv, backend);
}
