// A long session of the real add-in with the stand-in client, made to run under valgrind
// memcheck (and as it is in the sanitizer build): thousands of requests against the
// simulator and the test driver, the driver replaced every round, writes completed,
// cancelled, held back and refused, disconnects, reconnects and repeated entries, chunked,
// interleaved, abandoned and over-cap messages.
//
// Each round is a fresh client connection; between rounds every write has been finished,
// so the heap in use must stay flat: a buffer kept per request would add 1.6 KB each time.
// Exits non-zero on a wrong answer or heap growth. Usage: nelko_long_channel_session [ROUNDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "AddinLibrary.h"
#include "ClientWrites.h"
#include "StandInClient.h"
#include "TestSupport.h"

#if defined(__SANITIZE_ADDRESS__)
#define NELKO_STRESS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NELKO_STRESS_ASAN 1
#endif
#endif
#if defined(NELKO_STRESS_ASAN)
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define NELKO_STRESS_VALGRIND 1
#endif
#endif

namespace nelko::stress {
namespace {

using fuzz::ClientWrites;
using test::StandInClient;

constexpr std::size_t kRequestCap = std::size_t{1024} * 1024;
// Well below one kept buffer per request. (Under AddressSanitizer the heap does creep: its
// runtime adds an exit handler of its own for every static destructor a driver registers,
// about 60 bytes per load of the test driver, left behind when the driver is unloaded.)
constexpr long kAllowedGrowth = 32L * 1024;

// The simulated instrument's whole procedure; an empty answer stands for any answer.
struct Exchange {
    const char* request;
    const char* answer;
};
const Exchange kSimulatorSession[] = {
    {"Hello", "OK|Hello"},
    {"GetSerialNumber|", "OK"},
    {"GetLastErrorCode|", "OK|1"},
    {"Connect|", "OK|true"},
    {"IsConnected|", "OK|true"},
    {"GetSerialNumber|", "OK|NS6-2024-00117"},
    {"Execute|Version|", "OK|NelkoSimulator 1.0.0 (firmware 2.3.1)"},
    {"Execute|SelfTest|", "OK|PASS"},
    {"GetAvailableSettings|", "OK|Illuminant;Observer;Aperture;SpecularMode;CalMode"},
    {"GetSettingOptions|SpecularMode|", "OK|SCE;SCI"},
    {"SetOption|SpecularMode|SCI|", "OK|true"},
    {"SetOption|CalMode|Full|", "OK|true"},
    {"SetOption|Illuminant|D50|", "OK|true"},
    {"GetOption|SpecularMode|", "OK|SCI"},
    {"Configure|", "OK|true"},
    {"GetCalMode|current|", "OK|Full"},
    {"SetLanguage|1033|", "OK|true"},
    {"GetCalSteps|", "OK|Black;White;Green"},
    {"Calibrate|", "OK|true"},
    {"GetCalStatus|", "OK|1"},
    {"CalibrateStep|White|", "OK|false"},
    {"GetLastErrorCode|", "OK|7"},
    {"GetLastErrorString|", "OK|Calibration step out of order (expected Black)"},
    {"CalibrateStep|Black|", "OK|true"},
    {"GetCalProgress|", "OK|33"},
    {"CalibrateStep|White|", "OK|true"},
    {"CalibrateStep|Green|", "OK|true"},
    {"GetCalStatus|", "OK|2"},
    {"GetCalProgress|", "OK|100"},
    {"Measure|", "OK|true"},
    {"IsDataReady|", "OK|true"},
    {"GetAngles|", "OK|6"},
    {"GetAngleValue|1|", "OK|15"},
    {"GetWavelengths|", "OK|31"},
    {"GetWavelengthValue|8|", "OK|480"},
    {"GetSpectralData|1|8|", ""},
    {"GetSpectralDataAll|1|", ""},
    {"GetSpectralDataAll|5|", ""},
    {"Measure|", "OK|true"},
    {"GetSampleCount|", "OK|2"},
    {"SetCurrentSample|0|", "OK|true"},
    {"GetSampleData|1|8|", ""},
    {"GetSpectralData|9|8|", "OK|0"},
    {"GetLastErrorCode|", "OK|2"},
    {"SetLanguage|1031|", "OK|true"},
    {"SetCurrentSample|100|", "OK|false"},
    {"GetLastErrorString|", "OK|Index ausserhalb des Bereichs (0..1)"},
    {"SetLanguage|1033|", "OK|true"},
    {"GetSpectralData|x|8|",
     "ERROR|Error executing command \"GetSpectralData\" (bad lexical cast: source type value "
     "could not be interpreted as target)"},
    {"SetLanguage|-1033|", ""},
    {"Measure", ""},
    {"Disconnect|", "OK|true"},
    {"IsConnected|", "OK|false"},
};

// What the heap holds right now, as the memory checker in charge counts it.
long HeapInUse() {
#if defined(NELKO_STRESS_ASAN)
    return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
#if defined(NELKO_STRESS_VALGRIND)
    if (RUNNING_ON_VALGRIND) {
        unsigned long leaked = 0, dubious = 0, reachable = 0, suppressed = 0;
        VALGRIND_DO_QUICK_LEAK_CHECK;
        VALGRIND_COUNT_LEAKS(leaked, dubious, reachable, suppressed);
        return static_cast<long>(leaked + dubious + reachable + suppressed);
    }
#endif
    return static_cast<long>(mallinfo2().uordblks);
#endif
}

struct Totals {
    long requests = 0;
    long completed = 0;
    long cancelled = 0;
    long refused = 0;
    long reconnects = 0;
    long entries = 0;
    long overCap = 0;
    int failures = 0;
};

class Round {
public:
    Round(test::VirtualChannelEntryFn entry, Totals& totals, unsigned seed)
        : entry_(entry), totals_(totals), random_(seed), writes_(client_) {}

