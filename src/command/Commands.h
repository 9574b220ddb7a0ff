// The commands a request may name: "Init", which loads a driver and is answered by the
// instrument itself, and these, its command table in registration order. Each is served
// by Instrument::On<name>.
#pragma once

#define NELKO_TABLE_COMMANDS(X) \
    X(Hello)                    \
    X(AbortCalibration)         \
    X(Calibrate)                \
    X(CalibrateStep)            \
    X(ClearSamples)             \
    X(Configure)                \
    X(Connect)                  \
    X(Disconnect)               \
    X(Execute)                  \
    X(GetAngleValue)            \
    X(GetAngles)                \
    X(GetAvailableSettings)     \
    X(GetCalProgress)           \
    X(GetCalStatus)             \
    X(GetCalSteps)              \
    X(GetCalMode)               \
    X(GetLastErrorCode)         \
    X(GetLastErrorString)       \
    X(GetOption)                \
    X(GetSampleCount)           \
    X(GetSampleData)            \
    X(GetSerialNumber)          \
    X(GetSettingOptions)        \
    X(GetSpectralData)          \
    X(GetSpectralDataAll)       \
    X(GetWavelengths)           \
    X(GetWavelengthValue)       \
    X(IsConnected)              \
    X(IsDataReady)              \
    X(Measure)                  \
    X(SetCurrentSample)         \
    X(SetLanguage)              \
    X(SetOption)
