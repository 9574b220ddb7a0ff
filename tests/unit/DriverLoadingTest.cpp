// "Init": loading, replacing, refusing and releasing driver libraries.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <vector>

#include "LogFixture.h"
#include "command/Instrument.h"
#include "platform/Platform.h"

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

// A complete driver waits where the names lead, so accepting one of them would load it.
TEST_F(DriverLoadingTest, NamesLeavingTheCurrentDirectoryAreRefusedBeforeLoading) {
    namespace fs = std::filesystem;
    const fs::path parent = fs::current_path().parent_path();
    const fs::path outside = parent / DriverFileName("NelkoOutside");
    struct Planted {
        std::vector<fs::path> files;
        ~Planted() {
            for (const fs::path& file : files) RemoveFile(file.string());
        }
    } planted{{outside}};
    fs::copy_file(kTestDriver, outside, fs::copy_options::overwrite_existing);
    TempDir sub;  // two levels below the working directory
    const std::string down = sub.Path().substr(sub.Path().find("test-tmp"));
    // Names Windows opens as devices. Elsewhere they are plain files, and a driver waits
    // under each of them too (on Windows the copy would go to the device).
    const std::string devices[] = {"COM1", "com9.dll", "LPT1 ", "NUL .txt", "aux.", "CONIN$", "conout$.x", "Prn"};
#ifndef _WIN32
    for (const std::string& device : devices) {
        planted.files.emplace_back(DriverFileName(device));
        fs::copy_file(kTestDriver, planted.files.back(), fs::copy_options::overwrite_existing);
    }
#endif
    std::vector<std::string> names = {"../NelkoOutside",
                                      "..\\NelkoOutside",
                                      down + "/../../../NelkoOutside",
                                      ".../NelkoOutside",
                                      "...\\NelkoOutside",
                                      ". ./NelkoOutside",
                                      (parent / "NelkoOutside").string(),
                                      "sub/..",
                                      "\\TestDriver",
                                      "\\\\server\\share\\d",
                                      "C:TestDriver",
                                      "c:\\x\\TestDriver",
                                      "a:b",
                                      "sub/CON/TestDriver",
                                      "sub./TestDriver",
                                      "sub /TestDriver",
                                      std::string(254, 'a'),
                                      std::string("Test\0Driver", 11)};
    names.insert(names.end(), std::begin(devices), std::end(devices));
    for (const std::string& name : names) {
        SCOPED_TRACE(Printable(name));
        Instrument instrument;
        ASSERT_EQ(instrument.Execute("Init|TestDriver|").ToString(), "OK");
        ClearLog();
        EXPECT_EQ(instrument.Execute("Init|" + name + "|").ToString(), LoadError(name));
        EXPECT_EQ(Messages(), (std::vector<std::string>{"Parameters of Init|" + name + "|",
                                                        "Loading driver \"" + name + "\"", "Loading Driver error"}));
        EXPECT_FALSE(IsLibraryResident(outside.string()));
        EXPECT_EQ(instrument.Execute("Measure|").ToString(), "ERROR|No driver loaded");
    }
    // 253 characters still fit the path buffer: refused only because no such file exists.
    Instrument instrument;
    const std::string longest(253, 'a');
    EXPECT_EQ(instrument.Execute("Init|" + longest + "|").ToString(), LoadError(longest));
}

#ifdef _WIN32
// The path handed to the loader is checked again after Windows' normalisation, which
// rewrites more than a check of the name foresees: device names become device paths, and
// under Wine ".../X" comes out as "..\X", leading to the parent's X one pass later.
TEST_F(DriverLoadingTest, PathsThatLeaveTheFolderOnceNormalisedAreNotFormed) {
    for (const char* name : {".../NelkoOutside", "...\\NelkoOutside", "COM1", "nul .txt", "sub\\LPT1"})
        EXPECT_EQ(platform::DriverLibraryPath(name), "") << name;
    EXPECT_EQ(platform::DriverLibraryPath("TestDriver"),
              (std::filesystem::current_path() / DriverFileName("TestDriver")).string());
}
#endif

}  // namespace
}  // namespace nelko::test
