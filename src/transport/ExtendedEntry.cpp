// The extended entry, VirtualChannelEntryEx, which FreeRDP looks up before the plain one.
// Its channel functions take the init handle the client passed to the entry, and its
// events carry a user parameter, so they need no per-thread connection of the client's:
// FreeRDP 3 before 3.15 loses that connection when it reloads the channels before
// connecting, and then refuses the plain entry's registration.
//
// Every call of the entry is a connection of its own (a client with several connections in
// one process calls it once for each): it gets a session, which the client hands back as
// the user parameter of each event, so that every answer goes to the connection that asked.
// The channels, the answers and the trace lines are the plain entry's.
#include "diagnostics/TraceLog.h"
#include "platform/ChannelApi.h"
#include "platform/Exports.h"
#include "transport/VirtualChannelRDP.h"

namespace nelko {
namespace {

void VCAPITYPE InitEventEx(LPVOID userParam, LPVOID, UINT event, LPVOID data, UINT dataLength) {
    try {
        HandleInitEvent(static_cast<ChannelSession*>(userParam), event, data, dataLength);
    } catch (...) {
    }
}

void VCAPITYPE OpenEventEx(LPVOID userParam, DWORD openHandle, UINT event, LPVOID data, UINT32 dataLength,
                           UINT32 totalLength, UINT32 dataFlags) {
    try {
        HandleOpenEvent(static_cast<ChannelSession*>(userParam), openHandle, event, data, dataLength, totalLength,
                        dataFlags);
    } catch (...) {
    }
}

class ExtendedSession final : public ChannelSession {
public:
    ExtendedSession(VirtualChannelRDP& owner, const CHANNEL_ENTRY_POINTS_EX* entryPoints, LPVOID initHandle)
        : ChannelSession(owner), initHandle_(initHandle) {
        if (entryPoints == nullptr) return;
        init_ = entryPoints->pVirtualChannelInitEx;
        open_ = entryPoints->pVirtualChannelOpenEx;
        write_ = entryPoints->pVirtualChannelWriteEx;
    }

    UINT RegisterChannels(PCHANNEL_DEF channels, INT count) override {
        // The session is the user parameter; no client context is needed.
        return init_ == nullptr
                   ? static_cast<UINT>(CHANNEL_RC_BAD_PROC)
                   : init_(this, nullptr, initHandle_, channels, count, VIRTUAL_CHANNEL_VERSION_WIN2000, InitEventEx);
    }
    UINT OpenChannel(const std::string& name, DWORD& openHandle) override {
        // The platform's signature takes a mutable name it does not modify.
        return open_ == nullptr ? static_cast<UINT>(CHANNEL_RC_BAD_PROC)
                                : open_(initHandle_, &openHandle, const_cast<char*>(name.c_str()), OpenEventEx);
    }
    UINT WriteChannel(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) override {
        return write_ == nullptr ? static_cast<UINT>(CHANNEL_RC_NOT_INITIALIZED)
                                 : write_(initHandle_, openHandle, data, length, userData);
    }

private:
    PVIRTUALCHANNELINITEX init_ = nullptr;
    PVIRTUALCHANNELOPENEX open_ = nullptr;
    PVIRTUALCHANNELWRITEEX write_ = nullptr;
    LPVOID initHandle_;
};

}  // namespace
}  // namespace nelko

NELKO_ADDIN_EXPORT BOOL VCAPITYPE VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX pEntryPointsEx, PVOID pInitHandle) {
    using namespace nelko;
    try {
        Trace("VirtualChannelEntry");
        VirtualChannelRDP& channel = TheVirtualChannel();
        return channel.InitSession(std::make_unique<ExtendedSession>(channel, pEntryPointsEx, pInitHandle)) ? TRUE
                                                                                                            : FALSE;
    } catch (...) {
        return FALSE;
    }
}
