#include "RdpTestServer.h"

#include "PeerCertificate.h"

#include <freerdp/channels/channels.h>
#include <freerdp/channels/wtsvc.h>
#include <freerdp/freerdp.h>
#include <freerdp/settings.h>
#include <winpr/synch.h>
#include <winpr/tools/makecert.h>
#include <winpr/wtsapi.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace nelko::e2e {

// The peer's context with a way back to the server object.
struct RdpTestServer::PeerContext {
    rdpContext base;
    RdpTestServer* owner;
};

namespace {

constexpr int kMaxReadPasses = 64;
constexpr DWORD kWriteBlockedPollMs = 2;

DWORD MillisUntil(Clock::time_point deadline) {
    const auto now = Clock::now();
    if (deadline <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<DWORD>(std::min<long long>(ms, 24LL * 3600 * 1000));
}

}  // namespace

std::int64_t EpochMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

RdpTestServer::RdpTestServer(Options options, std::ostream& log) : options_(std::move(options)), log_(log) {}

RdpTestServer::~RdpTestServer() {
    FreePeer();
    if (listenFd_ >= 0) ::close(listenFd_);
}

bool RdpTestServer::Listen(std::string& error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1) {
        error = "not an IPv4 address: " + options_.bindAddress;
        return false;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 4) != 0) {
        error = "cannot listen on " + options_.bindAddress + ":" + std::to_string(options_.port) + ": " +
                std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = std::string("getsockname: ") + std::strerror(errno);
        return false;
    }
    boundPort_ = ntohs(address.sin_port);
    return true;
}

RdpTestServer* RdpTestServer::OwnerOf(freerdp_peer* peer) {
    if (peer == nullptr || peer->context == nullptr) return nullptr;
    return reinterpret_cast<PeerContext*>(peer->context)->owner;
}

BOOL RdpTestServer::OnPostConnect(freerdp_peer* peer) {
    RdpTestServer* self = OwnerOf(peer);
    if (self != nullptr && self->options_.verbose)
        self->log_ << "EVENT post-connect epoch_ms=" << EpochMillis() << std::endl;
    return TRUE;
}

BOOL RdpTestServer::OnActivate(freerdp_peer* peer) {
    RdpTestServer* self = OwnerOf(peer);
    if (self != nullptr) self->activated_ = true;
    return TRUE;
}

// Sits in front of the channel manager's handler to see how the data channel's messages are cut
// into PDUs; the channel manager itself only ever hands out whole messages.
BOOL RdpTestServer::OnReceiveChannelData(freerdp_peer* peer, UINT16 channelId, const BYTE* data, size_t size,
                                         UINT32 flags, size_t totalSize) {
    RdpTestServer* self = OwnerOf(peer);
    if (self == nullptr || self->forwardReceive_ == nullptr) return FALSE;
    if (channelId == self->dataChannelId_ && self->dataChannelId_ != 0) {
        if ((flags & CHANNEL_FLAG_FIRST) != 0) self->currentChunks_ = 0;
        ++self->currentChunks_;
        ++self->chunkStats_.chunks;
        if ((flags & CHANNEL_FLAG_LAST) != 0) {
            ChunkStats& s = self->chunkStats_;
            ++s.messages;
            s.maxChunksPerMessage = std::max(s.maxChunksPerMessage, self->currentChunks_);
            s.largestMessage = std::max<std::uint64_t>(s.largestMessage, totalSize);
            if (self->currentChunks_ > 1) ++s.multiChunkMessages;
        }
    }
    return self->forwardReceive_(peer, channelId, data, size, flags, totalSize);
}

bool RdpTestServer::WaitForClient(Clock::time_point deadline, std::string& error) {
    while (true) {
        pollfd fd{listenFd_, POLLIN, 0};
        const int ready = ::poll(&fd, 1, static_cast<int>(MillisUntil(deadline)));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) {
            error = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        if (Clock::now() >= deadline) {
            error = "no client connected within " + std::to_string(options_.acceptTimeout.count()) + " ms";
            return false;
        }
    }
}

