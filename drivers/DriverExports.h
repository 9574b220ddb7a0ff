// Prototypes of the 31 exports every instrument driver library provides. Driver sources
// include this so the compiler checks each definition against the signatures the add-in binds.
#pragma once

#include "platform/Exports.h"

NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL Connect();
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL Disconnect();
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL IsConnected();
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL SetLanguage(unsigned short language);
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetAngles();
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetWavelengths();
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetAngleValue(int index);
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetWavelengthValue(int index);
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL Measure();
NELKO_DRIVER_EXPORT float NELKO_DRIVER_CALL GetSpectralData(int angle, int wavelength);
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL IsDataReady();
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetSerialNum();
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetCalStatus();
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL Calibrate();
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetCalSteps();
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetCalMode();
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetCalProgress();
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL AbortCalibration();
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL CalibrateStep(const char* step);
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL ClearSamples();
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetSampleCount();
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL SetCurrentSample(int index);
NELKO_DRIVER_EXPORT float NELKO_DRIVER_CALL GetSampleData(int angle, int wavelength);
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL Configure();
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetAvailableSettings();
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetSettingOptions(const char* setting);
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetOption(const char* setting);
NELKO_DRIVER_EXPORT bool NELKO_DRIVER_CALL SetOption(const char* setting, const char* value);
NELKO_DRIVER_EXPORT int NELKO_DRIVER_CALL GetLastErrorCode();
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL GetLastErrorString();
NELKO_DRIVER_EXPORT const char* NELKO_DRIVER_CALL Execute(const char* command);
