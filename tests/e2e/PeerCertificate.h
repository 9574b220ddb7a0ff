// The server certificate and key of a peer: FreeRDP 2 takes file names, FreeRDP 3 loaded
// objects. One implementation per FreeRDP version, chosen by the build.
#pragma once

#include <freerdp/settings.h>

#include <string>

namespace nelko::e2e {

bool SetPeerCertificate(rdpSettings* settings, const std::string& certificateFile, const std::string& privateKeyFile);

}  // namespace nelko::e2e