bool RdpTestServer::AcceptSession(std::string& error) {
    FreePeer();
    if (!WaitForClient(Clock::now() + options_.acceptTimeout, error)) return false;

    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&from), &fromLength, SOCK_CLOEXEC);
    if (fd < 0) {
        error = std::string("accept: ") + std::strerror(errno);
        return false;
    }
    const auto acceptedAt = Clock::now();
    log_ << "EVENT accepted epoch_ms=" << EpochMillis() << std::endl;

    peer_ = freerdp_peer_new(fd);
    if (peer_ == nullptr) {
        ::close(fd);
        error = "freerdp_peer_new failed";
        return false;
    }
    ::inet_ntop(AF_INET, &from.sin_addr, peer_->hostname, sizeof peer_->hostname);
    peer_->ContextSize = sizeof(PeerContext);
    if (!freerdp_peer_context_new(peer_)) {
        freerdp_peer_free(peer_);
        peer_ = nullptr;
        error = "freerdp_peer_context_new failed";
        return false;
    }
    reinterpret_cast<PeerContext*>(peer_->context)->owner = this;

    rdpSettings* settings = peer_->context->settings;
    if (!SetPeerCertificate(settings, options_.certificateFile, options_.privateKeyFile) ||
        !freerdp_settings_set_bool(settings, FreeRDP_RdpSecurity, FALSE) ||
        !freerdp_settings_set_bool(settings, FreeRDP_TlsSecurity, TRUE) ||
        !freerdp_settings_set_bool(settings, FreeRDP_NlaSecurity, FALSE) ||
        !freerdp_settings_set_uint32(settings, FreeRDP_ColorDepth, 32)) {
        error = "cannot apply the server settings";
        FreePeer();
        return false;
    }
    peer_->PostConnect = OnPostConnect;
    peer_->Activate = OnActivate;
    activated_ = false;
    connected_ = true;
    lostReason_.clear();

    if (!peer_->Initialize(peer_)) {
        error = "peer initialisation failed (certificate or key unusable?)";
        FreePeer();
        return false;
    }
    vcm_ = WTSOpenServerA(reinterpret_cast<LPSTR>(peer_->context));
    if (vcm_ == nullptr || vcm_ == INVALID_HANDLE_VALUE) {
        vcm_ = nullptr;
        error = "WTSOpenServerA failed";
        FreePeer();
        return false;
    }
    forwardReceive_ = peer_->ReceiveChannelData;
    peer_->ReceiveChannelData = OnReceiveChannelData;

    const auto activationDeadline = acceptedAt + options_.activationTimeout;
    while (!activated_) {
        std::string pumpError;
        if (!Pump(activationDeadline, pumpError)) {
            error = "client connection ended before activation: " + pumpError;
            FreePeer();
            return false;
        }
        if (!activated_ && Clock::now() >= activationDeadline) {
            error = "client not activated within " + std::to_string(options_.activationTimeout.count()) + " ms";
            FreePeer();
            return false;
        }
    }
    const double setupMs = std::chrono::duration<double, std::milli>(Clock::now() - acceptedAt).count();
    log_ << "EVENT activated epoch_ms=" << EpochMillis() << " after_accept_ms=" << static_cast<long>(setupMs)
         << std::endl;

    for (const std::string* name : {&options_.commandChannel, &options_.dataChannel}) {
        if (!WTSVirtualChannelManagerIsChannelJoined(vcm_, name->c_str())) {
            error = "the client did not join channel " + *name + " (plug-in not loaded?)";
            FreePeer();
            return false;
        }
    }
    command_ = WTSVirtualChannelOpen(vcm_, WTS_CURRENT_SESSION, const_cast<LPSTR>(options_.commandChannel.c_str()));
    data_ = WTSVirtualChannelOpen(vcm_, WTS_CURRENT_SESSION, const_cast<LPSTR>(options_.dataChannel.c_str()));
    if (command_ == nullptr || data_ == nullptr) {
        error = "WTSVirtualChannelOpen failed";
        FreePeer();
        return false;
    }
    dataChannelId_ = WTSChannelGetId(peer_, options_.dataChannel.c_str());
    currentChunks_ = 0;
    ++sessions_;

    if (options_.settleAfterActivation.count() > 0) {
        const auto until = Clock::now() + options_.settleAfterActivation;
        std::string pumpError;
        while (Clock::now() < until) {
            if (!Pump(until, pumpError)) {
                error = "client connection ended while settling: " + pumpError;
                FreePeer();
                return false;
            }
        }
    }
    return true;
}

bool RdpTestServer::Pump(Clock::time_point deadline, std::string& error) {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    DWORD count = peer_->GetEventHandles(peer_, handles, MAXIMUM_WAIT_OBJECTS - 1);
    if (count == 0) {
        error = "no transport event handles";
        return false;
    }
    // The channel manager is served from activation on: FreeRDP 3.15 would otherwise send
    // channel data while the client is still in the licensing phase, which ends the connection.
    if (activated_) handles[count++] = WTSVirtualChannelManagerGetEventHandle(vcm_);

    DWORD timeout = MillisUntil(deadline);
    if (peer_->IsWriteBlocked(peer_)) timeout = std::min(timeout, kWriteBlockedPollMs);
    if (WaitForMultipleObjects(count, handles, FALSE, timeout) == WAIT_FAILED) {
        error = "WaitForMultipleObjects failed";
        return false;
    }
    for (int pass = 0; pass < kMaxReadPasses; ++pass) {
        if (!peer_->CheckFileDescriptor(peer_)) {
            error = "the client connection closed";
            return false;
        }
        if (!peer_->HasMoreToRead(peer_)) break;
    }
    if (activated_ && !WTSVirtualChannelManagerCheckFileDescriptor(vcm_)) {
        error = "sending channel data failed";
        return false;
    }
    if (peer_->IsWriteBlocked(peer_) && peer_->DrainOutputBuffer(peer_) < 0) {
        error = "flushing output failed";
        return false;
    }
    return true;
}

