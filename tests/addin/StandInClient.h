// A stand-in for the Remote Desktop client: hands the add-in an entry-point table whose
// functions record every call and return codes the test chooses, and delivers events
// through the callbacks the add-in registered. Each instance is one connection, as FreeRDP
// keeps them: its own init handle and channel table, open handles numbered across the
// process, and writes refused for a handle the connection does not own. Ending it ends
// its registration ("terminated"), as a client closing a connection does.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "AddinLibrary.h"
#include "TestSupport.h"

namespace nelko::test {

class StandInClient {
public:
    StandInClient();
    ~StandInClient();
    StandInClient(const StandInClient&) = delete;
    StandInClient& operator=(const StandInClient&) = delete;

    // Codes the recording functions return.
    UINT initResult = CHANNEL_RC_OK;
    UINT writeResult = CHANNEL_RC_OK;
    std::string refusedOpen;  // a channel whose open fails with CHANNEL_RC_UNKNOWN_CHANNEL_NAME

    // What the add-in did, with the callback it registered, called the way its entry expects.
    struct Registration {
        std::vector<CHANNEL_DEF> channels;
        ULONG version = 0;
        std::function<void(UINT event, void* data, UINT length)> initEvent;
    };
    struct Open {
        std::string name;
        std::function<void(DWORD openHandle, UINT event, void* data, UINT32 length, UINT32 total, UINT32 flags)>
            openEvent;
    };
    struct Write {
        DWORD openHandle;
        std::string data;
        void* userData;
    };
    std::vector<Registration> registrations;
    std::vector<Open> opens;
    std::vector<Write> writes;
    int closeCalls = 0;

    CHANNEL_ENTRY_POINTS EntryPoints() const;
    BOOL Enter(VirtualChannelEntryFn entry);
#if NELKO_ADDIN_EXTENDED_ENTRY
    // The extended entry: the same recording, through functions that take the init handle.
    BOOL EnterEx(VirtualChannelEntryExFn entry);
#endif

    // Init events.
    void InitEvent(UINT event, const std::string& data = std::string());
    void Connect(const std::string& server = "server.example") { InitEvent(CHANNEL_EVENT_CONNECTED, server); }

    // Open events, through the callback registered with the last open.
    void OpenEvent(DWORD openHandle, UINT event, const void* data, UINT32 length, UINT32 total, UINT32 flags);
    // A whole message in one event, on the given channel's handle.
    void Send(const std::string& message, DWORD openHandle = kCommandHandle);
    // A message cut into chunks of the given size, flagged first/last as the client does.
    void SendChunked(const std::string& message, std::size_t chunkSize, DWORD openHandle = kCommandHandle);
    void WriteComplete(void* userData) { OpenEvent(kDataHandle, CHANNEL_EVENT_WRITE_COMPLETE, userData, 0, 0, 0); }
    void WriteCancelled(void* userData) { OpenEvent(kDataHandle, CHANNEL_EVENT_WRITE_CANCELLED, userData, 0, 0, 0); }
    // Acknowledges every write so far.
    void CompleteAllWrites();

    std::vector<std::string> Responses() const;

    // The first connection's handles; a connection made while others live gets others.
    static constexpr DWORD kCommandHandle = 101;
    static constexpr DWORD kDataHandle = 102;
    const DWORD commandHandle;
    const DWORD dataHandle;

private:
    static UINT VCAPITYPE Init(LPVOID* initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
                               PCHANNEL_INIT_EVENT_FN callback);
    static UINT VCAPITYPE OpenChannel(LPVOID initHandle, LPDWORD openHandle, PCHAR name,
                                      PCHANNEL_OPEN_EVENT_FN callback);
    static UINT VCAPITYPE Close(DWORD openHandle);
    static UINT VCAPITYPE WriteData(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData);
#if NELKO_ADDIN_EXTENDED_ENTRY
    static UINT VCAPITYPE InitEx(LPVOID userParam, LPVOID clientContext, LPVOID initHandle, PCHANNEL_DEF channels,
                                 INT count, ULONG version, PCHANNEL_INIT_EVENT_EX_FN callback);
    static UINT VCAPITYPE OpenChannelEx(LPVOID initHandle, LPDWORD openHandle, PCHAR name,
                                        PCHANNEL_OPEN_EVENT_EX_FN callback);
    static UINT VCAPITYPE CloseEx(LPVOID initHandle, DWORD openHandle);
    static UINT VCAPITYPE WriteDataEx(LPVOID initHandle, DWORD openHandle, LPVOID data, ULONG length, LPVOID userData);
#endif

    bool Owns(DWORD openHandle) const { return openHandle == commandHandle || openHandle == dataHandle; }

    std::size_t acknowledged_ = 0;
    void* userParam_ = nullptr;  // the extended entry's, handed back with every event
};

}  // namespace nelko::test
