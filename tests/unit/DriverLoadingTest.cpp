// "Init": loading, replacing, refusing and releasing driver libraries.
#include <gtest/gtest.h>

#include <filesystem>

#include "LogFixture.h"
#include "command/Instrument.h"

namespace nelko::test {
namespace {

using DriverLoadingTest = LogFixture;

const std::string kTestDriver = "./" + DriverFileName("TestDriver");

std::string LoadError(const std::string& name) { return "ERROR|Error loading driver (\"" + name + "\") on client"; }

TEST_F(DriverLoadingTest, LoadReplaceAndReleaseAtDestruction) {
    {
        Instrument instrument;
        EXPECT_EQ(instrument.Execute("Connect|").ToString(), "ERROR|No driver loaded");
        EXPECT_EQ(instrument.Execute("Init|TestDriver|").ToString(), "OK");
        EXPECT_TRUE(IsLibraryResident(kTestDriver));
        EXPECT_EQ(instrument.Execute("Connect|").ToString(), "OK|true");

        // Same name: released and loaded afresh (the driver's state starts over).
        TestDriverControl::Attach().SetBool(0);
        EXPECT_EQ(instrument.Execute("Init|TestDriver|").ToString(), "OK");
        EXPECT_EQ(instrument.Execute("Connect|").ToString(), "OK|true");

        // Init without a parameter changes nothing.
        EXPECT_EQ(instrument.Execute("Init|").ToString(), "ERROR|Missing parameter");
        EXPECT_EQ(instrument.Execute("Connect|").ToString(), "OK|true");
    }
    EXPECT_FALSE(IsLibraryResident(kTestDriver));
}

TEST_F(DriverLoadingTest, FailedLoadLeavesNoDriver) {
    const std::string failures[] = {"NoSuchDriver", "TestDriverNoExecute", "TestDriverNoConnect"};
    for (const std::string& name : failures) {
        SCOPED_TRACE(name);
        Instrument instrument;
        ASSERT_EQ(instrument.Execute("Init|TestDriver|").ToString(), "OK");
        ClearLog();
        EXPECT_EQ(instrument.Execute("Init|" + name + "|").ToString(), LoadError(name));
        EXPECT_EQ(Messages(), (std::vector<std::string>{"Parameters of Init|" + name + "|",
                                                        "Loading driver \"" + name + "\"", "Loading Driver error"}));
        EXPECT_FALSE(IsLibraryResident(kTestDriver));
        EXPECT_FALSE(IsLibraryResident("./" + DriverFileName(name)));
        EXPECT_EQ(instrument.Execute("Measure|").ToString(), "ERROR|No driver loaded");
    }
}

TEST_F(DriverLoadingTest, SuccessTraceAndMissingParameterTrace) {
    Instrument instrument;
    ClearLog();
    EXPECT_EQ(instrument.Execute("Init|TestDriver|ignored|").ToString(), "OK");
    EXPECT_EQ(instrument.Execute("Init|TestDriver").ToString(), "ERROR|Missing parameter");
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"Parameters of Init|TestDriver|ignored|", "Loading driver \"TestDriver\"",
                                        "Loading Driver success", "Parameters of Init|TestDriver"}));
}

TEST_F(DriverLoadingTest, SubFolderBelowCurrentDirectoryIsAllowed) {
    TempDir sub;  // below the working directory
    const std::string folder = sub.Path().substr(sub.Path().find("test-tmp"));
    WriteFile(sub.File(DriverFileName("Copy")), ReadFile(kTestDriver));
    Instrument instrument;
    EXPECT_EQ(instrument.Execute("Init|" + folder + "/Copy|").ToString(), "OK");
    EXPECT_EQ(instrument.Execute("Measure|").ToString(), "OK|true");
}

// Only the current directory counts, not the folder of the executable or the system's
// library search order.
TEST_F(DriverLoadingTest, LoadsFromTheCurrentDirectoryOnly) {
    const std::filesystem::path home = std::filesystem::current_path();
    TempDir elsewhere;
    std::filesystem::current_path(elsewhere.Path());
    {
        Instrument instrument;
        EXPECT_EQ(instrument.Execute("Init|TestDriver|").ToString(), LoadError("TestDriver"));
        std::filesystem::copy_file(home / DriverFileName("TestDriver"), elsewhere.File(DriverFileName("TestDriver")));
        EXPECT_EQ(instrument.Execute("Init|TestDriver|").ToString(), "OK");
    }
    std::filesystem::current_path(home);
}

TEST_F(DriverLoadingTest, NamesLeavingTheCurrentDirectoryAreRefusedBeforeLoading) {
    const std::string names[] = {"../TestDriver",   "bin/../../TestDriver", "sub/..",
                                 "/tmp/TestDriver", "\\TestDriver",         "\\\\server\\share\\d",
                                 "C:TestDriver",    "c:\\x\\TestDriver",    "a:b",
                                 "..\\TestDriver",  std::string(254, 'a'),  std::string("Test\0Driver", 11)};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Instrument instrument;
        ASSERT_EQ(instrument.Execute("Init|TestDriver|").ToString(), "OK");
        EXPECT_EQ(instrument.Execute("Init|" + name + "|").ToString(), LoadError(name));
        EXPECT_EQ(instrument.Execute("Measure|").ToString(), "ERROR|No driver loaded");
    }
    // 253 characters still fit the path buffer: refused only because no such file exists.
    Instrument instrument;
    const std::string longest(253, 'a');
    EXPECT_EQ(instrument.Execute("Init|" + longest + "|").ToString(), LoadError(longest));
}

}  // namespace
}  // namespace nelko::test
