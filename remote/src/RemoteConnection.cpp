#include "nelko/RemoteConnection.h"

#include <thread>
#include <vector>

namespace nelko::remote {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kReadBufferSize = 65536;
constexpr auto kOpenPause = std::chrono::milliseconds(100);

std::uint32_t MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<std::uint32_t>(left);
}

}  // namespace

Connection::Connection(ConnectionOptions options) : Connection(SessionChannelApi(), std::move(options)) {}

Connection::Connection(std::unique_ptr<ChannelApi> api, ConnectionOptions options)
    : api_(std::move(api)), options_(std::move(options)) {}

Connection::~Connection() { CloseChannels(); }

std::string Connection::Execute(const std::string& request) { return Execute(request, options_.timeout); }

std::string Connection::Execute(const std::string& request, std::chrono::milliseconds timeout) {
    if (request.size() > kMaxRequestLength) {
        throw Error(Failure::RequestTooLong, "request of " + std::to_string(request.size()) +
                                                 " bytes: a channel delivers at most " +
                                                 std::to_string(kMaxRequestLength) + " as one message");
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    Failure failure = Failure::TimedOut;
    std::string response;
    // Handles may have gone stale in a reconnect, and what was written while the client was
    // away is lost although the write succeeded: the second attempt starts on new handles.
    for (int attempt = 0; attempt < 2; ++attempt) {
        OpenChannels();
        if (Attempt(request, timeout, response, failure)) return response;
        CloseChannels();
    }
    if (failure == Failure::TimedOut) {
        throw Error(Failure::TimedOut, "no response within " + std::to_string(timeout.count()) +
                                           " ms, twice: is the add-in installed in the client?");
    }
    throw Error(failure, "the channels " + options_.commandChannel + " and " + options_.dataChannel +
                             " broke and could not be used again: has the client gone?");
}

void Connection::OpenChannels() {
    if (command_ != nullptr && data_ != nullptr) return;
    const Clock::time_point deadline = Clock::now() + options_.openPatience;
    for (;;) {
        if (command_ == nullptr) command_ = api_->Open(options_.commandChannel);
        if (data_ == nullptr) data_ = api_->Open(options_.dataChannel);
        if (command_ != nullptr && data_ != nullptr) return;
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(kOpenPause);
    }
    const std::string missing = command_ == nullptr ? options_.commandChannel : options_.dataChannel;
    CloseChannels();
    throw Error(Failure::NoChannel, "cannot open the channel " + missing +
                                        " in this session: does the client offer it (is the add-in "
                                        "installed), and does the server allow it?");
}

void Connection::CloseChannels() {
    if (command_ != nullptr) api_->Close(command_);
    if (data_ != nullptr) api_->Close(data_);
    command_ = nullptr;
    data_ = nullptr;
}

bool Connection::Attempt(const std::string& request, std::chrono::milliseconds timeout, std::string& response,
                         Failure& failure) {
    std::vector<char> buffer(kReadBufferSize);
    std::uint32_t read = 0;
    // A late answer to an earlier request that timed out must not pass for this one's.
    do {
        if (!api_->Read(data_, 0, buffer.data(), kReadBufferSize, read)) {
            failure = Failure::SessionGone;
            return false;
        }
    } while (read != 0);
    if (!api_->Write(command_, request.data(), static_cast<std::uint32_t>(request.size()))) {
        failure = Failure::SessionGone;
        return false;
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    response.clear();
    do {
        if (!api_->Read(data_, MillisecondsLeft(deadline), buffer.data(), kReadBufferSize, read)) {
            failure = Failure::SessionGone;
            return false;
        }
    } while (read == 0 && Clock::now() < deadline);
    if (read == 0) {
        failure = Failure::TimedOut;
        return false;
    }
    // The add-in writes each response at once; what is already there belongs to it.
    while (read != 0) {
        response.append(buffer.data(), read);
        if (!api_->Read(data_, 0, buffer.data(), kReadBufferSize, read)) break;
    }
    return true;
}

}  // namespace nelko::remote
