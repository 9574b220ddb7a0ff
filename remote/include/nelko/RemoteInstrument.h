// The add-in's commands as typed calls over a Connection. Each call sends one request; an
// "ERROR|..." answer throws Error(Failure::CommandFailed) with the add-in's text, a driver's
// own refusal is a value (false, an error code), as in the protocol.
#pragma once

#include <string>
#include <vector>

#include "nelko/RemoteConnection.h"

namespace nelko::remote {

class RemoteInstrument {
public:
    explicit RemoteInstrument(Connection& connection) : connection_(connection) {}

    bool Hello();  // an add-in answers
    void Init(const std::string& driver);
    bool Connect();
    bool Disconnect();
    bool IsConnected();
    std::string GetSerialNumber();
    bool SetLanguage(int language);

    int GetAngles();
    std::string GetAngleValue(int angle);
    int GetWavelengths();
    int GetWavelengthValue(int index);

    bool Measure();
    bool IsDataReady();
    double GetSpectralData(int angle, int index);
    // The curve of one angle, one value per wavelength.
    std::vector<double> GetSpectralDataAll(int angle);

    int GetCalStatus();
    bool Calibrate();
    std::string GetCalSteps();
    std::string GetCalMode();
    int GetCalProgress();
    bool CalibrateStep(const std::string& step);
    bool AbortCalibration();

    bool ClearSamples();
    int GetSampleCount();
    bool SetCurrentSample(int sample);
    double GetSampleData(int angle, int index);

    bool Configure();
    std::string GetAvailableSettings();
    std::string GetSettingOptions(const std::string& setting);
    std::string GetOption(const std::string& option);
    bool SetOption(const std::string& option, const std::string& value);

    int GetLastErrorCode();
    std::string GetLastErrorString();
    std::string Execute(const std::string& command);

private:
    // The text after "OK|" of the answer to NAME|P1|P2|...|.
    std::string Call(const char* name, const std::vector<std::string>& parameters = {});
    bool CallBool(const char* name, const std::vector<std::string>& parameters = {});
    int CallInt(const char* name, const std::vector<std::string>& parameters = {});
    double CallDouble(const char* name, const std::vector<std::string>& parameters);

    Connection& connection_;
};

}  // namespace nelko::remote
