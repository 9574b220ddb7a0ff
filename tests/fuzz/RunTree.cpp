#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <utility>

#include "Harness.h"
#include "TestSupport.h"
#include "diagnostics/TraceLog.h"

namespace nelko::fuzz {
namespace {
namespace fs = std::filesystem;

const char* const kDrivers[] = {"NelkoSimulator", "TestDriver", "TestDriverNoExecute", "TestDriverNoConnect"};
const char* const kSubFolderDrivers[] = {"NelkoSimulator", "TestDriver"};

struct OwnedTree {
    RunTree tree;
    ~OwnedTree() {
        std::error_code ignored;
        if (!tree.root.empty()) fs::remove_all(tree.root, ignored);
    }
};

std::string MakeTemporaryFolder(const fs::path& parent, const std::string& prefix) {
    std::string pattern = (parent / (prefix + "XXXXXX")).string();
    if (::mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed in " + pattern);
    return pattern;
}

// Log entries are dropped, but their first and last bytes are read, so that an entry whose
// length runs past its text still shows under the memory checker.
void DropLogEntry(const char* data, std::size_t size) {
    if (size == 0) return;
    volatile char edge = data[0];
    edge = data[size - 1];
    static_cast<void>(edge);
}

// Returns the copy's path.
fs::path CopyDriver(const fs::path& binaries, const std::string& baseName, const fs::path& target) {
    fs::copy_file(binaries / test::DriverFileName(baseName), target, fs::copy_options::overwrite_existing);
    return target;
}

// Keeps a driver in memory for the whole run, so that "Init" and unloading it cost a
// reference count rather than a real load. A real load is dear under the sanitizers: the
// address sanitizer registers one more exit handler for every static object a library
// constructs, and never removes it, so each unload walks a list that grew with every load
// before (it was a fifth of the time after half a minute, and growing).
void KeepLoaded(const fs::path& driver) {
    if (::dlopen(driver.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) == nullptr)
        throw std::runtime_error("cannot load " + driver.string());
}

RunTree MakeTree() {
    RunTree tree;
    tree.binaries = fs::read_symlink("/proc/self/exe").parent_path().string();
    const fs::path root = MakeTemporaryFolder(fs::temp_directory_path(), "nelko-fuzz-");
    tree.root = root.string();
    tree.inside = (root / "inside").string();
    fs::create_directories(root / "inside" / "sub");
    fs::create_directories(root / "away");
    for (const char* name : kDrivers)
        KeepLoaded(CopyDriver(tree.binaries, name, root / "inside" / test::DriverFileName(name)));
    for (const char* name : kSubFolderDrivers)
        KeepLoaded(CopyDriver(tree.binaries, name, root / "inside" / "sub" / test::DriverFileName(name)));
    // Complete drivers: loading one of them would succeed, so only the name check stops it.
    for (const fs::path& decoy : {root / "Outside.so", root / "away" / "Outside.so"}) {
        CopyDriver(tree.binaries, "TestDriver", decoy);
        tree.outsideDrivers.push_back(decoy.string());
    }
    // Incomplete: a load would be undone at once, but not before its constructor ran.
    for (const fs::path& bait : {root / "Bait.so", root / "away" / "Bait.so"})
        CopyDriver(tree.binaries, "NelkoFuzzBait", bait);
    return tree;
}

}  // namespace

const RunTree& EnterRunTree() {
    static std::unique_ptr<OwnedTree> owned;
    if (owned) return owned->tree;
    owned = std::make_unique<OwnedTree>();
    owned->tree = MakeTree();
    const RunTree& tree = owned->tree;
    // Every request writes several entries, and a file's open, checks and close for each
    // would cost most of the time.
    LogTestSeam seam;
    seam.sink = DropLogEntry;
    SetLogTestSeam(std::move(seam));
    if (::chdir(tree.inside.c_str()) != 0) throw std::runtime_error("cannot enter " + tree.inside);
    return tree;
}

std::string TakeBaitMark() {
    if (std::getenv("NELKO_FUZZ_BAIT_LOADED") == nullptr) return std::string();
    ::unsetenv("NELKO_FUZZ_BAIT_LOADED");
    return "a library outside the working directory was loaded";
}

const std::vector<Harness>& Harnesses() {
    static const std::vector<Harness> harnesses{
        {"fuzz_request", SetUpRequests, RunRequests},
        {"fuzz_channel_events", SetUpChannelEvents, RunChannelEvents},
        {"fuzz_init_names", SetUpInitNames, RunInitName},
    };
    return harnesses;
}

const Harness* FindHarness(const std::string& name) {
    for (const Harness& harness : Harnesses())
        if (name == harness.name) return &harness;
    return nullptr;
}

}  // namespace nelko::fuzz
