// "Init|<name>|" with the input as the name (up to its first "|", as the request is split).
//
// The name comes from the remote server. Whatever it is, the add-in may load only a file
// below the working directory: "OK" is accepted only for names that resolve to a regular
// file inside it, the complete drivers placed just outside must never become resident,
// and the answer must agree with whether a driver is loaded afterwards.
#include <algorithm>
#include <filesystem>

#include "Harness.h"
#include "TestSupport.h"
#include "command/Instrument.h"

namespace nelko::fuzz {
namespace {
namespace fs = std::filesystem;

Instrument& Loader() {
    static Instrument instrument;
    return instrument;
}

// Where "./NAME.so" leads, if it is a regular file inside the working directory.
bool ResolvesInside(const std::string& name) {
    if (name.find('\0') != std::string::npos) return false;  // no file has such a name
    std::error_code error;
    const fs::path file = fs::canonical(fs::current_path() / ("./" + name + ".so"), error);
    if (error || !fs::is_regular_file(file, error)) return false;
    const std::string inside = fs::canonical(fs::current_path()).string() + "/";
    return file.string().compare(0, inside.size(), inside) == 0;
}

bool MustLoad(const std::string& name) {
    for (const char* good : {"NelkoSimulator", "TestDriver", "./TestDriver", "sub/NelkoSimulator", "sub/TestDriver"})
        if (name == good) return true;
    return false;
}

}  // namespace

std::string SetUpInitNames() {
    const RunTree& tree = EnterRunTree();
    // The residency probe must see a library loaded through a relative path.
    const std::string probeName = "../Outside";
    void* handle = platform::OpenLibrary(platform::DriverLibraryPath(probeName));
    const bool seen = test::IsLibraryResident(tree.outsideDrivers.front());
    platform::CloseLibrary(handle);
    if (handle == nullptr || !seen) return "residency probe does not work";
    if (test::IsLibraryResident(tree.outsideDrivers.front())) return "probe library stays resident";
    // And the bait must mark the environment when it is loaded.
    void* bait = platform::OpenLibrary(platform::DriverLibraryPath("../Bait"));
    const bool marked = !TakeBaitMark().empty();
    platform::CloseLibrary(bait);
    if (bait == nullptr || !marked) return "bait library leaves no mark";
    return std::string();
}

std::string RunInitName(const std::uint8_t* data, std::size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string name = raw.substr(0, raw.find('|'));
    const std::string shown = test::Printable(name.substr(0, 300));
    const std::string response = Loader().Execute("Init|" + raw + "|").ToString();
    const bool loaded = response == "OK";
    if (!loaded && response != "ERROR|Error loading driver (\"" + name + "\") on client")
        return "unexpected answer " + test::Printable(response) + " for " + shown;
    if (loaded && !ResolvesInside(name))
        return "loaded \"" + shown + "\", which is no file inside the working directory";
    if (!loaded && MustLoad(name)) return "refused \"" + shown + "\"";
    const std::vector<std::string>& outside = EnterRunTree().outsideDrivers;
    const auto resident = std::find_if(outside.begin(), outside.end(), test::IsLibraryResident);
    if (resident != outside.end()) return *resident + " became resident after \"" + shown + "\"";
    const std::string baitMark = TakeBaitMark();
    if (!baitMark.empty()) return baitMark + " after \"" + shown + "\"";
    const std::string probe = Loader().Execute("IsConnected|").ToString();
    if (loaded == (probe == "ERROR|No driver loaded"))
        return "\"" + shown + "\" answered " + response + " but IsConnected| answered " + probe;
    return std::string();
}

}  // namespace nelko::fuzz
