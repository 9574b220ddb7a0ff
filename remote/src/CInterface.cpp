#include <cstring>
#include <memory>
#include <new>

#include "nelko/RemoteConnection.h"
#include "nelko/nelko_remote.h"

struct nelko_remote {
    nelko::remote::ConnectionOptions options;
    // Made at the first request, so that opening never fails and every failure has its text.
    std::unique_ptr<nelko::remote::Connection> connection;
    std::string lastError;
    std::string response;
};

namespace {

int Fail(nelko_remote* remote, int code, const std::string& text) {
    remote->lastError = text;
    return code;
}

int Run(nelko_remote* remote, const char* request) {
    try {
        if (!remote->connection) remote->connection = std::make_unique<nelko::remote::Connection>(remote->options);
        remote->response = remote->connection->Execute(request);
        return NELKO_REMOTE_OK;
    } catch (const nelko::remote::Error& e) {
        return Fail(remote, static_cast<int>(e.failure()), e.what());
    } catch (const std::exception& e) {
        return Fail(remote, NELKO_REMOTE_SESSION_GONE, e.what());
    }
}

}  // namespace

extern "C" {

nelko_remote* nelko_remote_open(const char* command_channel, const char* data_channel, unsigned timeout_ms) {
    try {
        auto remote = std::make_unique<nelko_remote>();
        if (command_channel != nullptr) remote->options.commandChannel = command_channel;
        if (data_channel != nullptr) remote->options.dataChannel = data_channel;
        if (timeout_ms != 0) remote->options.timeout = std::chrono::milliseconds(timeout_ms);
        return remote.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int nelko_remote_execute(nelko_remote* remote, const char* request, char* response, size_t size, size_t* length) {
    if (remote == nullptr) return NELKO_REMOTE_INVALID_ARGUMENT;
    remote->lastError.clear();
    if (length != nullptr) *length = 0;
    if (request == nullptr || (response == nullptr && size != 0))
        return Fail(remote, NELKO_REMOTE_INVALID_ARGUMENT, "null request or response buffer");
    const int result = Run(remote, request);
    if (result != NELKO_REMOTE_OK) return result;
    if (length != nullptr) *length = remote->response.size();
    if (remote->response.size() + 1 > size)
        return Fail(remote, NELKO_REMOTE_BUFFER_TOO_SMALL,
                    "the response needs a buffer of " + std::to_string(remote->response.size() + 1) + " bytes");
    std::memcpy(response, remote->response.c_str(), remote->response.size() + 1);
    return NELKO_REMOTE_OK;
}

const char* nelko_remote_last_error(const nelko_remote* remote) {
    return remote == nullptr ? "null handle" : remote->lastError.c_str();
}

void nelko_remote_close(nelko_remote* remote) { delete remote; }

}  // extern "C"
