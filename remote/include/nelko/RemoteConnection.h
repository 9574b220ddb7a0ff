// The server side of NelkoClientDriver: a program inside a Remote Desktop session sends
// request texts to the add-in on the user's client and gets its response texts back.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace nelko::remote {

// Why a request got no response. Each has its own code in the C interface.
enum class Failure {
    Unavailable = 1,     // no Remote Desktop services to ask (not in a session, no xrdp library)
    NoChannel = 2,       // the session has no such channel (the client does not offer it)
    TimedOut = 3,        // nothing answered: no add-in in the client, or it is busy
    SessionGone = 4,     // the channel broke and could not be opened again
    RequestTooLong = 5,  // longer than a channel can deliver as one message
    CommandFailed = 6,   // the add-in answered "ERROR|..." (typed calls only)
    BadResponse = 7,     // an "OK" answer that is not the value asked for (typed calls only)
};

class Error : public std::runtime_error {
public:
    Error(Failure failure, const std::string& message) : std::runtime_error(message), failure_(failure) {}
    Failure failure() const { return failure_; }

private:
    Failure failure_;
};

// The server side of a static virtual channel, as the session's Remote Desktop services
// offer it (the WTS functions). Tests put a stand-in in its place.
class ChannelApi {
public:
    using Handle = void*;
    virtual ~ChannelApi() = default;
    // Null when the channel cannot be opened.
    virtual Handle Open(const std::string& name) = 0;
    // False when the channel refused the bytes; true promises nothing about delivery.
    virtual bool Write(Handle channel, const char* data, std::uint32_t size) = 0;
    // Waits up to `timeoutMs` for bytes; `read` is 0 when none came. False: the channel broke.
    virtual bool Read(Handle channel, std::uint32_t timeoutMs, char* buffer, std::uint32_t size,
                      std::uint32_t& read) = 0;
    virtual void Close(Handle channel) = 0;
};

// This session's channels: wtsapi32 on Windows, xrdp's libxrdpapi.so on Linux.
// Throws Error(Failure::Unavailable) when there is no such service.
std::unique_ptr<ChannelApi> SessionChannelApi();

struct ConnectionOptions {
    std::string commandChannel = "NlkCmd1";    // requests go here
    std::string dataChannel = "NlkDta1";       // responses come from here
    std::chrono::milliseconds timeout{10000};  // per attempt
    // A new session's channel service needs a moment before its first open succeeds.
    std::chrono::milliseconds openPatience{5000};
};

// One request in flight at a time: the channel is a byte stream, so a response is told
// apart from the next one only by being the answer to the one request outstanding.
class Connection {
public:
    // The longest request sent: a request must reach the add-in as one message, and xrdp's
    // channel service forwards what one read of its socket gives.
    static constexpr std::size_t kMaxRequestLength = 16384;

    explicit Connection(ConnectionOptions options = {});
    Connection(std::unique_ptr<ChannelApi> api, ConnectionOptions options);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The add-in's response text ("OK|true", "ERROR|Missing parameter"). A request that got
    // no answer (a client that reconnected loses what was written meanwhile) is sent once
    // more on freshly opened channels; then Error.
    std::string Execute(const std::string& request);
    std::string Execute(const std::string& request, std::chrono::milliseconds timeout);

    const ConnectionOptions& Options() const { return options_; }

private:
    void OpenChannels();
    void CloseChannels();
    bool Attempt(const std::string& request, std::chrono::milliseconds timeout, std::string& response,
                 Failure& failure);

    std::unique_ptr<ChannelApi> api_;
    ConnectionOptions options_;
    ChannelApi::Handle command_ = nullptr;
    ChannelApi::Handle data_ = nullptr;
    std::mutex mutex_;
};

}  // namespace nelko::remote
