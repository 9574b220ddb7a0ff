#include "ClientWrites.h"

#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define NELKO_WITH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NELKO_WITH_ASAN 1
#endif
#endif

#if defined(NELKO_WITH_ASAN)
#include <sanitizer/asan_interface.h>
#elif __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define NELKO_WITH_VALGRIND 1
#endif

namespace nelko::fuzz {
namespace {

// The table's write function gets no context pointer: it reports to the live tracker.
ClientWrites* current = nullptr;

}  // namespace

bool RunningUnderChecker() {
#if defined(NELKO_WITH_ASAN)
    return true;
#elif defined(NELKO_WITH_VALGRIND)
    return RUNNING_ON_VALGRIND != 0;
#else
    return false;
#endif
}

bool KnownReleased(const void* data, std::size_t size) {
    if (data == nullptr || size == 0) return false;
#if defined(NELKO_WITH_ASAN)
    // Freed memory stays poisoned while it sits in the quarantine.
    return __asan_region_is_poisoned(const_cast<void*>(data), size) != nullptr;
#elif defined(NELKO_WITH_VALGRIND)
    // Freed blocks are kept inaccessible for a while; asking for their validity bits
    // answers 3 then, without reporting an error.
    if (!RUNNING_ON_VALGRIND) return false;
    std::string bits(size, '\0');
    return VALGRIND_GET_VBITS(data, &bits[0], size) == 3;
#else
    (void)size;
    return false;
#endif
}

bool IsAnswer(const std::string& response) {
    for (const char* status : {"OK", "ERROR"}) {
        const std::size_t length = std::strlen(status);
        if (response.compare(0, length, status) == 0 && (response.size() == length || response[length] == '|'))
            return true;
    }
    return false;
}

ClientWrites::ClientWrites(test::StandInClient& client) : client_(client) { current = this; }

ClientWrites::~ClientWrites() { current = nullptr; }

BOOL ClientWrites::Enter(test::VirtualChannelEntryFn entry) {
    CHANNEL_ENTRY_POINTS table = client_.EntryPoints();
    forward_ = table.pVirtualChannelWrite;
    table.pVirtualChannelWrite = &ClientWrites::SpyWrite;
    return entry(&table);
}

UINT VCAPITYPE ClientWrites::SpyWrite(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) {
    current->pointers_.push_back(static_cast<const char*>(data));
    const UINT code = current->forward_(openHandle, data, length, userData);
    current->codes_.push_back(code);
    return code;
}

void ClientWrites::Fail(const std::string& what) {
    if (broken_.empty()) broken_ = what;
}

std::vector<std::string> ClientWrites::TakeNew() {
    std::vector<std::string> texts;
    if (client_.writes.size() != pointers_.size()) {
        Fail("a write bypassed the entry-point table");
        inspected_ = client_.writes.size();
        return texts;
    }
    for (; inspected_ < client_.writes.size(); ++inspected_) {
        const test::StandInClient::Write& write = client_.writes[inspected_];
        const char* data = pointers_[inspected_];
        texts.push_back(write.data);
        if (write.openHandle != test::StandInClient::kDataHandle) Fail("response written to another channel");
        if (write.data.size() > kChunkLimit) Fail("write of " + std::to_string(write.data.size()) + " bytes");
        if (!IsAnswer(write.data)) Fail("write is no answer: " + write.data.substr(0, 80));
        if (codes_[inspected_] == CHANNEL_RC_OK) {
            held_.push_back({data, write.data, write.userData});
            continue;
        }
        if (RunningUnderChecker() && !KnownReleased(data, write.data.size()))
            Fail("buffer of a refused write kept: " + write.data.substr(0, 80));
        finished_.push_back(write.userData);
    }
    return texts;
}

void ClientWrites::Finish(std::size_t index, bool cancelled) {
    if (index >= held_.size()) return;
    const Held write = held_[index];
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(index));
    // Read exactly as a client sending it would: a released buffer is a checker report.
    if (std::memcmp(write.data, write.copy.data(), write.copy.size()) != 0)
        Fail("buffer changed before its write finished: " + write.copy.substr(0, 80));
    if (cancelled)
        client_.WriteCancelled(write.userData);
    else
        client_.WriteComplete(write.userData);
    finished_.push_back(write.userData);
    if (RunningUnderChecker() && !KnownReleased(write.data, write.copy.size()))
        Fail("buffer kept after its write finished: " + write.copy.substr(0, 80));
}

void ClientWrites::FinishAll(bool cancelled) {
    while (!held_.empty()) Finish(0, cancelled);
}

void ClientWrites::FinishAgain(std::size_t index, bool cancelled) {
    if (!finished_.empty()) ReportFinished(finished_[index % finished_.size()], cancelled);
}

void ClientWrites::ReportFinished(void* userData, bool cancelled) {
    // The allocator may have handed a finished write's buffer to a newer write, whose user
    // data is then the same: the add-in cannot tell them apart and releases the newer one.
    for (std::size_t i = 0; i < held_.size();) {
        if (held_[i].userData == userData)
            held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    if (cancelled)
        client_.WriteCancelled(userData);
    else
        client_.WriteComplete(userData);
}

}  // namespace nelko::fuzz
