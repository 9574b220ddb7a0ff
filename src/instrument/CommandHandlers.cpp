// One handler per table command: count check, conversions, one driver call, rendering.
#include "command/Conversions.h"
#include "command/Instrument.h"

namespace nelko {
namespace {

Result MissingParameter() { return Result::Failure("Missing parameter"); }
Result NoDriverLoaded() { return Result::Failure("No driver loaded"); }

Result FromDriverBool(DriverBool value) { return Result::FromBool(value != 0); }
Result FromDriverInt(std::int32_t value) { return Result::Success(FormatInt(value)); }
Result FromDriverFloat(float value) { return Result::Success(FormatFloat(value)); }
// Drivers must not return null texts; one that does anyway is answered as an empty text
// rather than taking the client process down.
Result FromDriverText(const char* text) { return Result::Success(text != nullptr ? text : ""); }
const char* AsText(const std::string& parameter) { return parameter.c_str(); }

}  // namespace

// Handlers without parameters.
#define NELKO_SIMPLE_HANDLER(command, entry, render)    \
    Result Instrument::On##command(const Parameters&) { \
        if (!DriverLoaded()) return NoDriverLoaded();   \
        return render(driver_.entry());                 \
    }

NELKO_SIMPLE_HANDLER(Connect, Connect, FromDriverBool)
NELKO_SIMPLE_HANDLER(Disconnect, Disconnect, FromDriverBool)
NELKO_SIMPLE_HANDLER(IsConnected, IsConnected, FromDriverBool)
NELKO_SIMPLE_HANDLER(GetAvailableSettings, GetAvailableSettings, FromDriverText)
NELKO_SIMPLE_HANDLER(Configure, Configure, FromDriverBool)
NELKO_SIMPLE_HANDLER(GetAngles, GetAngles, FromDriverInt)
NELKO_SIMPLE_HANDLER(GetWavelengths, GetWavelengths, FromDriverInt)
NELKO_SIMPLE_HANDLER(Calibrate, Calibrate, FromDriverBool)
NELKO_SIMPLE_HANDLER(AbortCalibration, AbortCalibration, FromDriverBool)
NELKO_SIMPLE_HANDLER(GetCalSteps, GetCalSteps, FromDriverText)
NELKO_SIMPLE_HANDLER(GetCalProgress, GetCalProgress, FromDriverInt)
NELKO_SIMPLE_HANDLER(GetCalStatus, GetCalStatus, FromDriverInt)
NELKO_SIMPLE_HANDLER(Measure, Measure, FromDriverBool)
NELKO_SIMPLE_HANDLER(IsDataReady, IsDataReady, FromDriverBool)
NELKO_SIMPLE_HANDLER(GetSerialNumber, GetSerialNum, FromDriverText)
NELKO_SIMPLE_HANDLER(ClearSamples, ClearSamples, FromDriverBool)
NELKO_SIMPLE_HANDLER(GetSampleCount, GetSampleCount, FromDriverInt)
NELKO_SIMPLE_HANDLER(GetLastErrorCode, GetLastErrorCode, FromDriverInt)
NELKO_SIMPLE_HANDLER(GetLastErrorString, GetLastErrorString, FromDriverText)
#undef NELKO_SIMPLE_HANDLER

// Handlers with one parameter: `convert` turns parameter 1 into the driver's argument.
#define NELKO_ONE_PARAMETER_HANDLER(command, convert, render)      \
    Result Instrument::On##command(const Parameters& parameters) { \
        if (parameters.empty()) return MissingParameter();         \
        const auto argument = convert(parameters[0]);              \
        if (!DriverLoaded()) return NoDriverLoaded();              \
        return render(driver_.command(argument));                  \
    }

NELKO_ONE_PARAMETER_HANDLER(SetLanguage, ParseUShort, FromDriverBool)
NELKO_ONE_PARAMETER_HANDLER(GetSettingOptions, AsText, FromDriverText)
NELKO_ONE_PARAMETER_HANDLER(GetOption, AsText, FromDriverText)
NELKO_ONE_PARAMETER_HANDLER(GetAngleValue, ParseInt, FromDriverText)
NELKO_ONE_PARAMETER_HANDLER(GetWavelengthValue, ParseInt, FromDriverInt)
NELKO_ONE_PARAMETER_HANDLER(CalibrateStep, AsText, FromDriverBool)
NELKO_ONE_PARAMETER_HANDLER(SetCurrentSample, ParseInt, FromDriverBool)
NELKO_ONE_PARAMETER_HANDLER(Execute, AsText, FromDriverText)
#undef NELKO_ONE_PARAMETER_HANDLER

Result Instrument::OnHello(const Parameters&) { return Result::Success("Hello"); }

// The parameter is required although the driver's GetCalMode takes none.
Result Instrument::OnGetCalMode(const Parameters& parameters) {
    if (parameters.empty()) return MissingParameter();
    if (!DriverLoaded()) return NoDriverLoaded();
    return FromDriverText(driver_.GetCalMode());
}

Result Instrument::OnSetOption(const Parameters& parameters) {
    if (parameters.size() < 2) return MissingParameter();
    if (!DriverLoaded()) return NoDriverLoaded();
    return FromDriverBool(driver_.SetOption(parameters[0].c_str(), parameters[1].c_str()));
}

// Parameter 2 is converted before parameter 1.
#define NELKO_TWO_INDEX_HANDLER(command)                           \
    Result Instrument::On##command(const Parameters& parameters) { \
        if (parameters.size() < 2) return MissingParameter();      \
        const std::int32_t second = ParseInt(parameters[1]);       \
        const std::int32_t first = ParseInt(parameters[0]);        \
        if (!DriverLoaded()) return NoDriverLoaded();              \
        return FromDriverFloat(driver_.command(first, second));    \
    }

NELKO_TWO_INDEX_HANDLER(GetSpectralData)
NELKO_TWO_INDEX_HANDLER(GetSampleData)
#undef NELKO_TWO_INDEX_HANDLER

Result Instrument::OnGetSpectralDataAll(const Parameters& parameters) {
    constexpr std::int32_t kValueCount = 31;
    if (parameters.empty()) return MissingParameter();
    const std::int32_t first = ParseInt(parameters[0]);
    if (!DriverLoaded()) return NoDriverLoaded();
    std::string values;
    values.reserve(std::size_t{kValueCount} * 10);
    for (std::int32_t second = 0; second < kValueCount; ++second) {
        if (second > 0) values += ';';
        AppendFloatDefaultPrecision(values, driver_.GetSpectralData(first, second));
    }
    return Result::Success(std::move(values));
}

}  // namespace nelko
