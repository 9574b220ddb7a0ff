// Loads the add-in once per test process, with its trace log in a private folder, and
// reads back what each test added to the log.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "AddinLibrary.h"
#include "StandInClient.h"
#include "TestSupport.h"

namespace nelko::test {

class AddinFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (library != nullptr) return;
        logDir = std::make_unique<TempDir>();
        SetTemporaryDirectoryEnvironment(logDir->Path());
        std::string error;
        // Loaded for the rest of the process, as a client keeps it: no unload among the
        // process's own exit steps.
        library = AddinLibrary::Load(AddinLibraryPath(), error).release();
        ASSERT_NE(library, nullptr) << error;
    }

    void SetUp() override { mark = LogText().size(); }

    static std::string LogText() { return ReadFile(logDir->File("NelkoClientDriver.log")); }
    // Log lines written since the test started (or since the last call of Mark).
    std::vector<std::string> NewMessages() const { return LogMessages(LogText().substr(mark)); }
    void Mark() { mark = LogText().size(); }

    std::string Simulate(const std::string& request, std::uint32_t bufferSize = 1 << 20) {
        std::string buffer(bufferSize, '\x7f');
        std::uint32_t length = 12345;
        library->SimulationExecute(request.c_str(), buffer.data(), bufferSize, &length);
        return buffer.substr(0, length);
    }

    static inline AddinLibrary* library = nullptr;
    static inline std::unique_ptr<TempDir> logDir;
    std::size_t mark = 0;
};

// The add-in's entries a client may call: the extended one where the platform has it.
enum class Entry { Plain, Extended };
#if NELKO_ADDIN_EXTENDED_ENTRY
inline const Entry kEntries[] = {Entry::Plain, Entry::Extended};
#else
inline const Entry kEntries[] = {Entry::Plain};
#endif
inline std::string EntryName(const ::testing::TestParamInfo<Entry>& info) {
    return info.param == Entry::Plain ? "Plain" : "Extended";
}

// A fixture run once for each entry.
class EntryFixture : public AddinFixture, public ::testing::WithParamInterface<Entry> {
protected:
    static BOOL Enter(StandInClient& client, Entry entry) {
#if NELKO_ADDIN_EXTENDED_ENTRY
        if (entry == Entry::Extended) return client.EnterEx(library->VirtualChannelEntryEx);
#endif
        return entry == Entry::Plain ? client.Enter(library->VirtualChannelEntry) : FALSE;
    }
    BOOL Enter(StandInClient& client) const { return Enter(client, GetParam()); }
};

// A fixture with the stand-in client entered and connected.
class ConnectedFixture : public EntryFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(Enter(client));
        client.Connect();
        AddinFixture::SetUp();
    }

    StandInClient client;
};

}  // namespace nelko::test
