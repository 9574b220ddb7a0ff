// The add-in's connection to the Remote Desktop client: registers and opens the two
// channels, turns received messages into requests and writes the responses back.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ChannelApi.h"

namespace nelko {

class RequestExecutor;

extern const std::string CommandChannelName;  // "NlkCmd1"
extern const std::string DataChannelName;     // "NlkDta1"

class VirtualChannelRDP;

// One client connection's channels: its registration, its open handles, its partly received
// messages and its writes in flight. A client that runs several connections in one process
// has one session for each, so that an answer always goes back to the connection that asked.
class ChannelSession {
public:
    explicit ChannelSession(VirtualChannelRDP& owner) : owner_(owner) {}
    virtual ~ChannelSession() = default;
    ChannelSession(const ChannelSession&) = delete;
    ChannelSession& operator=(const ChannelSession&) = delete;

    // The client's channel functions, as the entry that made the session hands them over.
    virtual UINT RegisterChannels(PCHANNEL_DEF channels, INT count) = 0;
    virtual UINT OpenChannel(const std::string& name, DWORD& openHandle) = 0;
    virtual UINT WriteChannel(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) = 0;

    void OnConnected();
    // Called by the open-event callback for each received chunk.
    void OnDataChunk(DWORD openHandle, const char* data, std::uint32_t dataLength, std::uint32_t totalLength,
                     std::uint32_t dataFlags);
    void SendResponse(const std::string& response);
    // The platform is done with the buffer of one write.
    void OnWriteFinished(void* userData);
    // The connection ended: a message begun on it is never finished.
    void DropPartialMessages();
    void OnTerminated();
    bool Terminated() const { return terminated_; }
    // Takes over the writes another session still has in flight: the plain entry's
    // completions name no session, so a new registration must find the old one's.
    void AdoptPendingWrites(ChannelSession& from);

private:
    // A message arriving in several chunks, collected until it is whole.
    struct PartialMessage {
        std::string data;
        std::uint64_t received = 0;
        std::uint64_t total = 0;
        bool tooLong = false;
    };

    VirtualChannelRDP& owner_;
    std::atomic<bool> terminated_{false};
    // The data channel's handle, valid only while its last open succeeded: answers are
    // never written through a handle the client did not give us.
    std::mutex handlesMutex_;
    DWORD dataOpenHandle_ = 0;
    bool dataChannelOpen_ = false;

    // Chunks arrive on the client's channel thread, the end of a connection on another.
    std::mutex partialMessagesMutex_;
    std::map<DWORD, PartialMessage> partialMessages_;
    // Each response buffer stays alive until the platform reports its write finished.
    // Guarded: completions may arrive on another of the client's threads.
    mutable std::mutex pendingWritesMutex_;
    std::map<const void*, std::unique_ptr<char[]>> pendingWrites_;
};

class VirtualChannelRDP {
public:
    // The longest response written to the channel: one chunk.
    static constexpr std::size_t MaxResponseLength = 1600;
    // The longest request accepted; a longer message is discarded unexecuted.
    static constexpr std::size_t MaxRequestLength = std::size_t{1024} * 1024;

    explicit VirtualChannelRDP(RequestExecutor& requests);
    ~VirtualChannelRDP();
    VirtualChannelRDP(const VirtualChannelRDP&) = delete;
    VirtualChannelRDP& operator=(const VirtualChannelRDP&) = delete;

    // The plain entry's registration. Its events name no connection, so it serves one at a
    // time: while one is registered, another is accepted without channels.
    bool Init(PCHANNEL_ENTRY_POINTS entryPoints);
    // The extended entry's registration: every connection gets a session of its own.
    bool InitSession(std::unique_ptr<ChannelSession> session);
    bool InitVirtualChannels(ChannelSession& session);
    void OnVirtualChannelClientConnected(ChannelSession& session);
    void OnVirtualChannelDataReceived(ChannelSession& session, const std::string& request);

    // The session the plain entry registered last, if any: the plain callbacks' target.
    ChannelSession* PlainSession();

    std::size_t MaxRequestLengthInUse() const { return maxRequestLength_; }
    // Fuzzing works with a lower limit: messages past the real one cost it milliseconds each.
    void SetMaxRequestLengthForTesting(std::size_t length) { maxRequestLength_ = length; }

private:
    RequestExecutor& requests_;
    std::size_t maxRequestLength_ = MaxRequestLength;

    // Sessions live as long as the library: a client may still deliver a late event to a
    // connection it has ended.
    std::mutex sessionsMutex_;
    std::vector<std::unique_ptr<ChannelSession>> sessions_;
    ChannelSession* plainSession_ = nullptr;
};

// The single process-wide connection, on which the two platform callbacks act.
VirtualChannelRDP& TheVirtualChannel();

// The events of one session, whichever entry's callback delivered them.
void HandleInitEvent(ChannelSession* session, UINT event, LPVOID pData, UINT dataLength);
void HandleOpenEvent(ChannelSession* session, DWORD openHandle, UINT event, LPVOID pData, UINT32 dataLength,
                     UINT32 totalLength, UINT32 dataFlags);

void VCAPITYPE VirtualChannelInitEvent(LPVOID pInitHandle, UINT event, LPVOID pData, UINT dataLength);
void VCAPITYPE VirtualChannelOpenEvent(DWORD openHandle, UINT event, LPVOID pData, UINT32 dataLength,
                                       UINT32 totalLength, UINT32 dataFlags);

}  // namespace nelko
