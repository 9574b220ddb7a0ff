#include "AddinLibrary.h"

#include "platform/Platform.h"

namespace nelko::test {

std::string AddinLibraryPath() { return "./" NELKO_ADDIN_FILE_NAME; }

bool AddinLibrary::Load() {
    handle = platform::OpenLibrary(AddinLibraryPath());
    VirtualChannelEntry = reinterpret_cast<VirtualChannelEntryFn>(platform::FindExport(handle, "VirtualChannelEntry"));
    SimulationExecute = reinterpret_cast<SimulationExecuteFn>(platform::FindExport(handle, "SimulationExecute"));
#if NELKO_ADDIN_EXTENDED_ENTRY
    VirtualChannelEntryEx =
        reinterpret_cast<VirtualChannelEntryExFn>(platform::FindExport(handle, "VirtualChannelEntryEx"));
    if (VirtualChannelEntryEx == nullptr) return false;
#endif
    return handle != nullptr && VirtualChannelEntry != nullptr && SimulationExecute != nullptr;
}

void AddinLibrary::Unload() {
    platform::CloseLibrary(handle);
    *this = AddinLibrary{};
}

}  // namespace nelko::test
