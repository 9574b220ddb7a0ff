// nelko-test-server: the server end of the real-client end-to-end rig. It accepts one Remote
// Desktop client on loopback, runs a session script over the "NlkCmd1"/"NlkDta1" channels
// (see SessionScript.h for the format) and/or a benchmark, and prints PASS/FAIL lines.
//
// Exit codes: 0 all passed; 1 a step or benchmark failed; 2 bad arguments or script;
// 3 no usable connection (no client, no activation, channels not joined); 4 overall time limit.
#include "RdpTestServer.h"
#include "ScriptRunner.h"
#include "SessionScript.h"

#include <CLI/CLI.hpp>

#include <freerdp/channels/channels.h>
#include <winpr/ssl.h>
#include <winpr/wtsapi.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace {

using namespace nelko::e2e;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSetup = 3;
constexpr int kExitTimeLimit = 4;

void OnTimeLimit(int) {
    static const char message[] = "FAIL overall time limit reached; giving up\n";
    const ssize_t ignored = ::write(STDOUT_FILENO, message, sizeof message - 1);
    (void)ignored;
    ::_exit(kExitTimeLimit);
}

bool WritePortFile(const std::string& path, std::uint16_t port, std::string& error) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << '\n';
        if (!out) {
            error = "cannot write " + temporary;
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + temporary + " to " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

namespace {

int Run(int argc, char** argv) {
    CLI::App app{"Remote Desktop test server for the Nelko channel plug-ins"};
    RdpTestServer::Options server;
    std::string scriptPath;
    std::string portFile;
    bool generateCert = false;
    unsigned port = 0;
    unsigned replyTimeoutMs = 5000;
    unsigned firstReplyTimeoutMs = 10000;
    unsigned acceptTimeoutMs = 30000;
    unsigned activationTimeoutMs = 20000;
    unsigned settleMs = 200;
    unsigned settleAfterActivationMs = 0;
    unsigned timeLimitS = 600;
    std::size_t window = 0;
    bool bench = false;
    std::vector<std::string> benchRequests;
    std::vector<std::string> benchExpects;
    std::uint64_t benchCount = 2000;
    std::uint64_t benchWarmup = 100;
    std::size_t benchWindow = 1;
    std::string benchOut;

    app.add_option("--bind", server.bindAddress, "Address to listen on")->capture_default_str();
    app.add_option("--port", port, "TCP port; 0 picks a free one")->capture_default_str()->check(CLI::Range(0, 65535));
    app.add_option("--port-file", portFile, "Write the listening port to this file once listening");
    app.add_option("--cert", server.certificateFile, "TLS certificate (PEM)")->required();
    app.add_option("--key", server.privateKeyFile, "TLS private key (PEM)")->required();
    app.add_flag("--generate-cert", generateCert, "Create the certificate and key first (self-signed)");
    app.add_option("--script", scriptPath, "Session script to run")->check(CLI::ExistingFile);
    app.add_option("--command-channel", server.commandChannel, "Channel the requests go out on")->capture_default_str();
    app.add_option("--data-channel", server.dataChannel, "Channel the responses come back on")->capture_default_str();
    app.add_option("--reply-timeout-ms", replyTimeoutMs, "Longest wait for a response")->capture_default_str();
    app.add_option("--first-reply-timeout-ms", firstReplyTimeoutMs,
                   "Longest wait for the first response on a new connection")
        ->capture_default_str();
    app.add_option("--accept-timeout-ms", acceptTimeoutMs, "Longest wait for a client to connect")
        ->capture_default_str();
    app.add_option("--activation-timeout-ms", activationTimeoutMs, "Longest wait from connect to activation")
        ->capture_default_str();
    app.add_option("--settle-ms", settleMs, "Quiet period checked for extra responses after bulk steps and at the end")
        ->capture_default_str();
    app.add_option("--settle-after-activation-ms", settleAfterActivationMs,
                   "Wait this long after activation before the first request")
        ->capture_default_str();
    app.add_option("--window", window, "Bulk steps: most unanswered requests (0 = all at once)")->capture_default_str();
    app.add_option("--time-limit-s", timeLimitS, "Exit with code 4 after this long, whatever happens")
        ->capture_default_str()
        ->check(CLI::Range(1u, 86400u));
    app.add_flag("--verbose", server.verbose, "More EVENT lines");
    app.add_flag("--bench", bench, "After the script, measure round trips for the --bench-request texts");
    app.add_option("--bench-request", benchRequests, "Request text (placeholders allowed); repeatable");
    app.add_option("--bench-expect", benchExpects, "Expectation per request (default: any)");
    app.add_option("--bench-count", benchCount, "Measured requests per text")->capture_default_str();
    app.add_option("--bench-warmup", benchWarmup, "Unmeasured requests first")->capture_default_str();
    app.add_option("--bench-window", benchWindow, "Requests in flight (1 = strict ping-pong)")->capture_default_str();
    app.add_option("--bench-out", benchOut, "Append one JSON line per benchmark to this file");
    CLI11_PARSE(app, argc, argv);

    if (bench && benchRequests.empty()) benchRequests.emplace_back("Hello|");
    if (!benchExpects.empty() && benchExpects.size() != benchRequests.size()) {
        std::cerr << "--bench-expect must be given once per --bench-request\n";
        return kExitUsage;
    }
    if (scriptPath.empty() && !bench) {
        std::cerr << "nothing to do: give --script and/or --bench\n";
        return kExitUsage;
    }
    server.port = static_cast<std::uint16_t>(port);
    server.acceptTimeout = std::chrono::milliseconds(acceptTimeoutMs);
    server.activationTimeout = std::chrono::milliseconds(activationTimeoutMs);
    server.settleAfterActivation = std::chrono::milliseconds(settleAfterActivationMs);

    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGALRM, OnTimeLimit);
    ::alarm(timeLimitS);
    std::cout.setf(std::ios::unitbuf);

    std::vector<Step> steps;
    if (!scriptPath.empty()) {
        std::ifstream in(scriptPath);
        try {
            steps = ParseScript(in);
        } catch (const ScriptError& e) {
            std::cerr << scriptPath << ": " << e.what() << '\n';
            return kExitUsage;
        }
    }
    std::vector<Expectation> expects;
    try {
        for (const std::string& text : benchExpects) expects.push_back(Expectation::Parse(text));
    } catch (const std::invalid_argument& e) {
        std::cerr << "--bench-expect: " << e.what() << '\n';
        return kExitUsage;
    }

    std::string error;
    if (generateCert && !MakeCertificate(server.certificateFile, server.privateKeyFile, error)) {
        std::cerr << error << '\n';
        return kExitSetup;
    }

    winpr_InitializeSSL(WINPR_SSL_INIT_DEFAULT);
    WTSRegisterWtsApiFunctionTable(FreeRDP_InitWtsApi());

    RdpTestServer rdp(server, std::cout);
    if (!rdp.Listen(error)) {
        std::cout << "FAIL setup: " << error << '\n';
        return kExitSetup;
    }
    std::cout << "LISTENING " << server.bindAddress << ':' << rdp.Port() << '\n';
    if (!portFile.empty() && !WritePortFile(portFile, rdp.Port(), error)) {
        std::cout << "FAIL setup: " << error << '\n';
        return kExitSetup;
    }
    if (!rdp.AcceptSession(error)) {
        std::cout << "FAIL setup: " << error << '\n';
        return kExitSetup;
    }

    RunOptions run;
    run.replyTimeout = std::chrono::milliseconds(replyTimeoutMs);
    run.firstReplyTimeout = std::chrono::milliseconds(firstReplyTimeoutMs);
    run.settle = std::chrono::milliseconds(settleMs);
    run.defaultWindow = window;

    RunSummary summary;
    if (!steps.empty()) {
        ScriptRunner runner(rdp, run, std::cout);
        summary = runner.Run(steps);
    }

    bool benchOk = true;
    if (bench && !summary.aborted) {
        auto firstTimeout = steps.empty() ? run.firstReplyTimeout : run.replyTimeout;
        std::ofstream json;
        if (!benchOut.empty()) json.open(benchOut, std::ios::app);
        for (std::size_t i = 0; i < benchRequests.size(); ++i) {
            const Expectation expect = expects.empty() ? Expectation::Any() : expects[i];
            const BenchResult result = RunBench(rdp, benchRequests[i], expect, benchWarmup, benchCount, benchWindow,
                                                firstTimeout, run.replyTimeout);
            firstTimeout = run.replyTimeout;
            std::cout << BenchLine(result) << '\n';
            if (json.is_open()) json << BenchJson(result) << '\n';
            benchOk = benchOk && result.ok;
            if (!result.ok) break;
        }
    }

    rdp.EndSession(true);

    const auto& chunks = rdp.GetChunkStats();
    std::cout << "CHUNKS responses=" << chunks.messages << " pdus=" << chunks.chunks
              << " multi_pdu_responses=" << chunks.multiChunkMessages
              << " max_pdus_per_response=" << chunks.maxChunksPerMessage
              << " largest_response=" << chunks.largestMessage << '\n';
    bool strayOk = true;
    if (rdp.StrayCommandChannelMessages() > 0) {
        std::cout << "FAIL " << rdp.StrayCommandChannelMessages() << " message(s) arrived on " << server.commandChannel
                  << '\n';
        strayOk = false;
    }
    if (!steps.empty())
        std::cout << "session: " << summary.passed << " passed, " << summary.failed << " failed, " << summary.skipped
                  << " skipped\n";
    return summary.Ok() && benchOk && strayOk ? 0 : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "nelko-test-server: " << error.what() << '\n';
        return 2;
    }
}
