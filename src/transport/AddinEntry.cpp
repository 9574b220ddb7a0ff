// The library's process-wide objects and its two exports.
//
// Construction order is fixed on purpose: the channel names, the request executor, then
// the connection object, whose constructor writes the process's first trace line. The
// lifetime hooks come last, so "ProcessAttach" follows all of them and "ProcessDetach"
// precedes their destruction.
#include "command/RequestExecutor.h"
#include "diagnostics/TraceLog.h"
#include "platform/Exports.h"
#include "platform/Platform.h"
#include "transport/VirtualChannelRDP.h"

#include <cstring>

namespace nelko {

const std::string CommandChannelName{"NlkCmd1"};
const std::string DataChannelName{"NlkDta1"};

namespace {

RequestExecutor theRequests;
VirtualChannelRDP theVirtualChannel(theRequests);

void OnProcessAttach() { Trace("ProcessAttach"); }
void OnProcessDetach() { Trace("ProcessDetach"); }

const platform::LibraryLifetimeHooks lifetimeHooks(OnProcessAttach, OnProcessDetach);

}  // namespace

VirtualChannelRDP& TheVirtualChannel() { return theVirtualChannel; }

}  // namespace nelko

NELKO_ADDIN_EXPORT BOOL VCAPITYPE VirtualChannelEntry(PCHANNEL_ENTRY_POINTS pEntryPoints) {
    try {
        nelko::Trace("VirtualChannelEntry");
        return nelko::TheVirtualChannel().Init(pEntryPoints) ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}

// Runs one request locally and hands the response back in the caller's buffer; length 0
// whenever no response could be delivered (it did not fit, or no request was given).
NELKO_ADDIN_EXPORT void SimulationExecute(const char* request, char* buffer, std::uint32_t bufferSize,
                                          std::uint32_t* responseLength) {
    std::uint32_t delivered = 0;
    try {
        nelko::Trace("SimulationExecute");
        if (request != nullptr) {
            const std::string response = nelko::theRequests.Execute(request);
            if (buffer != nullptr && response.size() < bufferSize) {
                std::memcpy(buffer, response.c_str(), response.size() + 1);
                delivered = static_cast<std::uint32_t>(response.size());
            }
        }
    } catch (...) {
        // Nothing may cross a C interface; the caller sees "no response".
    }
    if (responseLength != nullptr) *responseLength = delivered;
}
