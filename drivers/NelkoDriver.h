// The interface of an instrument driver library: the 31 functions it exports and the
// calling convention the add-in calls them with. A driver's sources include this header,
// so that the compiler checks each definition against the prototypes below; the add-in,
// its build and its test drivers derive their lists of functions from the same list.
#pragma once

// 32-bit Windows drivers use stdcall; elsewhere the default.
#if defined(_WIN32)
#define NELKO_DRIVER_CALL __stdcall
#define NELKO_DRIVER_EXPORT extern "C" __declspec(dllexport)
#else
#define NELKO_DRIVER_CALL
#define NELKO_DRIVER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// X(name, result type, (parameters), (arguments)), in the order the add-in binds them.
#define NELKO_DRIVER_FUNCTIONS(X)                                                  \
    X(Connect, bool, (), ())                                                       \
    X(Disconnect, bool, (), ())                                                    \
    X(IsConnected, bool, (), ())                                                   \
    X(SetLanguage, bool, (unsigned short language), (language))                    \
    X(GetAngles, int, (), ())                                                      \
    X(GetWavelengths, int, (), ())                                                 \
    X(GetAngleValue, const char*, (int index), (index))                            \
    X(GetWavelengthValue, int, (int index), (index))                               \
    X(Measure, bool, (), ())                                                       \
    X(GetSpectralData, float, (int angle, int wavelength), (angle, wavelength))    \
    X(IsDataReady, bool, (), ())                                                   \
    X(GetSerialNum, const char*, (), ())                                           \
    X(GetCalStatus, int, (), ())                                                   \
    X(Calibrate, bool, (), ())                                                     \
    X(GetCalSteps, const char*, (), ())                                            \
    X(GetCalMode, const char*, (), ())                                             \
    X(GetCalProgress, int, (), ())                                                 \
    X(AbortCalibration, bool, (), ())                                              \
    X(CalibrateStep, bool, (const char* step), (step))                             \
    X(ClearSamples, bool, (), ())                                                  \
    X(GetSampleCount, int, (), ())                                                 \
    X(SetCurrentSample, bool, (int index), (index))                                \
    X(GetSampleData, float, (int angle, int wavelength), (angle, wavelength))      \
    X(Configure, bool, (), ())                                                     \
    X(GetAvailableSettings, const char*, (), ())                                   \
    X(GetSettingOptions, const char*, (const char* setting), (setting))            \
    X(GetOption, const char*, (const char* setting), (setting))                    \
    X(SetOption, bool, (const char* setting, const char* value), (setting, value)) \
    X(GetLastErrorCode, int, (), ())                                               \
    X(GetLastErrorString, const char*, (), ())                                     \
    X(Execute, const char*, (const char* command), (command))

// A driver that defines its functions with other result types on purpose (the tests' own,
// which returns `int` for `bool`) defines NELKO_DRIVER_NO_PROTOTYPES first.
#if !defined(NELKO_DRIVER_NO_PROTOTYPES)
#define NELKO_DRIVER_PROTOTYPE(name, result, parameters, arguments) \
    NELKO_DRIVER_EXPORT result NELKO_DRIVER_CALL name parameters;
NELKO_DRIVER_FUNCTIONS(NELKO_DRIVER_PROTOTYPE)
#undef NELKO_DRIVER_PROTOTYPE
#endif
