// Unit tests of the end-to-end rig's own logic: chunk reassembly (as the echo plug-in uses it),
// session-script parsing, response matching, run accounting and latency statistics.
#include "ChunkAssembler.h"
#include "LatencyStats.h"
#include "ScriptRunner.h"
#include "SessionScript.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <sstream>

namespace nelko::e2e {
namespace {

using Result = ChunkAssembler::Result;
constexpr std::uint32_t kFirst = ChunkAssembler::kFirst;
constexpr std::uint32_t kLast = ChunkAssembler::kLast;

std::string Str(const std::vector<char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

Result Feed(ChunkAssembler& a, const std::string& chunk, std::uint32_t total, std::uint32_t flags) {
    return a.Feed(chunk.data(), static_cast<std::uint32_t>(chunk.size()), total, flags);
}

// ---- ChunkAssembler ---------------------------------------------------------------------

TEST(ChunkAssembler, SingleChunkMessageIsCompleteAtOnce) {
    ChunkAssembler a;
    EXPECT_EQ(Feed(a, "Hello|", 6, kFirst | kLast), Result::Complete);
    EXPECT_EQ(Str(a.Take()), "Hello|");
    EXPECT_TRUE(a.Take().empty()) << "a message is handed out once";
    EXPECT_EQ(a.ErrorCount(), 0u);
}

TEST(ChunkAssembler, JoinsChunksInOrder) {
    ChunkAssembler a;
    EXPECT_EQ(Feed(a, "abc", 9, kFirst), Result::Partial);
    EXPECT_TRUE(a.Take().empty());
    EXPECT_EQ(Feed(a, "def", 9, 0), Result::Partial);
    EXPECT_EQ(Feed(a, "ghi", 9, kLast), Result::Complete);
    EXPECT_EQ(Str(a.Take()), "abcdefghi");
    EXPECT_FALSE(a.InMessage());
}

TEST(ChunkAssembler, BackToBackMessagesStaySeparate) {
    ChunkAssembler a;
    ASSERT_EQ(Feed(a, "one", 3, kFirst | kLast), Result::Complete);
    EXPECT_EQ(Str(a.Take()), "one");
    ASSERT_EQ(Feed(a, "tw", 3, kFirst), Result::Partial);
    ASSERT_EQ(Feed(a, "o", 3, kLast), Result::Complete);
    EXPECT_EQ(Str(a.Take()), "two");
}

TEST(ChunkAssembler, DropsChunkWithoutFirst) {
    ChunkAssembler a;
    EXPECT_EQ(Feed(a, "tail", 8, kLast), Result::Dropped);
    EXPECT_EQ(a.ErrorCount(), 1u);
    EXPECT_TRUE(a.Take().empty());
    // and recovers on the next proper message
    EXPECT_EQ(Feed(a, "ok", 2, kFirst | kLast), Result::Complete);
    EXPECT_EQ(Str(a.Take()), "ok");
}

TEST(ChunkAssembler, NewFirstChunkAbandonsUnfinishedMessage) {
    ChunkAssembler a;
    ASSERT_EQ(Feed(a, "half", 8, kFirst), Result::Partial);
    EXPECT_EQ(Feed(a, "new", 3, kFirst | kLast), Result::Complete);
    EXPECT_EQ(Str(a.Take()), "new") << "no bytes of the abandoned message may leak in";
    EXPECT_EQ(a.ErrorCount(), 1u);
}

TEST(ChunkAssembler, DropsMessageShorterThanAnnounced) {
    ChunkAssembler a;
    ASSERT_EQ(Feed(a, "abc", 10, kFirst), Result::Partial);
    EXPECT_EQ(Feed(a, "de", 10, kLast), Result::Dropped);
    EXPECT_TRUE(a.Take().empty());
    EXPECT_FALSE(a.InMessage());
}

TEST(ChunkAssembler, DropsChunksBeyondAnnouncedLength) {
    ChunkAssembler a;
    ASSERT_EQ(Feed(a, "abcd", 6, kFirst), Result::Partial);
    EXPECT_EQ(Feed(a, "efgh", 6, 0), Result::Dropped) << "refused at once, not buffered until the last chunk";
    EXPECT_EQ(Feed(a, "ij", 6, kLast), Result::Dropped);
    EXPECT_TRUE(a.Take().empty());
    EXPECT_EQ(Feed(a, "abcdefgh", 6, kFirst | kLast), Result::Dropped);
}

TEST(ChunkAssembler, DropsWhenTotalLengthChangesMidMessage) {
    ChunkAssembler a;
    ASSERT_EQ(Feed(a, "ab", 4, kFirst), Result::Partial);
    EXPECT_EQ(Feed(a, "cd", 5, kLast), Result::Dropped);
}

TEST(ChunkAssembler, RefusesMessagesOverTheLimit) {
    ChunkAssembler a(16);
    EXPECT_EQ(Feed(a, "x", 17, kFirst), Result::Dropped);
    EXPECT_EQ(Feed(a, "x", 17, kLast), Result::Dropped) << "the rest of a refused message is dropped too";
    EXPECT_EQ(Feed(a, "fits", 4, kFirst | kLast), Result::Complete);
}

TEST(ChunkAssembler, ResetForgetsHalfBuiltMessage) {
    ChunkAssembler a;
    ASSERT_EQ(Feed(a, "abc", 6, kFirst), Result::Partial);
    a.Reset();
    EXPECT_EQ(Feed(a, "def", 6, kLast), Result::Dropped);
}

// ---- placeholders and expectations ---------------------------------------------------------

TEST(TextTemplate, ExpandsPlaceholders) {
    EXPECT_EQ(TextTemplate::Parse("Hello|").Expand(0), "Hello|");
    EXPECT_EQ(TextTemplate::Parse("a${tab}b${nl}c${cr}${dollar}${empty}").Expand(0), "a\tb\nc\r$");
    EXPECT_EQ(TextTemplate::Parse("${repeat:3:ab}|").Expand(0), "ababab|");
    EXPECT_EQ(TextTemplate::Parse("${repeat:2000:x}").Expand(0).size(), 2000u);
    EXPECT_EQ(TextTemplate::Parse("${hex:00ff41}").Expand(0), std::string("\x00\xff"
                                                                          "A",
                                                                          3));
    EXPECT_EQ(TextTemplate::Parse("cost $5 {x}").Expand(0), "cost $5 {x}");
}

TEST(TextTemplate, IndexPlaceholderFollowsTheExchange) {
    const auto t = TextTemplate::Parse("Seq|${i}|${i}");
    EXPECT_TRUE(t.UsesIndex());
    EXPECT_EQ(t.Expand(0), "Seq|0|0");
    EXPECT_EQ(t.Expand(2999), "Seq|2999|2999");
    EXPECT_FALSE(TextTemplate::Parse("plain").UsesIndex());
}

TEST(TextTemplate, RejectsBadPlaceholders) {
    EXPECT_THROW(TextTemplate::Parse("${nope}"), std::invalid_argument);
    EXPECT_THROW(TextTemplate::Parse("abc${tab"), std::invalid_argument);
    EXPECT_THROW(TextTemplate::Parse("${repeat:x:abc}"), std::invalid_argument);
    EXPECT_THROW(TextTemplate::Parse("${repeat:5:}"), std::invalid_argument);
    EXPECT_THROW(TextTemplate::Parse("${repeat:99999999:abc}"), std::invalid_argument);
    EXPECT_THROW(TextTemplate::Parse("${hex:abc}"), std::invalid_argument);
    EXPECT_THROW(TextTemplate::Parse("${hex:zz}"), std::invalid_argument);
}

TEST(Expectation, ExactIsWholeAndCaseSensitive) {
    const auto e = Expectation::Parse("OK|Hello");
    EXPECT_TRUE(e.Matches("OK|Hello", 0));
    EXPECT_FALSE(e.Matches("OK|Hello ", 0));
    EXPECT_FALSE(e.Matches("OK|Hell", 0));
    EXPECT_FALSE(e.Matches("ok|hello", 0));
}

TEST(Expectation, PrefixRegexAnyAndExactEscape) {
    EXPECT_TRUE(Expectation::Parse("prefix:OK|").Matches("OK|anything", 0));
    EXPECT_FALSE(Expectation::Parse("prefix:OK|").Matches("ERR|OK|", 0));
    EXPECT_FALSE(Expectation::Parse("prefix:OK|long").Matches("OK|", 0));

    const auto r = Expectation::Parse("regex:OK\\|[0-9]+");
    EXPECT_TRUE(r.Matches("OK|123", 0));
    EXPECT_FALSE(r.Matches("OK|123x", 0)) << "a regex must match the whole response";
    EXPECT_FALSE(r.Matches("xOK|1", 0));

    EXPECT_TRUE(Expectation::Parse("any").Matches("whatever", 0));
    EXPECT_TRUE(Expectation::Parse("exact:prefix:x").Matches("prefix:x", 0));
    EXPECT_FALSE(Expectation::Parse("exact:prefix:x").Matches("prefix:xy", 0));
}

TEST(Expectation, IndexedExpectations) {
    const auto e = Expectation::Parse("R|${i}");
    EXPECT_TRUE(e.Matches("R|41", 41));
    EXPECT_FALSE(e.Matches("R|41", 42));
    const auto r = Expectation::Parse("regex:R\\|${i}(\\|.*)?");
    EXPECT_TRUE(r.Matches("R|7|x", 7));
    EXPECT_FALSE(r.Matches("R|8|x", 7));
}

TEST(Expectation, RejectsBadRegex) { EXPECT_THROW(Expectation::Parse("regex:(unclosed"), std::invalid_argument); }

TEST(Printable, EscapesAndShortens) {
    EXPECT_EQ(Printable("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\x01\"");
    EXPECT_EQ(Printable(std::string(100, 'x'), 4), "\"xxxx...\" (100 bytes)");
}

// ---- script parsing -------------------------------------------------------------------------

std::vector<Step> Parse(const std::string& text) {
    std::istringstream in(text);
    return ParseScript(in);
}

int ErrorLine(const std::string& text) {
    try {
        Parse(text);
    } catch (const ScriptError& e) {
        return e.Line();
    }
    return -1;
}

TEST(ParseScript, ReadsEveryKindOfStep) {
    const auto steps = Parse(
        "# comment\n"
        "\n"
        "Hello|\tOK|Hello\r\n"
        "bulk\t3000\tSeq|${i}\tprefix:Seq|\n"
        "bulk\t10\tx\tany\twindow=4\n"
        "   \n"
        "disconnect\n"
        "drop\n"
        "pause\t250\n"
        "silence\t100\n");
    ASSERT_EQ(steps.size(), 7u);
    EXPECT_EQ(steps[0].kind, Step::Kind::Exchange);
    EXPECT_EQ(steps[0].line, 3);
    EXPECT_EQ(steps[0].request.Expand(0), "Hello|");
    EXPECT_TRUE(steps[0].expect.Matches("OK|Hello", 0)) << "a CRLF line ending is not part of the text";
    EXPECT_EQ(steps[1].kind, Step::Kind::Bulk);
    EXPECT_EQ(steps[1].count, 3000u);
    EXPECT_EQ(steps[1].window, 0u);
    EXPECT_EQ(steps[1].request.Expand(12), "Seq|12");
    EXPECT_EQ(steps[2].window, 4u);
    EXPECT_EQ(steps[3].kind, Step::Kind::Disconnect);
    EXPECT_EQ(steps[4].kind, Step::Kind::Drop);
    EXPECT_EQ(steps[5].kind, Step::Kind::Pause);
    EXPECT_EQ(steps[5].duration.count(), 250);
    EXPECT_EQ(steps[6].kind, Step::Kind::Silence);
    EXPECT_EQ(steps[6].line, 10);
}

TEST(ParseScript, KeepsSpacesInsideTexts) {
    const auto steps = Parse(" Hello | \t OK \n");
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].request.Expand(0), " Hello | ");
    EXPECT_TRUE(steps[0].expect.Matches(" OK ", 0));
}

TEST(ParseScript, NamesTheLineOfEachMistake) {
    EXPECT_EQ(ErrorLine("ok\tok\nno-tab-here\n"), 2);
    EXPECT_EQ(ErrorLine("a\tb\tc\n"), 1);
    EXPECT_EQ(ErrorLine("\n\nbulk\tzero\tx\tx\n"), 3);
    EXPECT_EQ(ErrorLine("bulk\t0\tx\tx\n"), 1);
    EXPECT_EQ(ErrorLine("bulk\t5\tx\n"), 1);
    EXPECT_EQ(ErrorLine("bulk\t5\tx\tx\twindow=0\n"), 1);
    EXPECT_EQ(ErrorLine("bulk\t5\tx\tx\tsize=3\n"), 1);
    EXPECT_EQ(ErrorLine("pause\n"), 1);
    EXPECT_EQ(ErrorLine("pause\tsoon\n"), 1);
    EXPECT_EQ(ErrorLine("disconnect\tnow\n"), 1);
    EXPECT_EQ(ErrorLine("${empty}\tx\n"), 1);
    EXPECT_EQ(ErrorLine("x\t\n"), 1);
    EXPECT_EQ(ErrorLine("x\tregex:[\n"), 1);
    EXPECT_EQ(ErrorLine("${what}\tx\n"), 1);
}

// ---- latency statistics -----------------------------------------------------------------

TEST(LatencyStats, MedianAndNearestRankP99) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);
    const auto s = SummarizeLatencies(hundred);
    EXPECT_EQ(s.count, 100u);
    EXPECT_DOUBLE_EQ(s.minUs, 1);
    EXPECT_DOUBLE_EQ(s.maxUs, 100);
    EXPECT_DOUBLE_EQ(s.medianUs, 50.5);
    EXPECT_DOUBLE_EQ(s.p99Us, 99);
    EXPECT_DOUBLE_EQ(s.meanUs, 50.5);

