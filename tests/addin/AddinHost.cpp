// Loads the add-in in a fresh process, does what its arguments say, unloads it again:
//   entry          call VirtualChannelEntry with a stand-in client
//   run:REQUEST    run one request through SimulationExecute
// Exit code 0 when the library loaded, ran and really went away at unload, together
// with any driver it had loaded.
#include <cstdio>
#include <cstring>
#include <string>

#include "AddinLibrary.h"
#include "StandInClient.h"
#include "TestSupport.h"

int main(int argc, char** argv) {
    using namespace nelko::test;
    AddinLibrary library;
    if (!library.Load()) return 2;
    {
        StandInClient client;
        for (int i = 1; i < argc; ++i) {
            const std::string step = argv[i];
            if (step == "entry") {
                if (client.Enter(library.VirtualChannelEntry) != TRUE) return 3;
            } else if (step.rfind("run:", 0) == 0) {
                char buffer[4096];
                std::uint32_t length = 0;
                library.SimulationExecute(step.c_str() + 4, buffer, sizeof buffer, &length);
                std::printf("%.*s\n", static_cast<int>(length), buffer);
            } else {
                return 4;
            }
        }
    }
    library.Unload();
    const bool resident =
        IsLibraryResident(AddinLibraryPath()) || IsLibraryResident("./" + DriverFileName("TestDriver"));
    return resident ? 5 : 0;
}
