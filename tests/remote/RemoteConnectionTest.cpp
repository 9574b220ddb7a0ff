// The server-side protocol over a stand-in for the session's channel functions, which
// behaves as xrdp's do: a byte stream, writes that succeed while the client is away and
// lose their bytes, handles that a reconnect leaves dead.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "nelko/RemoteInstrument.h"
#include "nelko/nelko_remote.h"

namespace nelko::remote {
namespace {

struct StandInChannels final : ChannelApi {
    struct State {
        std::function<std::string(const std::string&)> answer = [](const std::string& r) { return "OK|" + r; };
        std::deque<std::string> pending;  // bytes on the data channel, one read each
        int opens = 0;
        int closes = 0;
        int failingOpens = 0;  // the next opens that fail, as in a session just started
        int lostWrites = 0;    // the next writes that succeed and vanish (client away)
        bool split = false;    // each response comes in two reads
        std::vector<std::string> written;
    };
    explicit StandInChannels(State& s) : state(s) {}

    Handle Open(const std::string& name) override {
        if (state.failingOpens > 0) {
            --state.failingOpens;
            return nullptr;
        }
        ++state.opens;
        return name == "NlkCmd1" ? &command : &data;
    }
    bool Write(Handle channel, const char* bytes, std::uint32_t size) override {
        EXPECT_EQ(channel, &command);
        state.written.emplace_back(bytes, size);
        if (state.lostWrites > 0) {
            --state.lostWrites;
            return true;
        }
        const std::string response = state.answer(state.written.back());
        if (state.split && response.size() > 1) {
            state.pending.push_back(response.substr(0, 1));
            state.pending.push_back(response.substr(1));
        } else if (!response.empty()) {
            state.pending.push_back(response);
        }
        return true;
    }
    bool Read(Handle channel, std::uint32_t, char* buffer, std::uint32_t size, std::uint32_t& read) override {
        EXPECT_EQ(channel, &data);
        read = 0;
        if (state.pending.empty()) return true;
        const std::string next = state.pending.front();
        state.pending.pop_front();
        EXPECT_LE(next.size(), size);
        next.copy(buffer, next.size());
        read = static_cast<std::uint32_t>(next.size());
        return true;
    }
    void Close(Handle) override { ++state.closes; }

    State& state;
    char command = 0;
    char data = 0;
};

ConnectionOptions Quick() {
    ConnectionOptions options;
    options.timeout = std::chrono::milliseconds(30);
    options.openPatience = std::chrono::milliseconds(300);
    return options;
}

Connection Connect(StandInChannels::State& state) {
    return Connection(std::make_unique<StandInChannels>(state), Quick());
}

Failure FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& e) {
        return e.failure();
    }
    ADD_FAILURE() << "no Error";
    return Failure::BadResponse;
}

TEST(RemoteConnection, OneResponsePerRequestFromAByteStream) {
    StandInChannels::State state;
    state.failingOpens = 2;  // a new session's channel service is not ready at once
    Connection connection = Connect(state);
    state.split = true;
    EXPECT_EQ(connection.Execute("Hello|"), "OK|Hello|");
    // A late answer to an earlier request must not pass for the next one's.
    state.split = false;
    state.pending.emplace_back("OK|stale");
    EXPECT_EQ(connection.Execute("Measure|"), "OK|Measure|");
    EXPECT_EQ(state.written, (std::vector<std::string>{"Hello|", "Measure|"}));

    const std::string longest(Connection::kMaxRequestLength, 'x');
    EXPECT_EQ(connection.Execute(longest), "OK|" + longest);
    EXPECT_EQ(FailureOf([&] { connection.Execute(longest + "x"); }), Failure::RequestTooLong);
    EXPECT_EQ(state.written.size(), 3u);
}

TEST(RemoteConnection, ARequestLostInAReconnectIsSentOnceMoreOnNewChannels) {
    StandInChannels::State state;
    Connection connection = Connect(state);
    state.lostWrites = 1;
    EXPECT_EQ(connection.Execute("GetSerialNumber|"), "OK|GetSerialNumber|");
    EXPECT_EQ(state.written.size(), 2u);
    EXPECT_EQ(state.closes, 2);
    EXPECT_EQ(state.opens, 4);

    state.lostWrites = 2;  // nothing answers: two attempts, then a time-out
    EXPECT_EQ(FailureOf([&] { connection.Execute("Measure|"); }), Failure::TimedOut);
    EXPECT_EQ(state.written.size(), 4u);

    state.failingOpens = 1000;
    EXPECT_EQ(FailureOf([&] { connection.Execute("Measure|"); }), Failure::NoChannel);
}

TEST(RemoteInstrument, TypedCallsReadTheAnswersAndCarryTheAddinsErrors) {
    StandInChannels::State state;
    state.answer = [](const std::string& request) -> std::string {
        if (request == "GetSpectralDataAll|2|") return "OK|1.5;2;-0.25";
        if (request == "Measure|") return "OK|false";
        if (request == "GetAngles|") return "OK|6";
        if (request == "GetSerialNumber|") return "ERROR|No driver loaded";
        return "OK|what?";
    };
    Connection connection = Connect(state);
    RemoteInstrument instrument(connection);
    EXPECT_EQ(instrument.GetSpectralDataAll(2), (std::vector<double>{1.5, 2, -0.25}));
    EXPECT_FALSE(instrument.Measure());
    EXPECT_EQ(instrument.GetAngles(), 6);
    try {
        instrument.GetSerialNumber();
        ADD_FAILURE() << "no Error";
    } catch (const Error& e) {
        EXPECT_EQ(e.failure(), Failure::CommandFailed);
        EXPECT_STREQ(e.what(), "No driver loaded");
    }
    EXPECT_EQ(FailureOf([&] { instrument.IsConnected(); }), Failure::BadResponse);
    EXPECT_THROW(instrument.SetOption("Mode|2", "1"), std::invalid_argument);
}

TEST(RemoteCInterface, SaysWhyThereIsNoAnswer) {
    char response[8];
    std::size_t length = 99;
    EXPECT_EQ(nelko_remote_execute(nullptr, "Hello|", response, sizeof response, &length),
              NELKO_REMOTE_INVALID_ARGUMENT);
    nelko_remote* remote = nelko_remote_open(nullptr, nullptr, 50);
    ASSERT_NE(remote, nullptr);
    // No xrdp session here: no channel library, or no channel in it.
    const int result = nelko_remote_execute(remote, "Hello|", response, sizeof response, &length);
    EXPECT_TRUE(result == NELKO_REMOTE_UNAVAILABLE || result == NELKO_REMOTE_NO_CHANNEL) << result;
    EXPECT_EQ(length, 0u);
    EXPECT_STRNE(nelko_remote_last_error(remote), "");
    nelko_remote_close(remote);
}

}  // namespace
}  // namespace nelko::remote
