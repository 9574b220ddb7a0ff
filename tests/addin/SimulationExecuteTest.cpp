#include "AddinFixture.h"

namespace nelko::test {
namespace {

using Lines = std::vector<std::string>;
using SimulationExecuteTest = AddinFixture;

TEST_F(SimulationExecuteTest, AnswersIntoTheCallersBufferWhenItFits) {
    EXPECT_EQ(Simulate("Hello", 9), "OK|Hello");

    std::string buffer(8, '#');
    std::uint32_t length = 99;
    library.SimulationExecute("Hello", buffer.data(), 8, &length);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer, std::string(8, '#'));

    buffer.assign(9, '#');
    library.SimulationExecute("Hello", buffer.data(), 9, &length);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(buffer, std::string("OK|Hello\0", 9));
}

TEST_F(SimulationExecuteTest, TracesNoChannelLines) {
    EXPECT_EQ(Simulate("Measure"), "ERROR|No driver loaded");  // found without a closing "|"
    EXPECT_EQ(Simulate("Foo|a|"), "ERROR|Unknown command \"Foo\"");
    EXPECT_EQ(NewMessages(), (Lines{"SimulationExecute", "Parameters of Measure", "Command Measure ()",
                                    "SimulationExecute", "Parameters of Foo|a|"}));
}

TEST_F(SimulationExecuteTest, SharesTheInstrumentWithTheChannelAndHasNoLengthLimit) {
    EXPECT_EQ(Simulate("Init|TestDriver|"), "OK");
    TestDriverControl driver = TestDriverControl::Attach();
    ASSERT_NE(driver.SetText, nullptr);
    const std::string text(5000, 'z');
    driver.SetText(text.c_str());
    EXPECT_EQ(Simulate("GetSerialNumber|"), "OK|" + text);

    StandInClient client;
    ASSERT_TRUE(client.Enter(library.VirtualChannelEntry));
    client.Connect();
    client.Send("GetCalSteps|");
    EXPECT_EQ(client.writes.back().data, "ERROR|Response too long");
    client.CompleteAllWrites();
}

TEST_F(SimulationExecuteTest, ToleratesNullPointers) {
    char buffer[16] = "untouched";
    std::uint32_t length = 77;
    library.SimulationExecute(nullptr, buffer, sizeof buffer, &length);
    EXPECT_EQ(length, 0u);
    EXPECT_STREQ(buffer, "untouched");

    length = 77;
    library.SimulationExecute("Hello", nullptr, 0, &length);
    EXPECT_EQ(length, 0u);
    length = 77;
    library.SimulationExecute("Hello", nullptr, 100, &length);
    EXPECT_EQ(length, 0u);

    library.SimulationExecute("Hello", buffer, sizeof buffer, nullptr);
    EXPECT_STREQ(buffer, "OK|Hello");
    library.SimulationExecute("Hello", buffer, 0, &length);
    EXPECT_EQ(length, 0u);
}

}  // namespace
}  // namespace nelko::test
