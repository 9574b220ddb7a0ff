// Points the trace log at a private folder and a fixed clock for one test.
#pragma once

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "diagnostics/TraceLog.h"

namespace nelko::test {

class LogFixture : public ::testing::Test {
protected:
    void SetUp() override {
        SetLogTestSeam({dir.Path(), [] { return platform::LocalTime{2026, 3, 8, 7, 5, 9}; }});
        ResetLogFirstOpenForTesting();
    }
    void TearDown() override { SetLogTestSeam({}); }

    std::string LogPath() const { return dir.File("NelkoClientDriver.log"); }
    std::string LogText() const { return ReadFile(LogPath()); }
    std::vector<std::string> Messages() const { return LogMessages(LogText()); }
    void ClearLog() const { RemoveFile(LogPath()); }

    TempDir dir;
};

}  // namespace nelko::test
