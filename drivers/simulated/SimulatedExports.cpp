// The driver library's exports, each handing its call to the one simulated device. All
// state lives in that device, so texts it hands out stay valid until the same export is
// called again.
#include "NelkoDriver.h"
#include "SimulatedDevice.h"

namespace {
nelko::simulator::SimulatedDevice& Device() {
    static nelko::simulator::SimulatedDevice instrument;
    return instrument;
}
}  // namespace

#define NELKO_FORWARD_TO_DEVICE(name, result, parameters, arguments) \
    NELKO_DRIVER_EXPORT result NELKO_DRIVER_CALL name parameters { return Device().name arguments; }
NELKO_DRIVER_FUNCTIONS(NELKO_FORWARD_TO_DEVICE)
#undef NELKO_FORWARD_TO_DEVICE
