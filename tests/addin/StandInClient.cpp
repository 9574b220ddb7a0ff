#include "StandInClient.h"

#include <algorithm>
#include <cstring>

namespace nelko::test {
namespace {

// The table's functions get no context pointer: they report to the live stand-in.
StandInClient* current = nullptr;
int initHandleTarget = 0;
#if NELKO_ADDIN_EXTENDED_ENTRY
// The extended client's own handle and user parameter, which must come back to it.
int extendedInitHandle = 0;
void* extendedUserParam = nullptr;
#endif

}  // namespace

StandInClient::StandInClient() { current = this; }
StandInClient::~StandInClient() { current = nullptr; }

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
    CHANNEL_ENTRY_POINTS table = EntryPoints();
    return entry(&table);
}

UINT VCAPITYPE StandInClient::Init(LPVOID* initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
                                   PCHANNEL_INIT_EVENT_FN callback) {
    *initHandle = &initHandleTarget;
    current->registrations.push_back(
        {std::vector<CHANNEL_DEF>(channels, channels + count), version,
         [callback](UINT event, void* data, UINT length) { callback(&initHandleTarget, event, data, length); }});
    return current->initResult;
}

UINT VCAPITYPE StandInClient::OpenChannel(LPVOID initHandle, LPDWORD openHandle, PCHAR name,
                                          PCHANNEL_OPEN_EVENT_FN callback) {
    if (initHandle != &initHandleTarget) return CHANNEL_RC_BAD_INIT_HANDLE;
    *openHandle = std::strcmp(name, "NlkCmd1") == 0 ? kCommandHandle : kDataHandle;
    current->opens.push_back({name, callback});
    return CHANNEL_RC_OK;
}

UINT VCAPITYPE StandInClient::Close(DWORD) {
    ++current->closeCalls;
    return CHANNEL_RC_OK;
}

UINT VCAPITYPE StandInClient::WriteData(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) {
    current->writes.push_back({openHandle, std::string(static_cast<const char*>(data), length), userData});
    return current->writeResult;
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
    return entry(&table, &extendedInitHandle);
}

UINT VCAPITYPE StandInClient::InitEx(LPVOID userParam, LPVOID, LPVOID initHandle, PCHANNEL_DEF channels, INT count,
                                     ULONG version, PCHANNEL_INIT_EVENT_EX_FN callback) {
    if (initHandle != &extendedInitHandle) return CHANNEL_RC_BAD_INIT_HANDLE;
    extendedUserParam = userParam;
    current->registrations.push_back({std::vector<CHANNEL_DEF>(channels, channels + count), version,
                                      [callback, userParam](UINT event, void* data, UINT length) {
                                          callback(userParam, &extendedInitHandle, event, data, length);
                                      }});
    return current->initResult;
}

UINT VCAPITYPE StandInClient::OpenChannelEx(LPVOID initHandle, LPDWORD openHandle, PCHAR name,
                                            PCHANNEL_OPEN_EVENT_EX_FN callback) {
    if (initHandle != &extendedInitHandle) return CHANNEL_RC_BAD_INIT_HANDLE;
    *openHandle = std::strcmp(name, "NlkCmd1") == 0 ? kCommandHandle : kDataHandle;
    current->opens.push_back(
        {name, [callback](DWORD handle, UINT event, void* data, UINT32 length, UINT32 total, UINT32 flags) {
             callback(extendedUserParam, handle, event, data, length, total, flags);
         }});
    return CHANNEL_RC_OK;
}

UINT VCAPITYPE StandInClient::CloseEx(LPVOID initHandle, DWORD openHandle) {
    return initHandle == &extendedInitHandle ? Close(openHandle) : CHANNEL_RC_BAD_INIT_HANDLE;
}

UINT VCAPITYPE StandInClient::WriteDataEx(LPVOID initHandle, DWORD openHandle, LPVOID data, ULONG length,
                                          LPVOID userData) {
    return initHandle == &extendedInitHandle ? WriteData(openHandle, data, length, userData)
                                             : CHANNEL_RC_BAD_INIT_HANDLE;
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