    const auto odd = SummarizeLatencies({5, 1, 3});
    EXPECT_DOUBLE_EQ(odd.medianUs, 3);
    EXPECT_DOUBLE_EQ(odd.p99Us, 5);

    std::vector<double> outlier(1000, 10.0);
    outlier[0] = 5000;
    outlier[1] = 6000;
    EXPECT_DOUBLE_EQ(SummarizeLatencies(outlier).p99Us, 10) << "two in a thousand is under the 1% tail";
    outlier[2] = 7000;
    outlier[3] = 8000;
    outlier[4] = 9000;
    outlier[5] = 9500;
    outlier[6] = 9600;
    outlier[7] = 9700;
    outlier[8] = 9800;
    outlier[9] = 9900;
    outlier[10] = 9950;
    EXPECT_DOUBLE_EQ(SummarizeLatencies(outlier).p99Us, 5000);

    EXPECT_EQ(SummarizeLatencies({}).count, 0u);
    EXPECT_DOUBLE_EQ(SummarizeLatencies({42}).p99Us, 42);
}

// ---- running scripts against a scripted link --------------------------------------------

// Answers each request through a rule; lets tests lose, duplicate or reorder responses.
class FakeLink : public Link {
public:
    // n: the request's position among all requests sent so far (0-based).
    std::function<std::vector<std::string>(const std::string& request, std::size_t n)> rule =
        [](const std::string& request, std::size_t) { return std::vector<std::string>{request}; };
    std::deque<std::string> pending;
    std::vector<std::string> sent;
    std::vector<bool> reconnects;
    bool reconnectOk = true;
    bool closed = false;
    std::size_t outstanding = 0;
    std::size_t maxOutstanding = 0;
    std::size_t sentBeforeFirstReceive = 0;
    bool received = false;
    std::vector<long long> waitsMs;  // how long each Receive() call was allowed to wait

