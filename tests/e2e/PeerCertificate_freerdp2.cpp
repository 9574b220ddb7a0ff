#include "PeerCertificate.h"

namespace nelko::e2e {

bool SetPeerCertificate(rdpSettings* settings, const std::string& certificateFile, const std::string& privateKeyFile) {
    return freerdp_settings_set_string(settings, FreeRDP_CertificateFile, certificateFile.c_str()) &&
           freerdp_settings_set_string(settings, FreeRDP_PrivateKeyFile, privateKeyFile.c_str());
}

}  // namespace nelko::e2e
