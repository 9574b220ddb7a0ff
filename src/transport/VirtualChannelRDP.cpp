#include "transport/VirtualChannelRDP.h"

#include <cstring>
#include <exception>

#include "command/RequestExecutor.h"
#include "diagnostics/TraceLog.h"
#include "platform/Platform.h"

namespace nelko {
namespace {

constexpr ULONG kChannelOptions = CHANNEL_OPTION_ENCRYPT_RDP | CHANNEL_OPTION_PRI_MED | CHANNEL_OPTION_COMPRESS_RDP;
static_assert(kChannelOptions == 0x44800000, "channel options");

// The trace line of a write the client refused. Other codes than these end the line in
// "?]": servers' log parsers may match that text as it stands.
std::string WriteFailureTrace(UINT code) {
    const char* name = nullptr;
    switch (code) {
        case CHANNEL_RC_NOT_CONNECTED: name = "CHANNEL_RC_NOT_CONNECTED"; break;
        case CHANNEL_RC_BAD_CHANNEL_HANDLE: name = "CHANNEL_RC_BAD_CHANNEL_HANDLE"; break;
        case CHANNEL_RC_NO_MEMORY: name = "CHANNEL_RC_NO_MEMORY"; break;
        case CHANNEL_RC_NULL_DATA: name = "CHANNEL_RC_NULL_DATA"; break;
        case CHANNEL_RC_ZERO_LENGTH: name = "CHANNEL_RC_ZERO_LENGTH"; break;
        default: break;
    }
    return std::string("! Sending response failed (") + (name != nullptr ? std::string(name) + ")" : "?]");
}

// The name of a client's return code, for the trace of a channel that did not open.
std::string ChannelCodeName(UINT code) {
    switch (code) {
        case CHANNEL_RC_ALREADY_INITIALIZED: return "CHANNEL_RC_ALREADY_INITIALIZED";
        case CHANNEL_RC_NOT_INITIALIZED: return "CHANNEL_RC_NOT_INITIALIZED";
        case CHANNEL_RC_ALREADY_CONNECTED: return "CHANNEL_RC_ALREADY_CONNECTED";
        case CHANNEL_RC_NOT_CONNECTED: return "CHANNEL_RC_NOT_CONNECTED";
        case CHANNEL_RC_BAD_INIT_HANDLE: return "CHANNEL_RC_BAD_INIT_HANDLE";
        case CHANNEL_RC_BAD_CHANNEL_HANDLE: return "CHANNEL_RC_BAD_CHANNEL_HANDLE";
        case CHANNEL_RC_UNKNOWN_CHANNEL_NAME: return "CHANNEL_RC_UNKNOWN_CHANNEL_NAME";
        case CHANNEL_RC_NOT_IN_VIRTUALCHANNELENTRY: return "CHANNEL_RC_NOT_IN_VIRTUALCHANNELENTRY";
        case CHANNEL_RC_BAD_PROC: return "CHANNEL_RC_BAD_PROC";
        case CHANNEL_RC_NO_MEMORY: return "CHANNEL_RC_NO_MEMORY";
        default: return std::to_string(code);
    }
}

// The plain entry's client functions, which take no init handle of ours.
class PlainEntrySession final : public ChannelSession {
public:
    PlainEntrySession(VirtualChannelRDP& owner, const CHANNEL_ENTRY_POINTS& entryPoints)
        : ChannelSession(owner),
          init_(entryPoints.pVirtualChannelInit),
          open_(entryPoints.pVirtualChannelOpen),
          write_(entryPoints.pVirtualChannelWrite) {}

