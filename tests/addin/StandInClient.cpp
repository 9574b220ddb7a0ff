#include "StandInClient.h"

#include <algorithm>
#include <cstring>

namespace nelko::test {
namespace {

// The connections alive, and the one whose entry call is under way: the plain table's init
// function gets no handle to tell them apart, as a client's own thread-bound one.
std::vector<StandInClient*> live;
StandInClient* entering = nullptr;

StandInClient* Client(LPVOID initHandle) {
    for (StandInClient* client : live)
        if (client == initHandle) return client;
    return nullptr;
}

}  // namespace

StandInClient::StandInClient()
    : commandHandle(kCommandHandle + 10 * static_cast<DWORD>(live.size())), dataHandle(commandHandle + 1) {
    live.push_back(this);
    entering = this;
}

StandInClient::~StandInClient() {
    if (!registrations.empty()) InitEvent(CHANNEL_EVENT_TERMINATED);
    live.erase(std::find(live.begin(), live.end(), this));
    if (entering == this) entering = live.empty() ? nullptr : live.back();
}

CHANNEL_ENTRY_POINTS StandInClient::EntryPoints() const {
    CHANNEL_ENTRY_POINTS table{};
    table.cbSize = sizeof table;
    table.protocolVersion = 1;
    table.pVirtualChannelInit = &StandInClient::Init;
    table.pVirtualChannelOpen = &StandInClient::OpenChannel;
    table.pVirtualChannelClose = &StandInClient::Close;
    table.pVirtualChannelWrite = &StandInClient::WriteData;
    return table;
}

BOOL StandInClient::Enter(VirtualChannelEntryFn entry) {
    entering = this;
    CHANNEL_ENTRY_POINTS table = EntryPoints();
    return entry(&table);
}

UINT VCAPITYPE StandInClient::Init(LPVOID* initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
                                   PCHANNEL_INIT_EVENT_FN callback) {
    StandInClient* const client = entering;
    *initHandle = client;
    client->registrations.push_back(
        {std::vector<CHANNEL_DEF>(channels, channels + count), version,
         [callback, client](UINT event, void* data, UINT length) { callback(client, event, data, length); }});
    return client->initResult;
}

UINT VCAPITYPE StandInClient::OpenChannel(LPVOID initHandle, LPDWORD openHandle, PCHAR name,
                                          PCHANNEL_OPEN_EVENT_FN callback) {
    StandInClient* const client = Client(initHandle);
    if (client == nullptr) return CHANNEL_RC_BAD_INIT_HANDLE;
    if (name == client->refusedOpen) return CHANNEL_RC_UNKNOWN_CHANNEL_NAME;
    *openHandle = std::strcmp(name, "NlkCmd1") == 0 ? client->commandHandle : client->dataHandle;
    client->opens.push_back({name, callback});
    return CHANNEL_RC_OK;
}

// The plain table's functions find the connection by the open handle, across the process.
UINT VCAPITYPE StandInClient::Close(DWORD openHandle) {
    for (StandInClient* client : live) {
        if (!client->Owns(openHandle)) continue;
        ++client->closeCalls;
        return CHANNEL_RC_OK;
    }
    return CHANNEL_RC_BAD_CHANNEL_HANDLE;
}

UINT VCAPITYPE StandInClient::WriteData(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) {
    for (StandInClient* client : live) {
        if (!client->Owns(openHandle)) continue;
        client->writes.push_back({openHandle, std::string(static_cast<const char*>(data), length), userData});
        return client->writeResult;
    }
    return CHANNEL_RC_BAD_CHANNEL_HANDLE;
}

#if NELKO_ADDIN_EXTENDED_ENTRY
BOOL StandInClient::EnterEx(VirtualChannelEntryExFn entry) {
    CHANNEL_ENTRY_POINTS_EX table{};
    table.cbSize = sizeof table;
    table.protocolVersion = 1;
    table.pVirtualChannelInitEx = &StandInClient::InitEx;
    table.pVirtualChannelOpenEx = &StandInClient::OpenChannelEx;
    table.pVirtualChannelCloseEx = &StandInClient::CloseEx;
    table.pVirtualChannelWriteEx = &StandInClient::WriteDataEx;
    return entry(&table, this);
}

UINT VCAPITYPE StandInClient::InitEx(LPVOID userParam, LPVOID, LPVOID initHandle, PCHANNEL_DEF channels, INT count,
                                     ULONG version, PCHANNEL_INIT_EVENT_EX_FN callback) {
    StandInClient* const client = Client(initHandle);
    if (client == nullptr) return CHANNEL_RC_BAD_INIT_HANDLE;
    if (client->initResult == CHANNEL_RC_OK) client->userParam_ = userParam;
    client->registrations.push_back({std::vector<CHANNEL_DEF>(channels, channels + count), version,
                                     [callback, userParam, client](UINT event, void* data, UINT length) {
                                         callback(userParam, client, event, data, length);
                                     }});
    return client->initResult;
}

UINT VCAPITYPE StandInClient::OpenChannelEx(LPVOID initHandle, LPDWORD openHandle, PCHAR name,
                                            PCHANNEL_OPEN_EVENT_EX_FN callback) {
    StandInClient* const client = Client(initHandle);
    if (client == nullptr) return CHANNEL_RC_BAD_INIT_HANDLE;
    if (name == client->refusedOpen) return CHANNEL_RC_UNKNOWN_CHANNEL_NAME;
    *openHandle = std::strcmp(name, "NlkCmd1") == 0 ? client->commandHandle : client->dataHandle;
    client->opens.push_back(
        {name, [callback, client](DWORD handle, UINT event, void* data, UINT32 length, UINT32 total, UINT32 flags) {
             callback(client->userParam_, handle, event, data, length, total, flags);
         }});
    return CHANNEL_RC_OK;
}

UINT VCAPITYPE StandInClient::CloseEx(LPVOID initHandle, DWORD openHandle) {
    StandInClient* const client = Client(initHandle);
    if (client == nullptr || !client->Owns(openHandle)) return CHANNEL_RC_BAD_CHANNEL_HANDLE;
    ++client->closeCalls;
    return CHANNEL_RC_OK;
}

UINT VCAPITYPE StandInClient::WriteDataEx(LPVOID initHandle, DWORD openHandle, LPVOID data, ULONG length,
                                          LPVOID userData) {
    StandInClient* const client = Client(initHandle);
    if (client == nullptr || !client->Owns(openHandle)) return CHANNEL_RC_BAD_CHANNEL_HANDLE;
    client->writes.push_back({openHandle, std::string(static_cast<const char*>(data), length), userData});
    return client->writeResult;
}
#endif

void StandInClient::InitEvent(UINT event, const std::string& data) {
    registrations.back().initEvent(event, const_cast<char*>(data.data()), static_cast<UINT>(data.size()));
}

void StandInClient::OpenEvent(DWORD openHandle, UINT event, const void* data, UINT32 length, UINT32 total,
                              UINT32 flags) {
    opens.back().openEvent(openHandle, event, const_cast<void*>(data), length, total, flags);
}

void StandInClient::Send(const std::string& message, DWORD openHandle) {
    const auto length = static_cast<UINT32>(message.size());
    OpenEvent(openHandle, CHANNEL_EVENT_DATA_RECEIVED, message.data(), length, length, CHANNEL_FLAG_ONLY);
}

void StandInClient::SendChunked(const std::string& message, std::size_t chunkSize, DWORD openHandle) {
    const auto total = static_cast<UINT32>(message.size());
    for (std::size_t offset = 0; offset < message.size(); offset += chunkSize) {
        const std::size_t length = std::min(chunkSize, message.size() - offset);
        UINT32 flags = 0;
        if (offset == 0) flags |= CHANNEL_FLAG_FIRST;
        if (offset + length == message.size()) flags |= CHANNEL_FLAG_LAST;
        OpenEvent(openHandle, CHANNEL_EVENT_DATA_RECEIVED, message.data() + offset, static_cast<UINT32>(length), total,
                  flags);
    }
}

void StandInClient::CompleteAllWrites() {
    for (; acknowledged_ < writes.size(); ++acknowledged_) WriteComplete(writes[acknowledged_].userData);
}

std::vector<std::string> StandInClient::Responses() const {
    std::vector<std::string> responses;
    responses.reserve(writes.size());
    for (const Write& write : writes) responses.push_back(write.data);
    return responses;
}

}  // namespace nelko::test
