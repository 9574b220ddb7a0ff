// The process's one instrument and the lock that lets one request at a time reach it,
// whichever path brought the request: a channel of any connection, or SimulationExecute.
#pragma once

#include <memory>
#include <mutex>
#include <string>

namespace nelko {

class Instrument;

// Not copyable, as its lock is not.
class RequestExecutor {
public:
    RequestExecutor();
    ~RequestExecutor();

    // The response text of one request.
    std::string Execute(const std::string& request);

private:
    // Recursive: a driver may call SimulationExecute from inside a command, on the thread
    // that holds it. "Init" unloads the driver another request may be inside.
    std::recursive_mutex mutex_;
    std::unique_ptr<Instrument> instrument_;  // created by the first request
};

}  // namespace nelko
