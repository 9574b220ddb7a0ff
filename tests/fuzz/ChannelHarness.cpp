// Sequences of channel events, decoded from the input, delivered to the add-in's code by the
// stand-in client.
//
// Input: a series of operations, each an opcode byte (taken modulo 11) and its fields;
// numbers are little-endian, fields past the end of the input read as zero, and byte
// strings are cut to what is left. H is a handle selector (modulo 3: command channel,
// data channel, a handle the add-in never opened).
//   0 message    H, chunk:u8, length:u16, bytes   one well-formed message, in chunks of
//                                                 `chunk` bytes (0: in one event), larger
//                                                 when that would make over 16 chunks
//   1 raw chunk  H, flags:u32, total:u32, length:u16, bytes
//   2 null chunk H, length:u32, total:u32, flags:u32   no data pointer
//   3 big        0xB1, H, delta:i8, split:u8    a message of the request limit + delta bytes
//                                                 (at most one per input, and only after the
//                                                 marker byte: any byte may be an opcode)
//   4 complete   index:u8                       one of the writes the client holds
//   5 cancel     index:u8
//   6 again      which:u8, index:u8 | value:u64  a finished write reported again (even
//                                                 `which`), or an arbitrary user-data value
//   7 refuse     code:u8                        how the client answers later writes
//   8 init event kind:u8 [, length:u8, bytes]   connected (with server name), disconnected,
//                                                 V1 connected, initialized, terminated, other
//   9 entry      code:u8                        VirtualChannelEntry again
//  10 open event kind:u8, H                     an open event the add-in does not know
//
// Checked after each operation: a well-formed message is answered by exactly one write,
// during its last chunk; a big message by the fixed answer for its size; no event causes
// more than one write, and only data events cause any; every write goes to the data
// channel, fits in one chunk and is an answer; the buffer of a held write stays intact
// until the client finishes it and is released then, and a refused write's buffer is
// released at once (both as far as the memory checker can tell). At the end every held
// write is completed.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "ClientWrites.h"
#include "Harness.h"
#include "StandInClient.h"
#include "transport/VirtualChannelRDP.h"

// The add-in's own entry, linked into this program: the core's test seams then reach it.
extern "C" BOOL VCAPITYPE VirtualChannelEntry(PCHANNEL_ENTRY_POINTS pEntryPoints);