    bool Send(const std::string& request, std::string& error) override {
        if (closed) {
            error = "closed";
            return false;
        }
        for (auto& response : rule(request, sent.size())) pending.push_back(response);
        sent.push_back(request);
        ++outstanding;
        maxOutstanding = std::max(maxOutstanding, outstanding);
        if (!received) sentBeforeFirstReceive = sent.size();
        return true;
    }

    Received Receive(Clock::time_point deadline) override {
        waitsMs.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        received = true;
        Received r;
        if (!pending.empty()) {
            r.status = Received::Status::Message;
            r.data = pending.front();
            pending.pop_front();
            if (outstanding > 0) --outstanding;
        } else if (closed) {
            r.status = Received::Status::Closed;
            r.error = "gone";
        }
        return r;
    }

    bool Reconnect(bool graceful, std::string& error) override {
        reconnects.push_back(graceful);
        if (!reconnectOk) error = "no client came back";
        return reconnectOk;
    }
};

struct Run {
    RunSummary summary;
    std::string output;
};

Run RunScript(FakeLink& link, const std::string& script, RunOptions options = {}) {
    options.settle = std::chrono::milliseconds(0);
    std::ostringstream out;
    ScriptRunner runner(link, options, out);
    Run r;
    r.summary = runner.Run(Parse(script));
    r.output = out.str();
    return r;
}

