// The built add-in library, loaded at run time exactly as a client or a caller loads it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ChannelApi.h"

namespace nelko::test {

using VirtualChannelEntryFn = BOOL(VCAPITYPE*)(PCHANNEL_ENTRY_POINTS);
#if NELKO_ADDIN_EXTENDED_ENTRY
using VirtualChannelEntryExFn = BOOL(VCAPITYPE*)(PCHANNEL_ENTRY_POINTS_EX, PVOID);
#endif
using SimulationExecuteFn = void (*)(const char*, char*, std::uint32_t, std::uint32_t*);

// Path of the add-in in the working directory (defined by the build).
std::string AddinLibraryPath();

struct AddinLibrary {
    void* handle = nullptr;
    VirtualChannelEntryFn VirtualChannelEntry = nullptr;
    SimulationExecuteFn SimulationExecute = nullptr;
#if NELKO_ADDIN_EXTENDED_ENTRY
    VirtualChannelEntryExFn VirtualChannelEntryEx = nullptr;
#endif

    bool Load();
    void Unload();
};

}  // namespace nelko::test
