#include "PeerCertificate.h"

#include <freerdp/crypto/certificate.h>
#include <freerdp/crypto/privatekey.h>

namespace nelko::e2e {

// The settings take over the certificate and key and free them with themselves.
bool SetPeerCertificate(rdpSettings* settings, const std::string& certificateFile, const std::string& privateKeyFile) {
    rdpCertificate* certificate = freerdp_certificate_new_from_file(certificateFile.c_str());
    rdpPrivateKey* key = freerdp_key_new_from_file(privateKeyFile.c_str());
    if (certificate == nullptr || key == nullptr) {
        freerdp_certificate_free(certificate);
        freerdp_key_free(key);
        return false;
    }
    return freerdp_settings_set_pointer_len(settings, FreeRDP_RdpServerCertificate, certificate, 1) &&
           freerdp_settings_set_pointer_len(settings, FreeRDP_RdpServerRsaKey, key, 1);
}

}  // namespace nelko::e2e
