// The client's side of the add-in's writes, as a real client has it: the buffer handed to
// VirtualChannelWrite is read until the client reports the write complete or cancelled,
// and must stay untouched until then. Wraps the stand-in client's write function to learn
// the buffer's address (the stand-in itself keeps only a copy).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "StandInClient.h"

namespace nelko::fuzz {

class ClientWrites {
public:
    // The largest write the channel carries in one chunk.
    static constexpr std::size_t kChunkLimit = 1600;

    explicit ClientWrites(test::StandInClient& client);
    ~ClientWrites();
    ClientWrites(const ClientWrites&) = delete;
    ClientWrites& operator=(const ClientWrites&) = delete;

    // VirtualChannelEntry with the stand-in's table, its write function wrapped.
    BOOL Enter(test::VirtualChannelEntryFn entry);

    // Checks the writes made since the last call: on the data channel, within one chunk,
    // shaped as an answer. Accepted ones are held; refused ones must be released already.
    // Returns their texts.
    std::vector<std::string> TakeNew();

    std::size_t HeldCount() const { return held_.size(); }
    // Reports the index-th held write finished, after checking its buffer is intact; the
    // add-in must release the buffer during the event.
    void Finish(std::size_t index, bool cancelled);
    void FinishAll(bool cancelled);
    // Reports an already finished write finished once more, as a confused client might.
    void FinishAgain(std::size_t index, bool cancelled);
    // Reports a write finished with arbitrary user data.
    void ReportFinished(void* userData, bool cancelled);
    std::size_t FinishedCount() const { return finished_.size(); }

    // The first broken expectation, or empty.
    const std::string& Broken() const { return broken_; }
    void Fail(const std::string& what);

private:
    struct Held {
        const char* data;
        std::string copy;
        void* userData;
    };

    static UINT VCAPITYPE SpyWrite(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData);

    test::StandInClient& client_;
    PVIRTUALCHANNELWRITE forward_ = nullptr;
    std::vector<const char*> pointers_;  // parallel to client_.writes
    std::vector<UINT> codes_;            // what each write was answered
    std::size_t inspected_ = 0;
    std::vector<Held> held_;
    std::vector<void*> finished_;
    std::string broken_;
};

// Whether AddressSanitizer or valgrind watches this process's memory.
bool RunningUnderChecker();
// Whether memory the add-in handed out has been given back to the allocator, as far as the
// running memory checker (AddressSanitizer or valgrind) can tell; false when none runs.
bool KnownReleased(const void* data, std::size_t size);

// "OK" or "ERROR", alone or followed by "|" and a text.
bool IsAnswer(const std::string& response);

}  // namespace nelko::fuzz
