// This session's channels on Windows: the Remote Desktop Services API (wtsapi32).
#include <windows.h>
#include <wtsapi32.h>

#include "nelko/RemoteConnection.h"

namespace nelko::remote {
namespace {

class WtsChannels final : public ChannelApi {
public:
    Handle Open(const std::string& name) override {
        std::string copy = name;  // the API takes a non-const name
        const HANDLE channel = WTSVirtualChannelOpen(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, &copy[0]);
        return channel;
    }

    bool Write(Handle channel, const char* data, std::uint32_t size) override {
        while (size > 0) {
            ULONG written = 0;
            if (!WTSVirtualChannelWrite(channel, const_cast<PCHAR>(data), size, &written) || written == 0 ||
                written > size)
                return false;
            data += written;
            size -= written;
        }
        return true;
    }

    bool Read(Handle channel, std::uint32_t timeoutMs, char* buffer, std::uint32_t size, std::uint32_t& read) override {
        ULONG got = 0;
        read = 0;
        if (WTSVirtualChannelRead(channel, timeoutMs, buffer, size, &got)) {
            read = got <= size ? got : 0;
            return got <= size;
        }
        // A time-out is a failure with this code, not a broken channel.
        return GetLastError() == ERROR_IO_INCOMPLETE || GetLastError() == WAIT_TIMEOUT;
    }

    void Close(Handle channel) override { WTSVirtualChannelClose(channel); }
};

}  // namespace

std::unique_ptr<ChannelApi> SessionChannelApi() { return std::make_unique<WtsChannels>(); }

}  // namespace nelko::remote
