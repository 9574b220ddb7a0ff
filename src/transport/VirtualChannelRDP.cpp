#include "transport/VirtualChannelRDP.h"

#include <cstring>
#include <exception>
#include <tuple>

#include "command/Instrument.h"
#include "diagnostics/TraceLog.h"
#include "platform/Platform.h"

namespace nelko {
namespace {

constexpr ULONG kChannelOptions = CHANNEL_OPTION_ENCRYPT_RDP | CHANNEL_OPTION_PRI_MED | CHANNEL_OPTION_COMPRESS_RDP;
static_assert(kChannelOptions == 0x44800000, "channel options");

const char* WriteFailureName(UINT code) {
    switch (code) {
        case CHANNEL_RC_NOT_CONNECTED: return "CHANNEL_RC_NOT_CONNECTED)";
        case CHANNEL_RC_BAD_CHANNEL_HANDLE: return "CHANNEL_RC_BAD_CHANNEL_HANDLE)";
        case CHANNEL_RC_NO_MEMORY: return "CHANNEL_RC_NO_MEMORY)";
        case CHANNEL_RC_NULL_DATA: return "CHANNEL_RC_NULL_DATA)";
        case CHANNEL_RC_ZERO_LENGTH: return "CHANNEL_RC_ZERO_LENGTH)";
        default: return "?]";  // Servers' log parsers may match this text as it stands.
    }
}

void CopyChannelName(char (&target)[CHANNEL_NAME_LEN + 1], const std::string& name) {
    static_assert(sizeof(target) == 8, "channel name field");
    std::memset(target, 0, sizeof target);
    name.copy(target, sizeof target - 1);
}

}  // namespace

std::string ChannelDataToString(const void* data, std::uint32_t count) {
    if (data == nullptr) count = 0;
    std::string text(static_cast<std::size_t>(count) + 2, '\0');
    if (count > 0) std::memcpy(&text[0], data, count);
    return text;
}

VirtualChannelRDP::VirtualChannelRDP() { Trace(std::string("VirtualChannelRDP (") + __DATE__ + __TIME__ + " R)"); }

VirtualChannelRDP::~VirtualChannelRDP() {
    delete instrument;
    Trace("~VirtualChannelRDP");
}

bool VirtualChannelRDP::Init(PCHANNEL_ENTRY_POINTS entryPoints) {
    Trace("Init");
    const auto previous = std::make_tuple(pVirtualChannelInit, pVirtualChannelOpen, pVirtualChannelClose,
                                          pVirtualChannelWrite, initHandle);
    if (entryPoints != nullptr) {
        pVirtualChannelInit = entryPoints->pVirtualChannelInit;
        pVirtualChannelOpen = entryPoints->pVirtualChannelOpen;
        pVirtualChannelClose = entryPoints->pVirtualChannelClose;
        pVirtualChannelWrite = entryPoints->pVirtualChannelWrite;
    }
    if (InitVirtualChannels()) return true;
    // A refused second entry (the client already holds our channel names) must not take
    // away the registration that works: the channels keep its functions and handle.
    std::tie(pVirtualChannelInit, pVirtualChannelOpen, pVirtualChannelClose, pVirtualChannelWrite, initHandle) =
        previous;
    return false;
}

bool VirtualChannelRDP::InitVirtualChannels() {
    Trace("InitVirtualChannels");
    Trace("Command channel: " + CommandChannelName);
    Trace("Data channel: " + DataChannelName);

    CHANNEL_DEF channels[2] = {};
    CopyChannelName(channels[0].name, CommandChannelName);
    channels[0].options = kChannelOptions;
    CopyChannelName(channels[1].name, DataChannelName);
    channels[1].options = kChannelOptions;

    // A client that hands over no init function gets the failure it would report itself.
    const UINT code =
        pVirtualChannelInit == nullptr
            ? static_cast<UINT>(CHANNEL_RC_BAD_PROC)
            : pVirtualChannelInit(&initHandle, channels, 2, VIRTUAL_CHANNEL_VERSION_WIN2000, VirtualChannelInitEvent);

    LogStream log = OpenLogFile();
    if (code != CHANNEL_RC_OK) {
        WriteLogRawLine(log, "Virtual channel init failed (" + std::to_string(code) + ")");
        CloseLogFile(log);
        platform::ShowMessage("RDP Virtual channel Init Failed", "OrvelServer");
        return false;
    }
    WriteLogRawLine(log, "Virtual channel init successful");
    CloseLogFile(log);
    return true;
}

void VirtualChannelRDP::OnVirtualChannelClientConnected() {
    Trace("OnVirtualChannelClientConnected");
    if (pVirtualChannelOpen == nullptr) return;
    // The platform's signature takes a mutable name it does not modify.
    pVirtualChannelOpen(initHandle, &commandOpenHandle, const_cast<char*>(CommandChannelName.c_str()),
                        VirtualChannelOpenEvent);
    pVirtualChannelOpen(initHandle, &dataOpenHandle, const_cast<char*>(DataChannelName.c_str()),
                        VirtualChannelOpenEvent);
}

void VirtualChannelRDP::OnDataChunk(DWORD openHandle, const char* data, std::uint32_t dataLength,
                                    std::uint32_t totalLength, std::uint32_t dataFlags) {
    if (data == nullptr) dataLength = 0;
    const char* discarded = nullptr;  // why the message is discarded, if it is
    std::string whole;
    if (dataLength >= totalLength) {
        // A whole message in one event; anything half-received before it is abandoned.
        {
            const std::lock_guard<std::mutex> lock(partialMessagesMutex_);
            partialMessages_.erase(openHandle);
        }
        if (dataLength > maxRequestLength_) discarded = "! Request discarded (Request too long)";
    } else {
        const std::lock_guard<std::mutex> lock(partialMessagesMutex_);
        PartialMessage& message = partialMessages_[openHandle];
        if (message.received == 0 || (dataFlags & CHANNEL_FLAG_FIRST) != 0) {
            message = PartialMessage{};
            message.total = totalLength;
            message.tooLong = totalLength > maxRequestLength_;
            if (!message.tooLong) message.data.reserve(totalLength);
        }
        // The first chunk's total holds: later chunks may claim any other.
        if (dataLength > message.total - message.received) {
            partialMessages_.erase(openHandle);
            discarded = "! Request discarded (chunks past its declared length)";
        } else {
            if (!message.tooLong) message.data.append(data, dataLength);
            message.received += dataLength;
            if (message.received < message.total) return;
            if (message.tooLong) discarded = "! Request discarded (Request too long)";
            whole = std::move(message.data);
            partialMessages_.erase(openHandle);
            data = whole.data();
            dataLength = static_cast<std::uint32_t>(whole.size());
        }
    }
    if (discarded != nullptr) {
        Trace(discarded);
        SendResponse("ERROR|Request too long");
        return;
    }
    OnVirtualChannelDataReceived(ChannelDataToString(data, dataLength));
}

void VirtualChannelRDP::DropPartialMessages() {
    bool dropped = false;
    {
        const std::lock_guard<std::mutex> lock(partialMessagesMutex_);
        dropped = !partialMessages_.empty();
        partialMessages_.clear();
    }
    if (dropped) Trace("! Partial request dropped");
}

void VirtualChannelRDP::OnVirtualChannelDataReceived(const std::string& request) {
    Trace("OnVirtualChannelDataReceived");
    Trace("--> " + request);
    SendResponse(ExecuteRequest(request));
}

std::string VirtualChannelRDP::ExecuteRequest(const std::string& request) {
    const std::lock_guard<std::recursive_mutex> lock(requestMutex_);
    if (instrument == nullptr) instrument = new Instrument();
    return instrument->Execute(request).ToString();
}

void VirtualChannelRDP::SendResponse(const std::string& response) {
    Trace("<-- " + response);
    if (response.size() > MaxResponseLength) {
        Trace("! Sending response failed (Response too long)");
        // The server waits for exactly one answer per request: give it one that fits.
        SendResponse("ERROR|Response too long");
        return;
    }

    std::unique_ptr<char[]> owned(new char[response.size() + 1]);
    std::memcpy(owned.get(), response.data(), response.size());
    owned[response.size()] = '\0';
    char* const buffer = owned.get();
    // The user data is a serial number, not the buffer's address: a completion reported
    // twice must not release a later write whose buffer got the same address.
    void* ticket = nullptr;
    {
        // Registered before the write: the platform may report its end on another thread
        // before VirtualChannelWrite has even returned.
        const std::lock_guard<std::mutex> lock(pendingWritesMutex_);
        ticket = reinterpret_cast<void*>(++lastWriteTicket_);  // NOLINT(performance-no-int-to-ptr)
        pendingWrites_.emplace(ticket, std::move(owned));
    }
    const UINT code = pVirtualChannelWrite == nullptr
                          ? static_cast<UINT>(CHANNEL_RC_NOT_INITIALIZED)
                          : pVirtualChannelWrite(dataOpenHandle, buffer, static_cast<ULONG>(response.size()), ticket);
    if (code == CHANNEL_RC_OK) return;
    OnWriteFinished(ticket);
    Trace(std::string("! Sending response failed (") + WriteFailureName(code));
}

void VirtualChannelRDP::OnWriteFinished(void* userData) {
    const std::lock_guard<std::mutex> lock(pendingWritesMutex_);
    pendingWrites_.erase(userData);
}

std::size_t VirtualChannelRDP::PendingWriteCount() const {
    const std::lock_guard<std::mutex> lock(pendingWritesMutex_);
    return pendingWrites_.size();
}

// ---- Platform callbacks ------------------------------------------------------------
// They run on the client's threads, inside the client's process: nothing may escape.

void VCAPITYPE VirtualChannelInitEvent(LPVOID, UINT event, LPVOID pData, UINT dataLength) {
    try {
        Trace("VirtualChannelInitEvent");
        switch (event) {
            case CHANNEL_EVENT_INITIALIZED: Trace("-Channel initialized"); break;
            case CHANNEL_EVENT_CONNECTED:
                Trace("-Channel connected - " + ChannelDataToString(pData, dataLength));
                TheVirtualChannel().OnVirtualChannelClientConnected();
                break;
            case CHANNEL_EVENT_V1_CONNECTED: Trace("-Channel V1 connected (old server)"); break;
            case CHANNEL_EVENT_DISCONNECTED:
                Trace("-Channel disconnected");
                TheVirtualChannel().DropPartialMessages();
                break;
            case CHANNEL_EVENT_TERMINATED:
                Trace("-Channel terminated");
                TheVirtualChannel().DropPartialMessages();
                break;
            default: Trace("!!! Unknown event !!!"); break;
        }
    } catch (...) {
    }
}

void VCAPITYPE VirtualChannelOpenEvent(DWORD openHandle, UINT event, LPVOID pData, UINT32 dataLength,
                                       UINT32 totalLength, UINT32 dataFlags) {
    try {
        Trace("VirtualChannelOpenEvent");
        switch (event) {
            case CHANNEL_EVENT_DATA_RECEIVED:
                Trace("-Event \"Data received\": \"" + ChannelDataToString(pData, dataLength) + "\"");
                TheVirtualChannel().OnDataChunk(openHandle, static_cast<const char*>(pData), dataLength, totalLength,
                                                dataFlags);
                break;
            case CHANNEL_EVENT_WRITE_COMPLETE:
                Trace("-Event \"Write complete\"");
                TheVirtualChannel().OnWriteFinished(pData);
                break;
            case CHANNEL_EVENT_WRITE_CANCELLED:
                Trace("-Event \"Write cancelled\"");
                TheVirtualChannel().OnWriteFinished(pData);
                break;
            default: break;
        }
    } catch (...) {
    }
}

}  // namespace nelko
