// The 34 process-wide command names. Inline variables defined in this order: a
// translation unit that includes this header before defining its own process-wide objects
// gets them built first and destroyed last.
#pragma once

#include <string>

namespace nelko::CommandNames {

inline const std::string Hello{"Hello"};
inline const std::string AbortCalibration{"AbortCalibration"};
inline const std::string Calibrate{"Calibrate"};
inline const std::string CalibrateStep{"CalibrateStep"};
inline const std::string ClearSamples{"ClearSamples"};
inline const std::string Configure{"Configure"};
inline const std::string Connect{"Connect"};
inline const std::string Disconnect{"Disconnect"};
inline const std::string Execute{"Execute"};
inline const std::string GetAngleValue{"GetAngleValue"};
inline const std::string GetAngles{"GetAngles"};
inline const std::string GetAvailableSettings{"GetAvailableSettings"};
inline const std::string GetCalProgress{"GetCalProgress"};
inline const std::string GetCalMode{"GetCalMode"};
inline const std::string GetCalStatus{"GetCalStatus"};
inline const std::string GetCalSteps{"GetCalSteps"};
inline const std::string GetLastErrorCode{"GetLastErrorCode"};
inline const std::string GetLastErrorString{"GetLastErrorString"};
inline const std::string GetOption{"GetOption"};
inline const std::string GetSampleCount{"GetSampleCount"};
inline const std::string GetSampleData{"GetSampleData"};
inline const std::string GetSerialNumber{"GetSerialNumber"};
inline const std::string GetSettingOptions{"GetSettingOptions"};
inline const std::string GetSpectralData{"GetSpectralData"};
inline const std::string GetSpectralDataAll{"GetSpectralDataAll"};
inline const std::string GetWavelengths{"GetWavelengths"};
inline const std::string GetWavelengthValue{"GetWavelengthValue"};
inline const std::string Init{"Init"};
inline const std::string IsConnected{"IsConnected"};
inline const std::string IsDataReady{"IsDataReady"};
inline const std::string Measure{"Measure"};
inline const std::string SetCurrentSample{"SetCurrentSample"};
inline const std::string SetLanguage{"SetLanguage"};
inline const std::string SetOption{"SetOption"};

}  // namespace nelko::CommandNames
