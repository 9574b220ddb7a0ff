// The extended entry, VirtualChannelEntryEx, which FreeRDP looks up before the plain one.
// Its channel functions take the init handle the client passed to the entry, and its
// events carry a user parameter, so they need no per-thread connection of the client's:
// FreeRDP 3 before 3.15 loses that connection when it reloads the channels before
// connecting, and then refuses the plain entry's registration.
//
// The client's extended functions are wrapped into a plain entry-point table and handed to
// the same VirtualChannelRDP::Init, so the channels, the answers and the trace lines are
// the same whichever entry the client calls.
#include "diagnostics/TraceLog.h"
#include "platform/ChannelApi.h"
#include "platform/Exports.h"
#include "transport/VirtualChannelRDP.h"

namespace nelko {
namespace {

struct ExtendedClient {
    PVIRTUALCHANNELINITEX init = nullptr;
    PVIRTUALCHANNELOPENEX open = nullptr;
    PVIRTUALCHANNELCLOSEEX close = nullptr;
    PVIRTUALCHANNELWRITEEX write = nullptr;
    LPVOID initHandle = nullptr;
};

// The client of the entry being registered, and the one whose registration was accepted:
// a refused second entry leaves the accepted one in use.
ExtendedClient entering;
ExtendedClient accepted;
// The connection's own event callbacks, to which the extended events are handed on.
PCHANNEL_INIT_EVENT_FN initEventTarget = nullptr;
PCHANNEL_OPEN_EVENT_FN openEventTarget = nullptr;

void VCAPITYPE InitEventEx(LPVOID, LPVOID initHandle, UINT event, LPVOID data, UINT dataLength) {
    if (initEventTarget != nullptr) initEventTarget(initHandle, event, data, dataLength);
}

void VCAPITYPE OpenEventEx(LPVOID, DWORD openHandle, UINT event, LPVOID data, UINT32 dataLength, UINT32 totalLength,
                           UINT32 dataFlags) {
    if (openEventTarget != nullptr) openEventTarget(openHandle, event, data, dataLength, totalLength, dataFlags);
}

UINT VCAPITYPE InitPlain(LPVOID* initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
                         PCHANNEL_INIT_EVENT_FN callback) {
    if (entering.init == nullptr) return CHANNEL_RC_BAD_PROC;
    *initHandle = entering.initHandle;
    initEventTarget = callback;
    // Neither a user parameter nor a client context is needed: there is one connection.
    const UINT code = entering.init(nullptr, nullptr, entering.initHandle, channels, count, version, InitEventEx);
    if (code == CHANNEL_RC_OK) accepted = entering;
    return code;
}

UINT VCAPITYPE OpenPlain(LPVOID initHandle, LPDWORD openHandle, PCHAR name, PCHANNEL_OPEN_EVENT_FN callback) {
    if (accepted.open == nullptr) return CHANNEL_RC_BAD_PROC;
    openEventTarget = callback;
    return accepted.open(initHandle, openHandle, name, OpenEventEx);
}

UINT VCAPITYPE ClosePlain(DWORD openHandle) {
    return accepted.close == nullptr ? static_cast<UINT>(CHANNEL_RC_BAD_PROC)
                                     : accepted.close(accepted.initHandle, openHandle);
}

UINT VCAPITYPE WritePlain(DWORD openHandle, LPVOID data, ULONG dataLength, LPVOID userData) {
    return accepted.write == nullptr ? static_cast<UINT>(CHANNEL_RC_BAD_PROC)
                                     : accepted.write(accepted.initHandle, openHandle, data, dataLength, userData);
}

}  // namespace
}  // namespace nelko

NELKO_ADDIN_EXPORT BOOL VCAPITYPE VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX pEntryPointsEx, PVOID pInitHandle) {
    using namespace nelko;
    try {
        Trace("VirtualChannelEntry");
        entering = ExtendedClient{};
        if (pEntryPointsEx != nullptr) {
            entering.init = pEntryPointsEx->pVirtualChannelInitEx;
            entering.open = pEntryPointsEx->pVirtualChannelOpenEx;
            entering.close = pEntryPointsEx->pVirtualChannelCloseEx;
            entering.write = pEntryPointsEx->pVirtualChannelWriteEx;
        }
        entering.initHandle = pInitHandle;
        CHANNEL_ENTRY_POINTS plain{};
        plain.cbSize = sizeof plain;
        plain.protocolVersion = VIRTUAL_CHANNEL_VERSION_WIN2000;
        plain.pVirtualChannelInit = InitPlain;
        plain.pVirtualChannelOpen = OpenPlain;
        plain.pVirtualChannelClose = ClosePlain;
        plain.pVirtualChannelWrite = WritePlain;
        return TheVirtualChannel().Init(&plain) ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}
