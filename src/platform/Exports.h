// Export markup of the add-in library itself. On Windows a module-definition file names
// its exports (with fixed ordinals and no stdcall decoration); elsewhere visibility does.
#pragma once

#if defined(_WIN32)
#define NELKO_ADDIN_EXPORT extern "C"
#else
#define NELKO_ADDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