    void Run(int number) {
        Enter();
        if (number % 2 == 0)
            SimulatorSession();
        else
            TestDriverSession(number);
        if (number % 5 == 4) Reconnect();
        if (number % 13 == 1) OverCap();
        FinishHeldOutOfOrder();
        Expect(writes_.Broken().empty(), writes_.Broken());
    }

private:
    void Expect(bool condition, const std::string& what) {
        if (condition) return;
        if (++totals_.failures <= 20) std::fprintf(stderr, "FAILED: %s\n", test::Printable(what).c_str());
    }

    static std::string Numbered(const std::string& prefix, int number, const char* suffix = "") {
        return prefix + std::to_string(number) + suffix;
    }

    unsigned Next() {
        random_ = random_ * 1103515245u + 12345u;
        return (random_ >> 16) & 0x7fff;
    }

    void Enter() {
        Expect(writes_.Enter(entry_) == TRUE, "VirtualChannelEntry");
        client_.Connect();
        ++totals_.entries;
    }

    // One answer per message, whichever way the message arrives.
    std::string OnlyAnswer(const std::string& request) {
        const std::vector<std::string> answers = writes_.TakeNew();
        Expect(answers.size() == 1, std::to_string(answers.size()) + " answers to " + request.substr(0, 60));
        return answers.empty() ? std::string() : answers.back();
    }

    // Sends a request whole or in chunks on either channel, and completes, cancels, holds
    // back or refuses its write, as the pseudo-random sequence picks.
    std::string Ask(const std::string& request) {
        const unsigned disposition = Next() % 20;
        if (disposition >= 18)
            client_.writeResult = disposition == 18 ? CHANNEL_RC_NOT_CONNECTED : CHANNEL_RC_NO_MEMORY;
        const DWORD handle = (Next() & 1) != 0 ? StandInClient::kCommandHandle : StandInClient::kDataHandle;
        if (Next() % 4 == 0 && !request.empty())
            client_.SendChunked(request, 1 + Next() % 64, handle);
        else
            client_.Send(request, handle);
        client_.writeResult = CHANNEL_RC_OK;
        ++totals_.requests;
        std::string answer = OnlyAnswer(request);
        if (disposition >= 18) {
            ++totals_.refused;
        } else if (disposition < 16 && writes_.HeldCount() > 0) {
            writes_.Finish(writes_.HeldCount() - 1, disposition >= 14);
            ++(disposition >= 14 ? totals_.cancelled : totals_.completed);
        }
        if (writes_.HeldCount() > 8) {
            writes_.Finish(0, false);
            ++totals_.completed;
        }
        return answer;
    }