bool RdpTestServer::TakeMessage(HANDLE channel, std::string& message, std::string& error) {
    ULONG size = 0;
    if (channel == nullptr || !WTSVirtualChannelRead(channel, 0, nullptr, 0, &size)) return false;
    if (size == 0) {
        error = "a zero-length message is stuck in the channel queue";
        return false;
    }
    message.assign(size, '\0');
    ULONG got = 0;
    if (!WTSVirtualChannelRead(channel, 0, message.data(), size, &got) || got != size) {
        error = "short channel read";
        return false;
    }
    return true;
}

void RdpTestServer::DrainCommandChannel() {
    std::string stray;
    std::string error;
    for (int i = 0; i < 1000 && TakeMessage(command_, stray, error); ++i) {
        ++strayOnCommand_;
        log_ << "WARN message on " << options_.commandChannel << " (responses belong on " << options_.dataChannel
             << "): " << Printable(stray) << std::endl;
    }
}

bool RdpTestServer::Send(const std::string& request, std::string& error) {
    if (!connected_ || command_ == nullptr) {
        error = "not connected" + (lostReason_.empty() ? std::string() : ": " + lostReason_);
        return false;
    }
    ULONG written = 0;
    if (!WTSVirtualChannelWrite(command_, const_cast<PCHAR>(request.data()), static_cast<ULONG>(request.size()),
                                &written) ||
        written != request.size()) {
        error = "WTSVirtualChannelWrite failed";
        return false;
    }
    return true;
}

Received RdpTestServer::Receive(Clock::time_point deadline) {
    Received r;
    while (true) {
        std::string error;
        if (TakeMessage(data_, r.data, error)) {
            r.status = Received::Status::Message;
            return r;
        }
        if (!error.empty()) {
            r.status = Received::Status::Closed;
            r.error = error;
            return r;
        }
        DrainCommandChannel();
        if (!connected_) {
            r.status = Received::Status::Closed;
            r.error = lostReason_;
            return r;
        }
        if (Clock::now() >= deadline) {
            r.status = Received::Status::Timeout;
            return r;
        }
        if (!Pump(deadline, error)) {
            connected_ = false;
            lostReason_ = error;
            log_ << "EVENT connection-lost epoch_ms=" << EpochMillis() << " reason=\"" << error << "\"" << std::endl;
        }
    }
}

void RdpTestServer::EndSession(bool graceful) {
    if (peer_ == nullptr) return;
    if (connected_ && graceful) {
        // Flush queued channel data, then say goodbye: deactivate, error info, disconnect
        // ultimatum; the client exits.
        WTSVirtualChannelManagerCheckFileDescriptor(vcm_);
        peer_->Close(peer_);
        const auto until = Clock::now() + std::chrono::seconds(1);
        while (peer_->IsWriteBlocked(peer_) && Clock::now() < until) {
            if (peer_->DrainOutputBuffer(peer_) < 0) break;
            ::usleep(1000);
        }
    }
    log_ << "EVENT session-end epoch_ms=" << EpochMillis() << (graceful ? " graceful" : " dropped") << std::endl;
    FreePeer();
}

bool RdpTestServer::Reconnect(bool graceful, std::string& error) {
    EndSession(graceful);
    return AcceptSession(error);
}

void RdpTestServer::FreePeer() {
    if (command_ != nullptr) WTSVirtualChannelClose(command_);
    if (data_ != nullptr) WTSVirtualChannelClose(data_);
    command_ = nullptr;
    data_ = nullptr;
    if (vcm_ != nullptr) WTSCloseServer(vcm_);
    vcm_ = nullptr;
    if (peer_ != nullptr) {
        peer_->Disconnect(peer_);
        freerdp_peer_context_free(peer_);
        freerdp_peer_free(peer_);
    }
    peer_ = nullptr;
    forwardReceive_ = nullptr;
    dataChannelId_ = 0;
    activated_ = false;
    connected_ = false;
}

bool MakeCertificate(const std::string& certificateFile, const std::string& privateKeyFile, std::string& error) {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::path(certificateFile).parent_path().empty() ? fs::path(".") : fs::path(certificateFile).parent_path();
    std::string base = "nelko-makecert-" + std::to_string(::getpid());
    std::vector<std::string> args{"makecert", "-rdp", "-live", "-silent", "-y", "1"};
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& arg : args) argv.push_back(arg.data());
    std::string dirText = dir.string();

    MAKECERT_CONTEXT* context = makecert_context_new();
    if (context == nullptr) {
        error = "makecert_context_new failed";
        return false;
    }
    bool ok = makecert_context_process(context, static_cast<int>(argv.size()), argv.data()) >= 0 &&
              makecert_context_set_output_file_name(context, base.data()) == 1 &&
              makecert_context_output_certificate_file(context, dirText.data()) == 1 &&
              makecert_context_output_private_key_file(context, dirText.data()) == 1;
    makecert_context_free(context);
    if (!ok) {
        error = "generating the certificate failed";
        return false;
    }
    std::error_code ec;
    fs::rename(dir / (base + ".crt"), certificateFile, ec);
    if (!ec) fs::rename(dir / (base + ".key"), privateKeyFile, ec);
    if (ec) {
        error = "moving the generated certificate into place failed: " + ec.message();
        return false;
    }
    return true;
}

}  // namespace nelko::e2e
