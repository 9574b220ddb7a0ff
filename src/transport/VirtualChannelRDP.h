// The add-in's connection to the Remote Desktop client: registers and opens the two
// channels, turns received messages into requests and writes the responses back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ChannelApi.h"

namespace nelko {

class Instrument;

extern const std::string CommandChannelName;  // "NlkCmd1"
extern const std::string DataChannelName;     // "NlkDta1"

class VirtualChannelRDP {
public:
    // The longest response written to the channel: one chunk.
    static constexpr std::size_t MaxResponseLength = 1600;
    // The longest request accepted; a longer message is discarded unexecuted.
    static constexpr std::size_t MaxRequestLength = std::size_t{1024} * 1024;

    VirtualChannelRDP();
    ~VirtualChannelRDP();
    VirtualChannelRDP(const VirtualChannelRDP&) = delete;
    VirtualChannelRDP& operator=(const VirtualChannelRDP&) = delete;

    bool Init(PCHANNEL_ENTRY_POINTS entryPoints);
    bool InitVirtualChannels();
    void OnVirtualChannelClientConnected();
    void OnVirtualChannelDataReceived(const std::string& request);
    std::string ExecuteRequest(const std::string& request);
    void SendResponse(const std::string& response);

    // Fuzzing works with a lower limit: messages past the real one cost it milliseconds each.
    void SetMaxRequestLengthForTesting(std::size_t length) { maxRequestLength_ = length; }

    // Called by the open-event callback for each received chunk.
    void OnDataChunk(DWORD openHandle, const char* data, std::uint32_t dataLength, std::uint32_t totalLength,
                     std::uint32_t dataFlags);
    // The platform is done with the buffer of one write.
    void OnWriteFinished(void* userData);
    // The connection ended: a message begun on it is never finished.
    void DropPartialMessages();

    std::size_t PendingWriteCount() const;

private:
    // A message arriving in several chunks, collected until it is whole.
    struct PartialMessage {
        std::string data;
        std::uint64_t received = 0;
        std::uint64_t total = 0;
        bool tooLong = false;
    };

    PVIRTUALCHANNELINIT pVirtualChannelInit = nullptr;
    PVIRTUALCHANNELOPEN pVirtualChannelOpen = nullptr;
    PVIRTUALCHANNELCLOSE pVirtualChannelClose = nullptr;
    PVIRTUALCHANNELWRITE pVirtualChannelWrite = nullptr;
    LPVOID initHandle = nullptr;
    DWORD commandOpenHandle = 0;
    DWORD dataOpenHandle = 0;
    Instrument* instrument = nullptr;  // created by the first request
    std::size_t maxRequestLength_ = MaxRequestLength;
    // One request at a time, whichever path brought it: "Init" unloads the driver another
    // request may be inside, and the first request creates `instrument`. Recursive: a driver
    // may call SimulationExecute from inside a command, on the thread that holds it.
    std::recursive_mutex requestMutex_;

    // Chunks arrive on the client's channel thread, the end of a connection on another.
    std::mutex partialMessagesMutex_;
    std::map<DWORD, PartialMessage> partialMessages_;
    // Each response buffer stays alive until the platform reports its write finished.
    // Guarded: completions may arrive on another of the client's threads.
    mutable std::mutex pendingWritesMutex_;
    std::map<const void*, std::unique_ptr<char[]>> pendingWrites_;
    std::uintptr_t lastWriteTicket_ = 0;
};

// The single process-wide connection, on which the two platform callbacks act.
VirtualChannelRDP& TheVirtualChannel();

std::string ChannelDataToString(const void* data, std::uint32_t count);

void VCAPITYPE VirtualChannelInitEvent(LPVOID pInitHandle, UINT event, LPVOID pData, UINT dataLength);
void VCAPITYPE VirtualChannelOpenEvent(DWORD openHandle, UINT event, LPVOID pData, UINT32 dataLength,
                                       UINT32 totalLength, UINT32 dataFlags);

}  // namespace nelko
