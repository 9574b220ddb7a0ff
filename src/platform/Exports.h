// Calling conventions and export markup: of instrument driver libraries, and of the
// add-in library itself. 32-bit Windows drivers use stdcall; elsewhere the default.
#pragma once

#if defined(_WIN32)
#define NELKO_DRIVER_CALL __stdcall
#define NELKO_DRIVER_EXPORT extern "C" __declspec(dllexport)
#else
#define NELKO_DRIVER_CALL
#define NELKO_DRIVER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The add-in library's own exports. On Windows a module-definition file names them
// (with fixed ordinals and no stdcall decoration); elsewhere visibility does.
#if defined(_WIN32)
#define NELKO_ADDIN_EXPORT extern "C"
#else
#define NELKO_ADDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