    void ExpectAnswer(const std::string& request, const std::string& expected) {
        const std::string answer = Ask(request);
        Expect(answer == expected, request.substr(0, 60) + " answered " + answer.substr(0, 80) + ", not " + expected);
    }

    void SimulatorSession() {
        ExpectAnswer("Init|NelkoSimulator|", "OK");
        for (const Exchange& exchange : kSimulatorSession) {
            if (*exchange.answer != '\0')
                ExpectAnswer(exchange.request, exchange.answer);
            else
                Expect(fuzz::IsAnswer(Ask(exchange.request)), exchange.request);
        }
        for (int i = 0; i < 20; ++i)
            ExpectAnswer(Numbered("GetWavelengthValue|", i, "|"), Numbered("OK|", 400 + 10 * i));
    }

    void TestDriverSession(int number) {
        ExpectAnswer("Init|TestDriver|", "OK");
        const test::TestDriverControl driver = test::TestDriverControl::Attach();
        Expect(driver.Reset != nullptr, "test driver control");
        if (driver.Reset == nullptr) return;
        driver.Reset();

        // Answers at and over the chunk size, and a null text.
        const std::string fits(ClientWrites::kChunkLimit - 3, 'f');
        driver.SetText(fits.c_str());
        ExpectAnswer("GetSerialNumber|", "OK|" + fits);
        const std::string tooLong(ClientWrites::kChunkLimit - 2, 'l');
        driver.SetText(tooLong.c_str());
        ExpectAnswer("GetAvailableSettings|", "ERROR|Response too long");
        driver.SetText(nullptr);
        ExpectAnswer("GetCalMode|x|", "OK");
        driver.SetText("done");

        // Long requests in chunks of the channel's sizes.
        const std::string argument(3000 + static_cast<std::size_t>(number), 'a');
        for (std::size_t chunk : {std::size_t{1600}, std::size_t{7}, std::size_t{1}}) {
            client_.SendChunked("Execute|" + argument + "|", chunk);
            Expect(OnlyAnswer("chunked Execute") == "OK|done", "chunked Execute");
            ++totals_.requests;
        }

        // Chunks of one message on the command channel around a whole one on the data
        // channel: each answered once, in the order they became whole.
        const std::string first = "Execute|" + std::string(2000, 'p') + "|";
        const auto total = static_cast<UINT32>(first.size());
        client_.OpenEvent(StandInClient::kCommandHandle, CHANNEL_EVENT_DATA_RECEIVED, first.data(), 1000, total,
                          CHANNEL_FLAG_FIRST);
        Expect(writes_.TakeNew().empty(), "answer to a partial message");
        client_.Send("Hello|", StandInClient::kDataHandle);
        Expect(OnlyAnswer("interleaved Hello") == "OK|Hello", "interleaved Hello");
        client_.OpenEvent(StandInClient::kCommandHandle, CHANNEL_EVENT_DATA_RECEIVED, first.data() + 1000, total - 1000,
                          total, CHANNEL_FLAG_LAST);
        Expect(OnlyAnswer("interleaved Execute") == "OK|done", "interleaved Execute");

        // A message abandoned after its first chunk, then a new one on the same channel.
        const std::string abandoned(500, 'q');
        client_.OpenEvent(StandInClient::kCommandHandle, CHANNEL_EVENT_DATA_RECEIVED, abandoned.data(), 500, 10000,
                          CHANNEL_FLAG_FIRST);
        client_.SendChunked("IsConnected|", 5);
        Expect(OnlyAnswer("after an abandoned message") == "OK|true", "after an abandoned message");
        totals_.requests += 3;
        writes_.FinishAll(false);

        for (int i = 0; i < 40; ++i) {
            driver.SetInt(i);
            ExpectAnswer(Numbered("GetWavelengthValue|", i, "|"), Numbered("OK|", i));
            ExpectAnswer(Numbered("SetOption|Mode|", i, "|"), "OK|true");
        }
        ExpectAnswer("SetCurrentSample|2147483648|",
                     "ERROR|Error executing command \"SetCurrentSample\" (bad lexical "
                     "cast: source type value could not be interpreted as target)");
        driver.Reset();
    }

