// This session's channels on Linux: xrdp offers the WTS functions to the programs in its
// sessions in libxrdpapi.so, under the Windows names, without a header of its own.
#include <dlfcn.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "nelko/RemoteConnection.h"

namespace nelko::remote {
namespace {

// libxrdpapi's functions; each returns 1 on success. A read that returns 1 with 0 bytes
// timed out.
using OpenExFn = void* (*)(unsigned int sessionId, const char* name, unsigned int flags);
using WriteFn = int (*)(void* channel, const char* buffer, unsigned int length, unsigned int* written);
using ReadFn = int (*)(void* channel, unsigned int timeoutMs, char* buffer, unsigned int size, unsigned int* read);
using CloseFn = int (*)(void* channel);
// xrdp's own log, which its channel functions write to: started by no one, it prints "The
// log reference is NULL" on standard output at every open, into the program's output.
using LogConfigForConsoleFn = void* (*)(int level, const char* overrideName);
using LogStartFn = int (*)(const void* config);
using LogConfigFreeFn = int (*)(void* config);
constexpr int kXrdpLogLevelAlways = 0;  // only what xrdp logs whatever the level: nothing here

constexpr unsigned int kCurrentSession = 0xFFFFFFFFu;     // WTS_CURRENT_SESSION
constexpr const char* kXrdpApiPath = NELKO_XRDPAPI_PATH;  // set by the build

class XrdpChannels final : public ChannelApi {
public:
    XrdpChannels() {
        // Debian keeps it in xrdp's own folder, off the loader's search path. Never unloaded:
        // xrdp's log, once started, lives in it for the rest of the process.
        for (const char* path : {"libxrdpapi.so", kXrdpApiPath}) {
            library_ = ::dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
            if (library_ != nullptr) break;
        }
        if (library_ == nullptr) {
            throw Error(Failure::Unavailable, std::string("no xrdp channel library (") + kXrdpApiPath +
                                                  "): is this an xrdp session with xrdp installed?");
        }
        open_ = reinterpret_cast<OpenExFn>(::dlsym(library_, "WTSVirtualChannelOpenEx"));
        write_ = reinterpret_cast<WriteFn>(::dlsym(library_, "WTSVirtualChannelWrite"));
        read_ = reinterpret_cast<ReadFn>(::dlsym(library_, "WTSVirtualChannelRead"));
        close_ = reinterpret_cast<CloseFn>(::dlsym(library_, "WTSVirtualChannelClose"));
        if (open_ == nullptr || write_ == nullptr || read_ == nullptr || close_ == nullptr) {
            ::dlclose(library_);
            throw Error(Failure::Unavailable, "the xrdp channel library lacks the WTSVirtualChannel functions");
        }
        static std::once_flag logStarted;
        std::call_once(logStarted, [this] { QuietenXrdpLog(); });
    }
    ~XrdpChannels() override { ::dlclose(library_); }
    XrdpChannels(const XrdpChannels&) = delete;
    XrdpChannels& operator=(const XrdpChannels&) = delete;

    Handle Open(const std::string& name) override { return open_(kCurrentSession, name.c_str(), 0); }

    // Takes what the socket takes now; "not now" (1 with nothing written) is tried again.
    bool Write(Handle channel, const char* data, std::uint32_t size) override {
        for (int idle = 0; size > 0;) {
            unsigned int written = 0;
            if (write_(channel, data, size, &written) != 1 || written > size) return false;
            if (written == 0) {
                if (++idle > 1000) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            data += written;
            size -= written;
        }
        return true;
    }

    bool Read(Handle channel, std::uint32_t timeoutMs, char* buffer, std::uint32_t size, std::uint32_t& read) override {
        unsigned int got = 0;
        const bool ok = read_(channel, timeoutMs, buffer, size, &got) == 1 && got <= size;
        read = ok ? got : 0;
        return ok;
    }

    void Close(Handle channel) override { close_(channel); }

private:
    void QuietenXrdpLog() {
        const auto configure =
            reinterpret_cast<LogConfigForConsoleFn>(::dlsym(library_, "log_config_init_for_console"));
        const auto start = reinterpret_cast<LogStartFn>(::dlsym(library_, "log_start_from_param"));
        const auto release = reinterpret_cast<LogConfigFreeFn>(::dlsym(library_, "log_config_free"));
        if (configure == nullptr || start == nullptr || release == nullptr) return;
        void* const config = configure(kXrdpLogLevelAlways, nullptr);
        if (config == nullptr) return;
        start(config);
        release(config);
    }

    void* library_ = nullptr;
    OpenExFn open_ = nullptr;
    WriteFn write_ = nullptr;
    ReadFn read_ = nullptr;
    CloseFn close_ = nullptr;
};

}  // namespace

std::unique_ptr<ChannelApi> SessionChannelApi() { return std::make_unique<XrdpChannels>(); }

}  // namespace nelko::remote
