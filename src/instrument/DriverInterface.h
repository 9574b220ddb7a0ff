// The 31 functions an instrument driver library exports, as the add-in calls them.
#pragma once

#include <cstdint>

#include "platform/Exports.h"

namespace nelko {

// Drivers return C++ `bool`, but only its low 8 bits are defined by the ABI: a driver
// built by another compiler may leave garbage in the upper bits of the register. Reading
// the result as an 8-bit integer and testing it for non-zero accepts every such driver.
using DriverBool = std::uint8_t;

using DriverBoolFn = DriverBool(NELKO_DRIVER_CALL*)();
using DriverBoolTextFn = DriverBool(NELKO_DRIVER_CALL*)(const char*);
using DriverBoolTextTextFn = DriverBool(NELKO_DRIVER_CALL*)(const char*, const char*);
using DriverBoolUShortFn = DriverBool(NELKO_DRIVER_CALL*)(std::uint16_t);
using DriverBoolIntFn = DriverBool(NELKO_DRIVER_CALL*)(std::int32_t);
using DriverIntFn = std::int32_t(NELKO_DRIVER_CALL*)();
using DriverIntIntFn = std::int32_t(NELKO_DRIVER_CALL*)(std::int32_t);
using DriverTextFn = const char*(NELKO_DRIVER_CALL*)();
using DriverTextTextFn = const char*(NELKO_DRIVER_CALL*)(const char*);
using DriverTextIntFn = const char*(NELKO_DRIVER_CALL*)(std::int32_t);
using DriverFloatIntIntFn = float(NELKO_DRIVER_CALL*)(std::int32_t, std::int32_t);

// X-macro over the entry points in binding order: (export name, pointer type).
#define NELKO_DRIVER_ENTRY_POINTS(X)        \
    X(Connect, DriverBoolFn)                \
    X(Disconnect, DriverBoolFn)             \
    X(IsConnected, DriverBoolFn)            \
    X(SetLanguage, DriverBoolUShortFn)      \
    X(GetAngles, DriverIntFn)               \
    X(GetWavelengths, DriverIntFn)          \
    X(GetAngleValue, DriverTextIntFn)       \
    X(GetWavelengthValue, DriverIntIntFn)   \
    X(Measure, DriverBoolFn)                \
    X(GetSpectralData, DriverFloatIntIntFn) \
    X(IsDataReady, DriverBoolFn)            \
    X(GetSerialNum, DriverTextFn)           \
    X(GetCalStatus, DriverIntFn)            \
    X(Calibrate, DriverBoolFn)              \
    X(GetCalSteps, DriverTextFn)            \
    X(GetCalMode, DriverTextFn)             \
    X(GetCalProgress, DriverIntFn)          \
    X(AbortCalibration, DriverBoolFn)       \
    X(CalibrateStep, DriverBoolTextFn)      \
    X(ClearSamples, DriverBoolFn)           \
    X(GetSampleCount, DriverIntFn)          \
    X(SetCurrentSample, DriverBoolIntFn)    \
    X(GetSampleData, DriverFloatIntIntFn)   \
    X(Configure, DriverBoolFn)              \
    X(GetAvailableSettings, DriverTextFn)   \
    X(GetSettingOptions, DriverTextTextFn)  \
    X(GetOption, DriverTextTextFn)          \
    X(SetOption, DriverBoolTextTextFn)      \
    X(GetLastErrorCode, DriverIntFn)        \
    X(GetLastErrorString, DriverTextFn)     \
    X(Execute, DriverTextTextFn)

inline constexpr int kDriverEntryPointCount = 31;

}  // namespace nelko
