// nelko-remote: runs requests, inside a Remote Desktop session, through the add-in in the
// user's client, over the session's channels.
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "Frontend.h"
#include "nelko/RemoteConnection.h"

using namespace nelko::console;
namespace remote = nelko::remote;

int main(int argc, char** argv) {
    remote::ConnectionOptions options;
    unsigned timeoutMs = 10000;

    Backend backend;
    backend.program = "nelko-remote";
    backend.description =
        "Runs requests, from inside a Remote Desktop session, through the NelkoClientDriver add-in\n"
        "in the user's client, over the session's virtual channels.";
    backend.note =
        "Requests over a channel end in \"|\"\n"
        "(\"Measure|\"); instrument drivers are loaded on the client, from its working folder.";
    backend.resources = "channel library, script or plot";
    backend.addOptions = [&](CLI::App& app) {
        app.add_option("--timeout", timeoutMs,
                       "Milliseconds to wait for each response; a request without one is sent once more on "
                       "channels opened again, as after a reconnect")
            ->check(CLI::Range(1u, 3600000u))
            ->type_name("MS");
        app.add_option("--command-channel", options.commandChannel, "Channel the requests go to")->type_name("NAME");
        app.add_option("--data-channel", options.dataChannel, "Channel the responses come from")->type_name("NAME");
    };
    std::shared_ptr<remote::Connection> connection;
    backend.open = [&](std::string& problem) -> Executor {
        options.timeout = std::chrono::milliseconds(timeoutMs);
        try {
            connection = std::make_shared<remote::Connection>(options);
        } catch (const remote::Error& e) {
            problem = e.what();
            return nullptr;
        }
        return [connection](const std::string& request) -> std::optional<std::string> {
            try {
                return connection->Execute(request);
            } catch (const remote::Error& e) {
                std::cerr << "nelko-remote: " << e.what() << '\n';
                return std::nullopt;
            }
        };
    };
    backend.describe = [&options] {
        return "Channels " + options.commandChannel + " and " + options.dataChannel + " of this session";
    };
    return RunFrontend(argc, argv, backend);
}