    // The client drops the connection: writes still out are cancelled.
    void Reconnect() {
        Ask("IsConnected|");
        client_.InitEvent(CHANNEL_EVENT_DISCONNECTED);
        totals_.cancelled += static_cast<long>(writes_.HeldCount());
        writes_.FinishAll(true);
        client_.Connect();
        ExpectAnswer("Hello|", "OK|Hello");
        // A client that enters the add-in again, as on a new session in the same process.
        Enter();
        ExpectAnswer("Hello|", "OK|Hello");
        ++totals_.reconnects;
    }

    void OverCap() {
        const std::string atCap = "Hello|" + std::string(kRequestCap - 6, 'c');
        client_.SendChunked(atCap + "x", std::size_t{64} * 1024);
        Expect(OnlyAnswer("over the cap") == "ERROR|Request too long", "message over the cap");
        client_.Send(atCap + "x");
        Expect(OnlyAnswer("over the cap") == "ERROR|Request too long", "message over the cap in one event");
        client_.SendChunked(atCap, 1600);
        Expect(OnlyAnswer("at the cap") == "OK|Hello", "message at the cap");
        totals_.overCap += 2;
        totals_.requests += 3;
    }

    void FinishHeldOutOfOrder() {
        while (writes_.HeldCount() > 0) {
            const bool cancelled = (Next() & 1) != 0;
            writes_.Finish(writes_.HeldCount() - 1, cancelled);
            ++(cancelled ? totals_.cancelled : totals_.completed);
        }
    }

    test::VirtualChannelEntryFn entry_;
    Totals& totals_;
    unsigned random_;
    StandInClient client_;
    ClientWrites writes_;
};

int Main(int rounds) {
    const auto start = std::chrono::steady_clock::now();
    test::TempDir logDirectory;
    test::SetTemporaryDirectoryEnvironment(logDirectory.Path());
    std::string error;
    std::unique_ptr<test::AddinLibrary> library = test::AddinLibrary::Load(test::AddinLibraryPath(), error);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    Totals totals;
    // Compared at the same point of the cycle, after a simulator round, once everything
    // has been used at least once.
    const int firstMeasured = 2;
    const int lastMeasured = (rounds - 1) / 2 * 2;
    long baseline = 0;
    long growth = 0;
    for (int number = 0; number < rounds; ++number) {
        Round(library->VirtualChannelEntry, totals, static_cast<unsigned>(number) + 1).Run(number);
        test::RemoveFile(logDirectory.File("NelkoClientDriver.log"));
        if (lastMeasured <= firstMeasured) continue;
        if (number == firstMeasured) baseline = HeapInUse();
        if (number == lastMeasured) growth = HeapInUse() - baseline;
    }
    if (growth > kAllowedGrowth) {
        std::fprintf(stderr, "FAILED: heap grew by %ld bytes from round %d to round %d\n", growth, firstMeasured + 1,
                     lastMeasured + 1);
        ++totals.failures;
    }
    library.reset();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "rounds %d, requests %ld: writes completed %ld, cancelled %ld, refused %ld; entries %ld, "
        "reconnects %ld, over-cap messages %ld, driver replacements %d; heap growth %ld bytes; %.1f s; "
        "%d failures\n",
        rounds, totals.requests, totals.completed, totals.cancelled, totals.refused, totals.entries, totals.reconnects,
        totals.overCap, rounds, growth, seconds, totals.failures);
    return totals.failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace nelko::stress

int main(int argc, char** argv) { return nelko::stress::Main(argc > 1 ? std::atoi(argv[1]) : 60); }