TEST(ScriptRunner, EchoPassesEverything) {
    FakeLink link;
    const auto r = RunScript(link, "Hello|\tHello|\nbulk\t100\tS|${i}\tS|${i}\nBye|\tprefix:By\n");
    EXPECT_TRUE(r.summary.Ok()) << r.output;
    EXPECT_EQ(r.summary.passed, 3u);
    EXPECT_EQ(link.sent.size(), 102u);
    EXPECT_EQ(link.sent[1], "S|0");
    EXPECT_EQ(link.sent[100], "S|99");
    EXPECT_NE(r.output.find("PASS line 2: bulk 100"), std::string::npos) << r.output;
}

TEST(ScriptRunner, WrongResponseFailsButTheSessionGoesOn) {
    FakeLink link;
    const auto r = RunScript(link, "Hello|\tOK|Hello\nNext|\tNext|\n");
    EXPECT_FALSE(r.summary.Ok());
    EXPECT_EQ(r.summary.failed, 1u);
    EXPECT_EQ(r.summary.passed, 1u);
    EXPECT_FALSE(r.summary.aborted);
    EXPECT_NE(r.output.find("FAIL line 1"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("got \"Hello|\""), std::string::npos) << r.output;
}

TEST(ScriptRunner, MissingResponseAbortsAndSkipsTheRest) {
    FakeLink link;
    link.rule = [](const std::string& request, std::size_t) {
        return request == "Lost|" ? std::vector<std::string>{} : std::vector<std::string>{request};
    };
    const auto r = RunScript(link, "A|\tA|\nLost|\tLost|\nB|\tB|\nC|\tC|\n");
    EXPECT_TRUE(r.summary.aborted);
    EXPECT_EQ(r.summary.passed, 1u);
    EXPECT_EQ(r.summary.failed, 1u);
    EXPECT_EQ(r.summary.skipped, 2u);
    EXPECT_NE(r.output.find("missing"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("SKIP line 4"), std::string::npos) << r.output;
}

TEST(ScriptRunner, BulkNoticesALostResponse) {
    FakeLink link;
    link.rule = [](const std::string& request, std::size_t n) {
        return n == 17 ? std::vector<std::string>{} : std::vector<std::string>{request};
    };
    const auto r = RunScript(link, "bulk\t50\tS|${i}\tS|${i}\n");
    EXPECT_FALSE(r.summary.Ok());
    EXPECT_NE(r.output.find("response 17: expected exact \"S|17\", got \"S|18\""), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("lost or reordered"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("1 of 50 response(s) missing"), std::string::npos) << r.output;
}

TEST(ScriptRunner, BulkNoticesADuplicatedResponse) {
    FakeLink link;
    link.rule = [](const std::string& request, std::size_t n) {
        return n == 5 ? std::vector<std::string>{request, request} : std::vector<std::string>{request};
    };
    const auto r = RunScript(link, "bulk\t20\tS|${i}\tS|${i}\n");
    EXPECT_FALSE(r.summary.Ok());
    EXPECT_NE(r.output.find("that is the response to request 5: duplicated"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("1 response(s) more than requests"), std::string::npos) << r.output;
}

TEST(ScriptRunner, BulkNoticesSwappedResponses) {
    FakeLink link;
    std::string held;
    link.rule = [&held](const std::string& request, std::size_t n) {
        if (n == 2) {  // hold back request 2's response until request 3's is out
            held = request;
            return std::vector<std::string>{};
        }
        if (n == 3) return std::vector<std::string>{request, held};
        return std::vector<std::string>{request};
    };
    const auto r = RunScript(link, "bulk\t10\tS|${i}\tS|${i}\n");
    EXPECT_FALSE(r.summary.Ok());
    EXPECT_NE(r.output.find("2 of 10 response(s) wrong"), std::string::npos) << r.output;
}

TEST(ScriptRunner, BulkKeepsWithinTheWindow) {
    FakeLink windowed;
    EXPECT_TRUE(RunScript(windowed, "bulk\t100\tx${i}\tx${i}\twindow=4\n").summary.Ok());
    EXPECT_LE(windowed.maxOutstanding, 4u);
    EXPECT_EQ(windowed.sentBeforeFirstReceive, 4u);

    FakeLink all;
    EXPECT_TRUE(RunScript(all, "bulk\t100\tx${i}\tx${i}\n").summary.Ok());
    EXPECT_EQ(all.sentBeforeFirstReceive, 100u) << "without a window every request goes out first";

    FakeLink byOption;
    RunOptions options;
    options.defaultWindow = 7;
    EXPECT_TRUE(RunScript(byOption, "bulk\t100\tx${i}\tx${i}\n", options).summary.Ok());
    EXPECT_EQ(byOption.sentBeforeFirstReceive, 7u);
}

TEST(ScriptRunner, ReconnectStepsAskForTheRightKind) {
    FakeLink link;
    const auto r = RunScript(link, "A|\tA|\ndisconnect\nB|\tB|\ndrop\nC|\tC|\n");
    EXPECT_TRUE(r.summary.Ok()) << r.output;
    EXPECT_EQ(link.reconnects, (std::vector<bool>{true, false}));

    FakeLink failing;
    failing.reconnectOk = false;
    const auto f = RunScript(failing, "drop\nB|\tB|\n");
    EXPECT_TRUE(f.summary.aborted);
    EXPECT_EQ(f.summary.skipped, 1u);
    EXPECT_NE(f.output.find("no client came back"), std::string::npos) << f.output;
}

TEST(ScriptRunner, OnlyTheFirstReplyOfAConnectionGetsTheLongerWait) {
    FakeLink link;
    RunOptions options;
    options.replyTimeout = std::chrono::milliseconds(1000);
    options.firstReplyTimeout = std::chrono::milliseconds(30000);
    const auto r = RunScript(link, "A|\tA|\nB|\tB|\ndisconnect\nC|\tC|\nD|\tD|\n", options);
    ASSERT_TRUE(r.summary.Ok()) << r.output;
    // Receive() calls: A, B, C, D, then the closing quiet check.
    ASSERT_EQ(link.waitsMs.size(), 5u);
    EXPECT_GT(link.waitsMs[0], 20000) << "first reply after connecting";
    EXPECT_LE(link.waitsMs[1], 1000);
    EXPECT_GT(link.waitsMs[2], 20000) << "first reply after a reconnect";
    EXPECT_LE(link.waitsMs[3], 1000);
}

TEST(ScriptRunner, StrayMessagesFail) {
    FakeLink link;
    link.pending.emplace_back("unasked");
    const auto r = RunScript(link, "silence\t10\nA|\tA|\n");
    EXPECT_EQ(r.summary.failed, 1u);
    EXPECT_EQ(r.summary.passed, 1u);
    EXPECT_NE(r.output.find("unexpected message(s) in the silence window"), std::string::npos) << r.output;

    FakeLink trailing;
    trailing.rule = [](const std::string& request, std::size_t n) {
        return n == 1 ? std::vector<std::string>{request, request} : std::vector<std::string>{request};
    };
    const auto t = RunScript(trailing, "A|\tA|\nB|\tB|\n");
    EXPECT_FALSE(t.summary.Ok()) << "a duplicate of the last response must not go unnoticed";
    EXPECT_NE(t.output.find("after the last step"), std::string::npos) << t.output;
}

TEST(ScriptRunner, LostConnectionAborts) {
    FakeLink link;
    link.rule = [&link](const std::string&, std::size_t) {
        link.closed = true;
        return std::vector<std::string>{};
    };
    const auto r = RunScript(link, "A|\tA|\nB|\tB|\n");
    EXPECT_TRUE(r.summary.aborted);
    EXPECT_NE(r.output.find("connection lost"), std::string::npos) << r.output;
}

TEST(Bench, MeasuresEveryRequestAfterWarmUp) {
    FakeLink link;
    const auto b = RunBench(link, "Hello|", Expectation::Parse("Hello|"), 10, 200, 1, std::chrono::milliseconds(100),
                            std::chrono::milliseconds(100));
    EXPECT_TRUE(b.ok) << b.error;
    EXPECT_EQ(b.latency.count, 200u);
    EXPECT_EQ(link.sent.size(), 210u);
    EXPECT_GT(b.requestsPerSecond, 0);
    EXPECT_LE(b.latency.medianUs, b.latency.p99Us);
    EXPECT_NE(BenchJson(b).find("\"ok\":true"), std::string::npos);
}

TEST(Bench, ReportsWrongResponses) {
    FakeLink link;
    const auto b = RunBench(link, "Hello|", Expectation::Parse("OK|Hello"), 0, 5, 1, std::chrono::milliseconds(100),
                            std::chrono::milliseconds(100));
    EXPECT_FALSE(b.ok);
    EXPECT_EQ(b.mismatches, 5u);
    EXPECT_NE(BenchLine(b).find("status=failed"), std::string::npos);
}

TEST(Bench, JsonEscapesTheRequest) {
    BenchResult r;
    r.request = "a\"b\\c\td";
    EXPECT_NE(BenchJson(r).find("\"request\":\"a\\\"b\\\\c\\u0009d\""), std::string::npos) << BenchJson(r);
}

}  // namespace
}  // namespace nelko::e2e
