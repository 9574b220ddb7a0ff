#include "command/RequestExecutor.h"

#include "command/Instrument.h"

namespace nelko {

RequestExecutor::RequestExecutor() = default;
RequestExecutor::~RequestExecutor() = default;

std::string RequestExecutor::Execute(const std::string& request) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (instrument_ == nullptr) instrument_ = std::make_unique<Instrument>();
    return instrument_->Execute(request).ToString();
}

}  // namespace nelko