namespace nelko::fuzz {
namespace {

using test::StandInClient;

// The add-in's request limit here: a message past the real 1 MiB costs milliseconds under the
// sanitizers, and the limit is handled the same whatever its size.
constexpr std::size_t kRequestCap = std::size_t{64} * 1024;
constexpr int kMaxBigMessages = 1;
// Every event is traced, every operation is at least one event: inputs stay short, so that
// the fuzzer runs many.
constexpr std::size_t kMaxChunks = 16;
constexpr int kMaxOperations = 16;
constexpr std::uint8_t kBigMarker = 0xB1;

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return position_ >= size_; }
    std::uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }
    std::uint64_t Number(int bytes) {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= std::uint64_t{Byte()} << (8 * i);
        return value;
    }
    std::string Bytes(std::size_t count) {
        const std::size_t available = std::min(count, size_ - std::min(position_, size_));
        std::string bytes(reinterpret_cast<const char*>(data_) + position_, available);
        position_ += available;
        return bytes;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// A message of `size` bytes filling the end of a buffer, so reading past it is caught; its
// text is an unknown command with a name too long to be echoed in one chunk.
const char* BigMessage(std::size_t size) {
    static const std::vector<char> buffer = [] {
        std::vector<char> bytes(kRequestCap + 128, 'z');
        bytes.back() = '|';
        return bytes;
    }();
    return buffer.data() + (buffer.size() - size);
}

class Session {
public:
    Session(const std::uint8_t* data, std::size_t size) : in_(data, size), writes_(client_) {}

    std::string Run() {
        if (writes_.Enter(VirtualChannelEntry) != TRUE) return "VirtualChannelEntry refused";
        client_.Connect();
        for (int count = 0; count < kMaxOperations && !in_.Empty() && writes_.Broken().empty(); ++count) Step();
        writes_.FinishAll(false);
        NoWrites("completing the held writes");
        return writes_.Broken();
    }

private:
    DWORD Handle() {
        switch (in_.Byte() % 3) {
            case 0: return StandInClient::kCommandHandle;
            case 1: return StandInClient::kDataHandle;
            default: return 0;
        }
    }

    // One data event, its bytes in a buffer of exactly their size so that reading past them
    // is caught; returns the answers.
    std::vector<std::string> Deliver(DWORD handle, const char* data, std::uint32_t length, std::uint32_t total,
                                     std::uint32_t flags) {
        std::unique_ptr<char[]> bytes(new char[length]);
        if (length > 0) std::memcpy(bytes.get(), data, length);
        client_.OpenEvent(handle, CHANNEL_EVENT_DATA_RECEIVED, bytes.get(), length, total, flags);
        return Answers("a data event");
    }

    std::vector<std::string> Answers(const std::string& event) {
        std::vector<std::string> answers = writes_.TakeNew();
        if (answers.size() > 1) writes_.Fail(std::to_string(answers.size()) + " writes after " + event);
        return answers;
    }

    void NoWrites(const std::string& event) {
        if (!writes_.TakeNew().empty()) writes_.Fail("write after " + event);
    }

    // Flags and total as the client sets them for a message cut into chunks.
    std::string SendWellFormed(DWORD handle, const char* data, std::size_t size, std::size_t chunk) {
        if (chunk == 0 || chunk > size) chunk = size == 0 ? 1 : size;
        const auto total = static_cast<std::uint32_t>(size);
        std::size_t offset = 0;
        do {
            const std::size_t length = std::min(chunk, size - offset);
            std::uint32_t flags = 0;
            if (offset == 0) flags |= CHANNEL_FLAG_FIRST;
            if (offset + length == size) flags |= CHANNEL_FLAG_LAST;
            const std::vector<std::string> answers =
                Deliver(handle, data + offset, static_cast<std::uint32_t>(length), total, flags);
            offset += length;
            if (offset < size && !answers.empty()) {
                writes_.Fail("answered before the last chunk");
                return std::string();
            }
            if (offset == size) {
                // A registration that has not connected yet has no data channel to answer on.
                if (answers.size() != (connected_ ? 1u : 0u))
                    writes_.Fail("a whole message got " + std::to_string(answers.size()) + " writes");
                return answers.empty() ? std::string() : answers.front();
            }
        } while (true);
    }

    void Step() {
        const int operation = in_.Byte() % 11;
        switch (operation) {
            case 0: {
                const DWORD handle = Handle();
                std::size_t chunk = in_.Byte();
                const std::string text = in_.Bytes(static_cast<std::size_t>(in_.Number(2)));
                // Every event writes log entries: thousands of one-byte chunks would make
                // inputs slow and find nothing that a few chunks do not.
                if (chunk != 0) chunk = std::max(chunk, (text.size() + kMaxChunks - 1) / kMaxChunks);
                SendWellFormed(handle, text.data(), text.size(), chunk);
                break;
            }
            case 1: {
                const DWORD handle = Handle();
                const auto flags = static_cast<std::uint32_t>(in_.Number(4));
                const auto total = static_cast<std::uint32_t>(in_.Number(4));
                const std::string bytes = in_.Bytes(static_cast<std::size_t>(in_.Number(2)));
                Deliver(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), total, flags);
                break;
            }
            case 2: {
                const DWORD handle = Handle();
                const auto length = static_cast<UINT32>(in_.Number(4));
                const auto total = static_cast<UINT32>(in_.Number(4));
                const auto flags = static_cast<UINT32>(in_.Number(4));
                client_.OpenEvent(handle, CHANNEL_EVENT_DATA_RECEIVED, nullptr, length, total, flags);
                Answers("a data event without data");
                break;
            }
            case 3: {
                if (in_.Byte() != kBigMarker) break;
                const DWORD handle = Handle();
                const auto delta = static_cast<std::int8_t>(in_.Byte());
                const std::uint8_t split = in_.Byte();
                if (++bigMessages_ > kMaxBigMessages) break;
                const auto size = static_cast<std::size_t>(static_cast<std::int64_t>(kRequestCap) + delta);
                // Whole, in the client's chunks, and in chunks of an odd and an even size.
                const std::size_t chunks[] = {0, 1600, 16384, 16383};
                const std::string answer = SendWellFormed(handle, BigMessage(size), size, chunks[split % 4]);
                const char* expected = size > kRequestCap ? "ERROR|Request too long" : "ERROR|Response too long";
                if (writes_.Broken().empty() && connected_ && answer != expected)
                    writes_.Fail("message of " + std::to_string(size) + " bytes answered " + answer);
                break;
            }
            case 4:
            case 5: {
                const bool cancelled = operation == 5;
                const std::size_t index = in_.Byte();
                if (writes_.HeldCount() > 0) writes_.Finish(index % writes_.HeldCount(), cancelled);
                NoWrites("a finished write");
                break;
            }
            case 6: {
                const std::uint8_t which = in_.Byte();
                const bool cancelled = (which & 2) != 0;
                if ((which & 1) == 0) {
                    writes_.FinishAgain(in_.Byte(), cancelled);
                } else {
                    const std::uint64_t bits = in_.Number(8);
                    void* value = nullptr;
                    std::memcpy(&value, &bits, std::min(sizeof value, sizeof bits));
                    writes_.ReportFinished(value, cancelled);
                }
                NoWrites("a stray write notification");
                break;
            }
            case 7: {
                const std::uint8_t code = in_.Byte();
                client_.writeResult = code % 4 == 0 ? code / 4 + 1u : static_cast<UINT>(CHANNEL_RC_OK);
                break;
            }
            case 8: InitEvent(); break;
            case 9: {
                // Refusals are rare: each one also shows a message on standard error.
                const std::uint8_t code = in_.Byte();
                client_.initResult = (code & 0x1f) == 0x1f ? code : static_cast<UINT>(CHANNEL_RC_OK);
                const std::size_t registrationsBefore = client_.registrations.size();
                const BOOL entered = writes_.Enter(VirtualChannelEntry);
                // While its connection is registered, the plain entry accepts without asking.
                if (!terminated_) {
                    if (entered != TRUE || client_.registrations.size() != registrationsBefore)
                        writes_.Fail("a second VirtualChannelEntry of a registered connection registered again");
                } else if ((entered == TRUE) != (client_.initResult == CHANNEL_RC_OK)) {
                    writes_.Fail("VirtualChannelEntry answered " + std::to_string(entered) + " for code " +
                                 std::to_string(client_.initResult));
                } else if (entered == TRUE) {
                    terminated_ = false;
                    connected_ = false;
                } else {
                    client_.registrations.pop_back();  // a refused registration gets no events
                }
                client_.initResult = CHANNEL_RC_OK;
                NoWrites("VirtualChannelEntry");
                break;
            }
            default: {
                const UINT event = CHANNEL_EVENT_WRITE_CANCELLED + 1u + in_.Byte();
                client_.OpenEvent(Handle(), event, nullptr, 0, 0, 0);
                NoWrites("an unknown open event");
                break;
            }
        }
    }

    void InitEvent() {
        const std::uint8_t kind = in_.Byte();
        const std::size_t opensBefore = client_.opens.size();
        switch (kind % 6) {
            case 0: {
                client_.Connect(in_.Bytes(in_.Byte()));
                if (client_.opens.size() != opensBefore + 2) writes_.Fail("connecting did not open both channels");
                connected_ = true;
                break;
            }
            case 1: client_.InitEvent(CHANNEL_EVENT_DISCONNECTED); break;
            case 2: client_.InitEvent(CHANNEL_EVENT_V1_CONNECTED); break;
            case 3: client_.InitEvent(CHANNEL_EVENT_INITIALIZED); break;
            case 4:
                client_.InitEvent(CHANNEL_EVENT_TERMINATED);
                terminated_ = true;
                break;
            default: client_.InitEvent(CHANNEL_EVENT_TERMINATED + 1u + kind); break;
        }
        if (kind % 6 != 0 && client_.opens.size() != opensBefore) writes_.Fail("channel opened without connecting");
        NoWrites("an init event");
    }

    Reader in_;
    StandInClient client_;
    bool terminated_ = false;  // the registration ended; a new entry registers again
    bool connected_ = true;    // the registration in use has opened its channels
    ClientWrites writes_;
    int bigMessages_ = 0;
};

}  // namespace

std::string SetUpChannelEvents() {
    EnterRunTree();
    TheVirtualChannel().SetMaxRequestLengthForTesting(kRequestCap);
    return std::string();
}

std::string RunChannelEvents(const std::uint8_t* data, std::size_t size) {
    std::string broken = Session(data, size).Run();
    const std::string baitMark = TakeBaitMark();
    return broken.empty() ? baitMark : broken;
}

}  // namespace nelko::fuzz
