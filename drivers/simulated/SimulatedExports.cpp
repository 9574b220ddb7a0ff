// The driver library's exports. All state lives in one instrument per loaded library, so
// texts it hands out stay valid until the same export is called again.
#include "DriverExports.h"
#include "SimulatedInstrument.h"

namespace {
nelko::simulator::Instrument& Device() {
    static nelko::simulator::Instrument instrument;
    return instrument;
}
}  // namespace

NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL Connect() { return Device().Connect(); }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL Disconnect() { return Device().Disconnect(); }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL IsConnected() { return Device().IsConnected(); }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL SetLanguage(unsigned short language) {
    return Device().SetLanguage(language);
}
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetAngles() { return Device().GetAngles(); }
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetWavelengths() { return Device().GetWavelengths(); }
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetAngleValue(int index) { return Device().GetAngleValue(index); }
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetWavelengthValue(int index) { return Device().GetWavelengthValue(index); }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL Measure() { return Device().Measure(); }
NELKO_DRIVER_EXPORT float NELKO_DRIVER_CALL GetSpectralData(int angle, int wavelength) {
    return Device().GetSpectralData(angle, wavelength);
}
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL IsDataReady() { return Device().IsDataReady(); }
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetSerialNum() { return Device().GetSerialNum(); }
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetCalStatus() { return Device().GetCalStatus(); }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL Calibrate() { return Device().Calibrate(); }
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetCalSteps() { return Device().GetCalSteps(); }
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetCalMode() { return Device().GetCalMode(); }
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetCalProgress() { return Device().GetCalProgress(); }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL AbortCalibration() { return Device().AbortCalibration(); }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL CalibrateStep(const char* step) { return Device().CalibrateStep(step); }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL ClearSamples() { return Device().ClearSamples(); }
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetSampleCount() { return Device().GetSampleCount(); }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL SetCurrentSample(int index) { return Device().SetCurrentSample(index); }
NELKO_DRIVER_EXPORT float NELKO_DRIVER_CALL GetSampleData(int angle, int wavelength) {
    return Device().GetSampleData(angle, wavelength);
}
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL Configure() { return Device().Configure(); }
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetAvailableSettings() { return Device().GetAvailableSettings(); }
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetSettingOptions(const char* setting) {
    return Device().GetSettingOptions(setting);
}
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetOption(const char* setting) { return Device().GetOption(setting); }
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL SetOption(const char* setting, const char* value) {
    return Device().SetOption(setting, value);
}
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetLastErrorCode() { return Device().GetLastErrorCode(); }
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetLastErrorString() { return Device().GetLastErrorString(); }
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL Execute(const char* command) { return Device().Execute(command); }
