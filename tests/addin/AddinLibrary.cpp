#include "AddinLibrary.h"

#include "platform/Platform.h"

namespace nelko::test {

std::string AddinLibraryPath() { return "./" NELKO_ADDIN_FILE_NAME; }

bool AddinLibrary::Load() {
    handle = platform::OpenLibrary(AddinLibraryPath());
    VirtualChannelEntry = reinterpret_cast<VirtualChannelEntryFn>(platform::FindExport(handle, "VirtualChannelEntry"));
    SimulationExecute = reinterpret_cast<SimulationExecuteFn>(platform::FindExport(handle, "SimulationExecute"));
    return handle != nullptr && VirtualChannelEntry != nullptr && SimulationExecute != nullptr;
}

void AddinLibrary::Unload() {
    platform::CloseLibrary(handle);
    *this = AddinLibrary{};
}

}  // namespace nelko::test
