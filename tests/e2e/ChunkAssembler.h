// Rebuilds whole messages from the chunks a static virtual channel delivers.
//
// The client library hands a plug-in each received PDU as it comes: the first chunk carries
// the FIRST flag, the last one the LAST flag (a short message carries both), and every chunk
// carries the whole message's length. This class checks that sequence and yields each whole
// message once; a broken sequence is dropped and counted, never passed on half-built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nelko::e2e {

class ChunkAssembler {
public:
    // The flag bits of the channel API (CHANNEL_FLAG_FIRST / CHANNEL_FLAG_LAST).
    static constexpr std::uint32_t kFirst = 0x01;
    static constexpr std::uint32_t kLast = 0x02;

    enum class Result {
        Partial,   // chunk taken, message not complete yet
        Complete,  // a whole message is ready: call Take()
        Dropped,   // the chunk broke the sequence; see LastError()
    };

    explicit ChunkAssembler(std::size_t maxMessage = std::size_t{64} * 1024 * 1024) : maxMessage_(maxMessage) {}

    Result Feed(const void* data, std::uint32_t length, std::uint32_t totalLength, std::uint32_t flags) {
        const bool first = (flags & kFirst) != 0;
        const bool last = (flags & kLast) != 0;

        if (first) {
            if (inMessage_)
                Fail("new message started after " + std::to_string(buffer_.size()) + " of " +
                     std::to_string(expected_) + " bytes of the previous one");
            if (totalLength > maxMessage_) {
                Fail("message of " + std::to_string(totalLength) + " bytes exceeds the limit");
                return Result::Dropped;
            }
            buffer_.clear();
            buffer_.reserve(totalLength);
            expected_ = totalLength;
            inMessage_ = true;
        } else if (!inMessage_) {
            Fail("chunk without a first chunk");
            return Result::Dropped;
        } else if (totalLength != expected_) {
            Fail("total length changed from " + std::to_string(expected_) + " to " + std::to_string(totalLength) +
                 " within a message");
            return Result::Dropped;
        }

        if (length > expected_ - buffer_.size()) {
            Fail("chunks exceed the announced " + std::to_string(expected_) + " bytes");
            return Result::Dropped;
        }
        if (length > 0) {
            const auto* bytes = static_cast<const char*>(data);
            buffer_.insert(buffer_.end(), bytes, bytes + length);
        }

        if (!last) return Result::Partial;
        if (buffer_.size() != expected_) {
            Fail("last chunk arrived after " + std::to_string(buffer_.size()) + " of " + std::to_string(expected_) +
                 " bytes");
            return Result::Dropped;
        }
        inMessage_ = false;
        ready_ = true;
        return Result::Complete;
    }

    // The message completed by the last Feed(); empty if none is ready.
    std::vector<char> Take() {
        std::vector<char> out;
        if (ready_) {
            out.swap(buffer_);
            ready_ = false;
        }
        return out;
    }

    // Forgets any half-built message (e.g. when the connection goes away).
    void Reset() {
        buffer_.clear();
        expected_ = 0;
        inMessage_ = false;
        ready_ = false;
    }

    bool InMessage() const { return inMessage_; }
    std::size_t ErrorCount() const { return errors_; }
    const std::string& LastError() const { return lastError_; }

private:
    void Fail(std::string why) {
        ++errors_;
        lastError_ = std::move(why);
        buffer_.clear();
        expected_ = 0;
        inMessage_ = false;
        ready_ = false;
    }

    std::size_t maxMessage_;
    std::vector<char> buffer_;
    std::uint32_t expected_ = 0;
    bool inMessage_ = false;
    bool ready_ = false;
    std::size_t errors_ = 0;
    std::string lastError_;
};

}  // namespace nelko::e2e