    UINT RegisterChannels(PCHANNEL_DEF channels, INT count) override {
        // A client that hands over no init function gets the failure it would report itself.
        return init_ == nullptr
                   ? static_cast<UINT>(CHANNEL_RC_BAD_PROC)
                   : init_(&initHandle_, channels, count, VIRTUAL_CHANNEL_VERSION_WIN2000, VirtualChannelInitEvent);
    }
    UINT OpenChannel(const std::string& name, DWORD& openHandle) override {
        // The platform's signature takes a mutable name it does not modify.
        return open_ == nullptr
                   ? static_cast<UINT>(CHANNEL_RC_BAD_PROC)
                   : open_(initHandle_, &openHandle, const_cast<char*>(name.c_str()), VirtualChannelOpenEvent);
    }
    UINT WriteChannel(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) override {
        return write_ == nullptr ? static_cast<UINT>(CHANNEL_RC_NOT_INITIALIZED)
                                 : write_(openHandle, data, length, userData);
    }

private:
    PVIRTUALCHANNELINIT init_;
    PVIRTUALCHANNELOPEN open_;
    PVIRTUALCHANNELWRITE write_;
    LPVOID initHandle_ = nullptr;
};

void CopyChannelName(char (&target)[CHANNEL_NAME_LEN + 1], const std::string& name) {
    static_assert(sizeof(target) == 8, "channel name field");
    std::memset(target, 0, sizeof target);
    name.copy(target, sizeof target - 1);
}

std::string ChannelDataToString(const void* data, std::uint32_t count) {
    if (data == nullptr) count = 0;
    std::string text(static_cast<std::size_t>(count) + 2, '\0');
    if (count > 0) std::memcpy(&text[0], data, count);
    return text;
}

}  // namespace

VirtualChannelRDP::VirtualChannelRDP(RequestExecutor& requests) : requests_(requests) {
    Trace(std::string("VirtualChannelRDP (") + __DATE__ + __TIME__ + " R)");
}

VirtualChannelRDP::~VirtualChannelRDP() { Trace("~VirtualChannelRDP"); }

bool VirtualChannelRDP::Init(PCHANNEL_ENTRY_POINTS entryPoints) {
    {
        const std::lock_guard<std::mutex> lock(sessionsMutex_);
        if (plainSession_ != nullptr && !plainSession_->Terminated()) {
            // Its events could not be told from the first connection's: no channels, so its
            // server sees none, and the first connection goes on untouched.
            Trace("Init");
            Trace("Virtual channel init skipped (the channels serve another connection)");
            return true;
        }
    }
    const CHANNEL_ENTRY_POINTS none{};
    auto session = std::make_unique<PlainEntrySession>(*this, entryPoints != nullptr ? *entryPoints : none);
    ChannelSession* const registered = session.get();
    if (!InitSession(std::move(session))) return false;
    const std::lock_guard<std::mutex> lock(sessionsMutex_);
    if (plainSession_ != nullptr) registered->AdoptPendingWrites(*plainSession_);
    plainSession_ = registered;
    return true;
}

bool VirtualChannelRDP::InitSession(std::unique_ptr<ChannelSession> session) {
    Trace("Init");
    // A refused entry (the client already holds our channel names) leaves every session
    // that works as it is.
    if (!InitVirtualChannels(*session)) return false;
    const std::lock_guard<std::mutex> lock(sessionsMutex_);
    sessions_.push_back(std::move(session));
    return true;
}

ChannelSession* VirtualChannelRDP::PlainSession() {
    const std::lock_guard<std::mutex> lock(sessionsMutex_);
    return plainSession_;
}

bool VirtualChannelRDP::InitVirtualChannels(ChannelSession& session) {
    Trace("InitVirtualChannels");
    Trace("Command channel: " + CommandChannelName);
    Trace("Data channel: " + DataChannelName);

    CHANNEL_DEF channels[2] = {};
    CopyChannelName(channels[0].name, CommandChannelName);
    channels[0].options = kChannelOptions;
    CopyChannelName(channels[1].name, DataChannelName);
    channels[1].options = kChannelOptions;
    const UINT code = session.RegisterChannels(channels, 2);

    LogStream log = OpenLogFile();
    WriteLogRawLine(log, code == CHANNEL_RC_OK ? "Virtual channel init successful"
                                               : "Virtual channel init failed (" + std::to_string(code) + ")");
    CloseLogFile(log);
    if (code != CHANNEL_RC_OK) platform::ShowMessage("RDP Virtual channel Init Failed", "OrvelServer");
    return code == CHANNEL_RC_OK;
}

void VirtualChannelRDP::OnVirtualChannelClientConnected(ChannelSession& session) {
    Trace("OnVirtualChannelClientConnected");
    session.OnConnected();
}

void VirtualChannelRDP::OnVirtualChannelDataReceived(ChannelSession& session, const std::string& request) {
    Trace("OnVirtualChannelDataReceived");
    Trace("--> " + request);
    session.SendResponse(requests_.Execute(request));
}

void ChannelSession::OnConnected() {
    // A client that reconnects on its own (FreeRDP's auto-reconnect) keeps the channels open:
    // "already open" leaves the handle it gave before in use, and is no failure.
    const auto open = [this](const std::string& name, DWORD& handle) {
        const UINT code = OpenChannel(name, handle);
        if (code != CHANNEL_RC_OK && code != CHANNEL_RC_ALREADY_OPEN)
            Trace("! Opening channel " + name + " failed (" + ChannelCodeName(code) + ")");
        return code;
    };
    DWORD commandHandle = 0;
    open(CommandChannelName, commandHandle);
    DWORD dataHandle = 0;
    const UINT dataCode = open(DataChannelName, dataHandle);
    const std::lock_guard<std::mutex> lock(handlesMutex_);
    if (dataCode == CHANNEL_RC_ALREADY_OPEN) return;
    dataOpenHandle_ = dataHandle;
    dataChannelOpen_ = dataCode == CHANNEL_RC_OK;
}

void ChannelSession::OnDataChunk(DWORD openHandle, const char* data, std::uint32_t dataLength,
                                 std::uint32_t totalLength, std::uint32_t dataFlags) {
    const std::size_t maxRequestLength = owner_.MaxRequestLengthInUse();
    if (data == nullptr) dataLength = 0;
    const char* discarded = nullptr;  // why the message is discarded, if it is
    std::string whole;
    if (dataLength >= totalLength) {
        // A whole message in one event; anything half-received before it is abandoned.
        {
            const std::lock_guard<std::mutex> lock(partialMessagesMutex_);
            partialMessages_.erase(openHandle);
        }
        if (dataLength > maxRequestLength) discarded = "! Request discarded (Request too long)";
    } else {
        const std::lock_guard<std::mutex> lock(partialMessagesMutex_);
        PartialMessage& message = partialMessages_[openHandle];
        if (message.received == 0 || (dataFlags & CHANNEL_FLAG_FIRST) != 0) {
            message = PartialMessage{};
            message.total = totalLength;
            message.tooLong = totalLength > maxRequestLength;
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
    owner_.OnVirtualChannelDataReceived(*this, ChannelDataToString(data, dataLength));
}

void ChannelSession::DropPartialMessages() {
    bool dropped = false;
    {
        const std::lock_guard<std::mutex> lock(partialMessagesMutex_);
        dropped = !partialMessages_.empty();
        partialMessages_.clear();
    }
    if (dropped) Trace("! Partial request dropped");
}

void ChannelSession::OnTerminated() {
    terminated_ = true;
    DropPartialMessages();
}

void ChannelSession::SendResponse(const std::string& response) {
    Trace("<-- " + response);
    if (response.size() > VirtualChannelRDP::MaxResponseLength) {
        Trace("! Sending response failed (Response too long)");
        // The server waits for exactly one answer per request: give it one that fits.
        SendResponse("ERROR|Response too long");
        return;
    }
    DWORD dataHandle = 0;
    {
        const std::lock_guard<std::mutex> lock(handlesMutex_);
        if (!dataChannelOpen_) {
            Trace("! Sending response failed (" + DataChannelName + " is not open)");
            return;
        }
        dataHandle = dataOpenHandle_;
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
        // Counted across sessions, so that an adopted write never shares its ticket.
        static std::atomic<std::uintptr_t> lastWriteTicket{0};
        ticket = reinterpret_cast<void*>(++lastWriteTicket);  // NOLINT(performance-no-int-to-ptr)
        pendingWrites_.emplace(ticket, std::move(owned));
    }
    const UINT code = WriteChannel(dataHandle, buffer, static_cast<ULONG>(response.size()), ticket);
    if (code == CHANNEL_RC_OK) return;
    OnWriteFinished(ticket);
    Trace(WriteFailureTrace(code));
}

void ChannelSession::AdoptPendingWrites(ChannelSession& from) {
    const std::scoped_lock lock(pendingWritesMutex_, from.pendingWritesMutex_);
    pendingWrites_.merge(from.pendingWrites_);
}

void ChannelSession::OnWriteFinished(void* userData) {
    const std::lock_guard<std::mutex> lock(pendingWritesMutex_);
    pendingWrites_.erase(userData);
}

// ---- Platform callbacks ------------------------------------------------------------
// They run on the client's threads, inside the client's process: nothing may escape.

void HandleInitEvent(ChannelSession* session, UINT event, LPVOID pData, UINT dataLength) {
    Trace("VirtualChannelInitEvent");
    switch (event) {
        case CHANNEL_EVENT_INITIALIZED: Trace("-Channel initialized"); break;
        case CHANNEL_EVENT_CONNECTED:
            Trace("-Channel connected - " + ChannelDataToString(pData, dataLength));
            if (session != nullptr) TheVirtualChannel().OnVirtualChannelClientConnected(*session);
            break;
        case CHANNEL_EVENT_V1_CONNECTED: Trace("-Channel V1 connected (old server)"); break;
        case CHANNEL_EVENT_DISCONNECTED:
            Trace("-Channel disconnected");
            if (session != nullptr) session->DropPartialMessages();
            break;
        case CHANNEL_EVENT_TERMINATED:
            Trace("-Channel terminated");
            if (session != nullptr) session->OnTerminated();
            break;
        default: Trace("!!! Unknown event !!!"); break;
    }
}

void HandleOpenEvent(ChannelSession* session, DWORD openHandle, UINT event, LPVOID pData, UINT32 dataLength,
                     UINT32 totalLength, UINT32 dataFlags) {
    Trace("VirtualChannelOpenEvent");
    switch (event) {
        case CHANNEL_EVENT_DATA_RECEIVED:
            Trace("-Event \"Data received\": \"" + ChannelDataToString(pData, dataLength) + "\"");
            if (session != nullptr)
                session->OnDataChunk(openHandle, static_cast<const char*>(pData), dataLength, totalLength, dataFlags);
            break;
        case CHANNEL_EVENT_WRITE_COMPLETE:
        case CHANNEL_EVENT_WRITE_CANCELLED:
            Trace(event == CHANNEL_EVENT_WRITE_COMPLETE ? "-Event \"Write complete\"" : "-Event \"Write cancelled\"");
            if (session != nullptr) session->OnWriteFinished(pData);
            break;
        default: break;
    }
}

void VCAPITYPE VirtualChannelInitEvent(LPVOID, UINT event, LPVOID pData, UINT dataLength) {
    try {
        HandleInitEvent(TheVirtualChannel().PlainSession(), event, pData, dataLength);
    } catch (...) {
    }
}

void VCAPITYPE VirtualChannelOpenEvent(DWORD openHandle, UINT event, LPVOID pData, UINT32 dataLength,
                                       UINT32 totalLength, UINT32 dataFlags) {
    try {
        HandleOpenEvent(TheVirtualChannel().PlainSession(), openHandle, event, pData, dataLength, totalLength,
                        dataFlags);
    } catch (...) {
    }
}

}  // namespace nelko
