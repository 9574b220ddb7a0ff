// Loads the add-in in a fresh process, does what its arguments say, unloads it again:
//   entry          call VirtualChannelEntry with a stand-in client
//   run:REQUEST    run one request through SimulationExecute
//   thread:REQUEST the same on a thread of its own, as a client's channel thread does
//   reload         unload the add-in and load it again, as FreeRDP's Windows client does
// Exit code 0 when the library loaded, ran and really went away at unload, together
// with any driver it had loaded; 6 when it still runs after a minute (it hung).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "AddinLibrary.h"
#include "StandInClient.h"
#include "TestSupport.h"

int main(int argc, char** argv) {
    using namespace nelko::test;
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::minutes(1));
        std::_Exit(6);
    }).detach();
    std::string error;
    std::unique_ptr<AddinLibrary> library = AddinLibrary::Load(AddinLibraryPath(), error);
    if (library == nullptr) return 2;
    {
        StandInClient client;
        for (int i = 1; i < argc; ++i) {
            const std::string step = argv[i];
            if (step == "entry") {
                if (client.Enter(library->VirtualChannelEntry) != TRUE) return 3;
            } else if (step.rfind("run:", 0) == 0 || step.rfind("thread:", 0) == 0) {
                const auto run = [&library, request = step.substr(step.find(':') + 1)] {
                    char buffer[4096];
                    const std::uint32_t length = library->ExecuteInto(request.c_str(), buffer, sizeof buffer);
                    std::printf("%.*s\n", static_cast<int>(length), buffer);
                };
                if (step[0] == 'r') {
                    run();
                } else {
                    std::thread(run).join();
                }
            } else if (step == "reload") {
                library.reset();
                library = AddinLibrary::Load(AddinLibraryPath(), error);
                if (library == nullptr) return 2;
            } else {
                return 4;
            }
        }
    }
    library.reset();
    const bool resident =
        IsLibraryResident(AddinLibraryPath()) || IsLibraryResident("./" + DriverFileName("TestDriver"));
    return resident ? 5 : 0;
}
