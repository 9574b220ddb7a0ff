#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "Harness.h"
#include "TestSupport.h"
#include "diagnostics/TraceLog.h"

namespace nelko::fuzz {
namespace {
namespace fs = std::filesystem;

const char* const kDrivers[] = {"NelkoSimulator", "TestDriver", "TestDriverNoExecute", "TestDriverNoConnect"};
const char* const kSubFolderDrivers[] = {"NelkoSimulator", "TestDriver"};
constexpr std::uintmax_t kLogLimit = std::uintmax_t{8} * 1024 * 1024;  // may be memory

struct OwnedTree {
    RunTree tree;
    ~OwnedTree() {
        std::error_code ignored;
        if (!tree.root.empty()) fs::remove_all(tree.root, ignored);
        if (!tree.logDirectory.empty()) fs::remove_all(tree.logDirectory, ignored);
    }
};

std::string MakeTemporaryFolder(const fs::path& parent, const std::string& prefix) {
    std::string pattern = (parent / (prefix + "XXXXXX")).string();
    if (::mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed in " + pattern);
    return pattern;
}

// Every request writes several log entries, each an open, a write and a close: the fuzzing
// scripts offer a memory-backed folder (NELKO_FUZZ_LOG_PARENT) where they cost a fraction of
// a disk's, and remove it after the run, also when a crashed process left its log behind.
std::string MakeLogFolder(const fs::path& root) {
    const char* const parent = std::getenv("NELKO_FUZZ_LOG_PARENT");
    if (parent != nullptr && *parent != '\0') return MakeTemporaryFolder(parent, "log-");
    fs::create_directories(root / "log");
    return (root / "log").string();
}

void CopyDriver(const fs::path& binaries, const std::string& baseName, const fs::path& target) {
    fs::copy_file(binaries / test::DriverFileName(baseName), target, fs::copy_options::overwrite_existing);
}

RunTree MakeTree() {
    RunTree tree;
    tree.binaries = fs::read_symlink("/proc/self/exe").parent_path().string();
    const fs::path root = MakeTemporaryFolder(fs::temp_directory_path(), "nelko-fuzz-");
    tree.root = root.string();
    tree.inside = (root / "inside").string();
    fs::create_directories(root / "inside" / "sub");
    fs::create_directories(root / "away");
    for (const char* name : kDrivers) CopyDriver(tree.binaries, name, root / "inside" / test::DriverFileName(name));
    for (const char* name : kSubFolderDrivers)
        CopyDriver(tree.binaries, name, root / "inside" / "sub" / test::DriverFileName(name));
    // Complete drivers: loading one of them would succeed, so only the name check stops it.
    for (const fs::path& decoy : {root / "Outside.so", root / "away" / "Outside.so"}) {
        CopyDriver(tree.binaries, "TestDriver", decoy);
        tree.outsideDrivers.push_back(decoy.string());
    }
    // Incomplete: a load would be undone at once, but not before its constructor ran.
    for (const fs::path& bait : {root / "Bait.so", root / "away" / "Bait.so"})
        CopyDriver(tree.binaries, "NelkoFuzzBait", bait);
    tree.logDirectory = MakeLogFolder(root);
    return tree;
}

}  // namespace

const RunTree& EnterRunTree() {
    static std::unique_ptr<OwnedTree> owned;
    if (owned) return owned->tree;
    owned = std::make_unique<OwnedTree>();
    owned->tree = MakeTree();
    const RunTree& tree = owned->tree;
    // The add-in (its own copy of the core) finds its log folder through $TMPDIR.
    test::SetTemporaryDirectoryEnvironment(tree.logDirectory);
    SetLogTestSeam({tree.logDirectory, {}});
    if (::chdir(tree.inside.c_str()) != 0) throw std::runtime_error("cannot enter " + tree.inside);
    return tree;
}

void PruneLog() {
    const fs::path log = fs::path(EnterRunTree().logDirectory) / "NelkoClientDriver.log";
    std::error_code error;
    const std::uintmax_t size = fs::file_size(log, error);
    if (!error && size > kLogLimit) fs::remove(log, error);
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
