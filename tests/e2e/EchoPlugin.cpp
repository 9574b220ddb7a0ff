// libNelkoEcho-client.so: a FreeRDP static virtual channel plug-in with the add-in's channel
// behaviour and no logic. It registers "NlkCmd1" and "NlkDta1", opens both when the session
// connects, rebuilds each received message from its chunks, and writes the same bytes back
// on "NlkDta1". It proves the end-to-end rig and serves as the benchmark baseline.
//
// Set NELKO_ECHO_TRACE=PATH to append one line per event to PATH, each with the id of the
// thread it came on (for debugging the rig).
#include "ChunkAssembler.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <freerdp/svc.h>
#include <winpr/wtsapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

namespace {

using nelko::e2e::ChunkAssembler;

static_assert(ChunkAssembler::kFirst == CHANNEL_FLAG_FIRST, "chunk flag values differ");
static_assert(ChunkAssembler::kLast == CHANNEL_FLAG_LAST, "chunk flag values differ");

constexpr ULONG kChannelOptions = 0x44800000;
constexpr std::array<const char*, 2> kChannelNames{"NlkCmd1", "NlkDta1"};
constexpr std::size_t kReplyChannel = 1;

struct Channel {
    DWORD openHandle = 0;
    bool open = false;
    ChunkAssembler assembler;
};

struct State {
    std::mutex mutex;
    // The plain entry's functions, or the extended entry's (which FreeRDP 3 needs).
    CHANNEL_ENTRY_POINTS entryPoints{};
    CHANNEL_ENTRY_POINTS_EX entryPointsEx{};
    bool extended = false;
    LPVOID initHandle = nullptr;
    bool initialised = false;
    std::array<Channel, kChannelNames.size()> channels;
};

// Static storage: a write completion that arrives late never touches freed memory.
State g_state;
std::atomic<long> g_outstandingWrites{0};

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

void Trace(const char* format, ...) {
    const char* path = std::getenv("NELKO_ECHO_TRACE");
    if (path == nullptr || *path == '\0') return;
    FILE* file = std::fopen(path, "a");
    if (file == nullptr) return;
    std::fprintf(file, "[%ld] ", static_cast<long>(syscall(SYS_gettid)));
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}

// Each write owns its buffer until the client library hands the user-data pointer back.
struct WriteBuffer {
    std::vector<char> bytes;
};

int ChannelIndexFor(DWORD openHandle) {
    for (std::size_t i = 0; i < g_state.channels.size(); ++i) {
        if (g_state.channels[i].open && g_state.channels[i].openHandle == openHandle) return static_cast<int>(i);
    }
    return -1;
}

// Called with the mutex held.
void SendReply(std::vector<char> message) {
    Channel& reply = g_state.channels[kReplyChannel];
    if (!reply.open || message.empty()) {
        Trace("reply of %zu bytes not sent: reply channel %s", message.size(), reply.open ? "open" : "closed");
        return;
    }
    auto* buffer = new (std::nothrow) WriteBuffer{std::move(message)};
    if (buffer == nullptr) return;
    void* const data = buffer->bytes.data();
    const auto length = static_cast<ULONG>(buffer->bytes.size());
    const UINT rc = g_state.extended ? g_state.entryPointsEx.pVirtualChannelWriteEx(
                                           g_state.initHandle, reply.openHandle, data, length, buffer)
                                     : g_state.entryPoints.pVirtualChannelWrite(reply.openHandle, data, length, buffer);
    if (rc != CHANNEL_RC_OK) {
        Trace("VirtualChannelWrite failed: %u", rc);
        delete buffer;
        return;
    }
    g_outstandingWrites.fetch_add(1);
}

VOID VCAPITYPE OnOpenEvent(DWORD openHandle, UINT event, LPVOID pData, UINT32 dataLength, UINT32 totalLength,
                           UINT32 dataFlags) {
    switch (event) {
        case CHANNEL_EVENT_DATA_RECEIVED: {
            std::lock_guard<std::mutex> lock(g_state.mutex);
            const int index = ChannelIndexFor(openHandle);
            if (index < 0) return;  // data for a channel we closed: the client library still delivers it
            ChunkAssembler& assembler = g_state.channels[static_cast<std::size_t>(index)].assembler;
            const std::size_t errorsBefore = assembler.ErrorCount();
            const auto result = assembler.Feed(pData, dataLength, totalLength, dataFlags);
            if (assembler.ErrorCount() != errorsBefore)
                Trace("%s: %s", kChannelNames[static_cast<std::size_t>(index)], assembler.LastError().c_str());
            if (result == ChunkAssembler::Result::Complete) SendReply(assembler.Take());
            break;
        }
        case CHANNEL_EVENT_WRITE_COMPLETE:
        case CHANNEL_EVENT_WRITE_CANCELLED:
            if (event == CHANNEL_EVENT_WRITE_CANCELLED) Trace("write cancelled");
            delete static_cast<WriteBuffer*>(pData);
            g_outstandingWrites.fetch_sub(1);
            break;
        default: break;
    }
}

VOID VCAPITYPE OnOpenEventEx(LPVOID, DWORD openHandle, UINT event, LPVOID pData, UINT32 dataLength, UINT32 totalLength,
                             UINT32 dataFlags) {
    OnOpenEvent(openHandle, event, pData, dataLength, totalLength, dataFlags);
}

// Called with the mutex held.
void OpenChannels() {
    for (std::size_t i = 0; i < kChannelNames.size(); ++i) {
        Channel& channel = g_state.channels[i];
        channel.assembler.Reset();
        DWORD handle = 0;
        const auto name = const_cast<PCHAR>(kChannelNames[i]);
        const UINT rc =
            g_state.extended
                ? g_state.entryPointsEx.pVirtualChannelOpenEx(g_state.initHandle, &handle, name, OnOpenEventEx)
                : g_state.entryPoints.pVirtualChannelOpen(g_state.initHandle, &handle, name, OnOpenEvent);
        if (rc == CHANNEL_RC_OK || (rc == CHANNEL_RC_ALREADY_OPEN && channel.open)) {
            if (rc == CHANNEL_RC_OK) channel.openHandle = handle;
            channel.open = true;
        } else {
            Trace("VirtualChannelOpen(%s) failed: %u", kChannelNames[i], rc);
            channel.open = false;
        }
    }
}

// Called with the mutex held.
void CloseChannels() {
    for (Channel& channel : g_state.channels) {
        if (channel.open && g_state.extended)
            g_state.entryPointsEx.pVirtualChannelCloseEx(g_state.initHandle, channel.openHandle);
        else if (channel.open)
            g_state.entryPoints.pVirtualChannelClose(channel.openHandle);
        channel.open = false;
        channel.openHandle = 0;
        channel.assembler.Reset();
    }
}

VOID VCAPITYPE OnInitEvent(LPVOID pInitHandle, UINT event, LPVOID /*pData*/, UINT /*dataLength*/) {
    std::lock_guard<std::mutex> lock(g_state.mutex);
    if (pInitHandle != g_state.initHandle) return;
    switch (event) {
        case CHANNEL_EVENT_CONNECTED:
            Trace("connected");
            OpenChannels();
            break;
        case CHANNEL_EVENT_DISCONNECTED:
            Trace("disconnected (%ld writes outstanding)", g_outstandingWrites.load());
            CloseChannels();
            break;
        case CHANNEL_EVENT_TERMINATED:
            Trace("terminated (%ld writes outstanding)", g_outstandingWrites.load());
            CloseChannels();
            g_state.initialised = false;
            g_state.initHandle = nullptr;
            break;
        default: break;
    }
}

VOID VCAPITYPE OnInitEventEx(LPVOID, LPVOID pInitHandle, UINT event, LPVOID pData, UINT dataLength) {
    OnInitEvent(pInitHandle, event, pData, dataLength);
}

std::array<CHANNEL_DEF, kChannelNames.size()> ChannelDefs() {
    std::array<CHANNEL_DEF, kChannelNames.size()> defs{};
    for (std::size_t i = 0; i < kChannelNames.size(); ++i) {
        // defs is zeroed, so the name stays terminated.
        std::memcpy(defs[i].name, kChannelNames[i],
                    std::min<std::size_t>(std::strlen(kChannelNames[i]), CHANNEL_NAME_LEN));
        defs[i].options = kChannelOptions;
    }
    return defs;
}

// Called with the mutex held, after the init call.
BOOL Registered(UINT rc, LPVOID initHandle) {
    if (rc != CHANNEL_RC_OK) {
        Trace("VirtualChannelInit failed: %u", rc);
        return FALSE;
    }
    g_state.initHandle = initHandle;
    g_state.initialised = true;
    Trace("initialised");
    return TRUE;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) BOOL VCAPITYPE
VirtualChannelEntry(PCHANNEL_ENTRY_POINTS pEntryPoints) {
    static_assert(std::is_same_v<decltype(&VirtualChannelEntry), PVIRTUALCHANNELENTRY>,
                  "VirtualChannelEntry must match the channel API's entry type");
    if (pEntryPoints == nullptr || pEntryPoints->cbSize < sizeof(CHANNEL_ENTRY_POINTS) ||
        pEntryPoints->pVirtualChannelInit == nullptr || pEntryPoints->pVirtualChannelOpen == nullptr ||
        pEntryPoints->pVirtualChannelClose == nullptr || pEntryPoints->pVirtualChannelWrite == nullptr)
        return FALSE;

    std::lock_guard<std::mutex> lock(g_state.mutex);
    if (g_state.initialised) return FALSE;  // one session per process
    std::memcpy(&g_state.entryPoints, pEntryPoints, sizeof(CHANNEL_ENTRY_POINTS));
    g_state.extended = false;
    auto defs = ChannelDefs();
    LPVOID initHandle = nullptr;
    return Registered(g_state.entryPoints.pVirtualChannelInit(&initHandle, defs.data(), static_cast<INT>(defs.size()),
                                                              VIRTUAL_CHANNEL_VERSION_WIN2000, OnInitEvent),
                      initHandle);
}

// FreeRDP looks this one up first; FreeRDP 3 refuses the plain entry's registration.
extern "C" __attribute__((visibility("default"))) BOOL VCAPITYPE
VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX pEntryPointsEx, PVOID pInitHandle) {
    static_assert(std::is_same_v<decltype(&VirtualChannelEntryEx), PVIRTUALCHANNELENTRYEX>,
                  "VirtualChannelEntryEx must match the channel API's entry type");
    if (pEntryPointsEx == nullptr || pEntryPointsEx->cbSize < sizeof(CHANNEL_ENTRY_POINTS_EX) ||
        pEntryPointsEx->pVirtualChannelInitEx == nullptr || pEntryPointsEx->pVirtualChannelOpenEx == nullptr ||
        pEntryPointsEx->pVirtualChannelCloseEx == nullptr || pEntryPointsEx->pVirtualChannelWriteEx == nullptr)
        return FALSE;

    std::lock_guard<std::mutex> lock(g_state.mutex);
    if (g_state.initialised) return FALSE;  // one session per process
    std::memcpy(&g_state.entryPointsEx, pEntryPointsEx, sizeof(CHANNEL_ENTRY_POINTS_EX));
    g_state.extended = true;
    auto defs = ChannelDefs();
    return Registered(g_state.entryPointsEx.pVirtualChannelInitEx(nullptr, nullptr, pInitHandle, defs.data(),
                                                                  static_cast<INT>(defs.size()),
                                                                  VIRTUAL_CHANNEL_VERSION_WIN2000, OnInitEventEx),
                      pInitHandle);
}
