// A one-client Remote Desktop server (libfreerdp's peer API) that exchanges messages with a
// client plug-in over two static virtual channels: requests go out on the command channel,
// responses come back on the data channel.
#pragma once

#include "ScriptRunner.h"

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include <freerdp/peer.h>
#include <winpr/wtypes.h>

namespace nelko::e2e {

class RdpTestServer : public Link {
public:
    struct Options {
        std::string bindAddress = "127.0.0.1";
        std::uint16_t port = 0;  // 0: the system picks a free one
        std::string certificateFile;
        std::string privateKeyFile;
        std::string commandChannel = "NlkCmd1";
        std::string dataChannel = "NlkDta1";
        std::chrono::milliseconds acceptTimeout{30000};
        std::chrono::milliseconds activationTimeout{20000};
        std::chrono::milliseconds settleAfterActivation{0};
        bool verbose = false;
    };

    // How the responses arrived on the server side: PDUs per whole message.
    struct ChunkStats {
        std::uint64_t messages = 0;
        std::uint64_t chunks = 0;
        std::uint64_t multiChunkMessages = 0;
        std::uint64_t maxChunksPerMessage = 0;
        std::uint64_t largestMessage = 0;
    };

    RdpTestServer(Options options, std::ostream& log);
    ~RdpTestServer() override;
    RdpTestServer(const RdpTestServer&) = delete;
    RdpTestServer& operator=(const RdpTestServer&) = delete;

    bool Listen(std::string& error);
    std::uint16_t Port() const { return boundPort_; }

    // Accepts the next client, waits for activation and opens both channels.
    bool AcceptSession(std::string& error);
    // Ends the current session: graceful tells the client (which then exits), otherwise the
    // connection is cut as a network failure would.
    void EndSession(bool graceful);

    bool Send(const std::string& request, std::string& error) override;
    Received Receive(Clock::time_point deadline) override;
    bool Reconnect(bool graceful, std::string& error) override;

    const ChunkStats& GetChunkStats() const { return chunkStats_; }
    std::uint64_t StrayCommandChannelMessages() const { return strayOnCommand_; }
    std::uint64_t Sessions() const { return sessions_; }

private:
    struct PeerContext;

    static BOOL OnPostConnect(freerdp_peer* peer);
    static BOOL OnActivate(freerdp_peer* peer);
    static BOOL OnReceiveChannelData(freerdp_peer* peer, UINT16 channelId, const BYTE* data, size_t size, UINT32 flags,
                                     size_t totalSize);
    static RdpTestServer* OwnerOf(freerdp_peer* peer);

    bool Pump(Clock::time_point deadline, std::string& error);
    bool TakeMessage(HANDLE channel, std::string& message, std::string& error);
    void DrainCommandChannel();
    void FreePeer();
    bool WaitForClient(Clock::time_point deadline, std::string& error);

    Options options_;
    std::ostream& log_;
    int listenFd_ = -1;
    std::uint16_t boundPort_ = 0;

    freerdp_peer* peer_ = nullptr;
    HANDLE vcm_ = nullptr;
    HANDLE command_ = nullptr;
    HANDLE data_ = nullptr;
    UINT16 dataChannelId_ = 0;
    psPeerReceiveChannelData forwardReceive_ = nullptr;
    bool activated_ = false;
    bool connected_ = false;
    std::string lostReason_;

    std::uint64_t currentChunks_ = 0;
    ChunkStats chunkStats_;
    std::uint64_t strayOnCommand_ = 0;
    std::uint64_t sessions_ = 0;
};

// Writes a self-signed certificate and its private key (PEM) for the server.
bool MakeCertificate(const std::string& certificateFile, const std::string& privateKeyFile, std::string& error);

// Milliseconds since the Unix epoch, for lining up the server's and the runner's timestamps.
std::int64_t EpochMillis();

}  // namespace nelko::e2e
