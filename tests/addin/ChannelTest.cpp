// The add-in driven through its exports by a stand-in Remote Desktop client.
#include <algorithm>
#include <cstring>

#include "AddinFixture.h"

namespace nelko::test {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

using RegistrationTest = EntryFixture;

TEST_P(RegistrationTest, RegistersBothChannelsAndTraces) {
    StandInClient client;
    EXPECT_EQ(Enter(client), TRUE);
    ASSERT_EQ(client.registrations.size(), 1u);
    const auto& registration = client.registrations[0];
    ASSERT_EQ(registration.channels.size(), 2u);
    EXPECT_STREQ(registration.channels[0].name, "NlkCmd1");
    EXPECT_STREQ(registration.channels[1].name, "NlkDta1");
    EXPECT_EQ(registration.channels[0].options, 0x44800000u);
    EXPECT_EQ(registration.channels[1].options, 0x44800000u);
    EXPECT_EQ(registration.version, 1u);
    EXPECT_TRUE(client.opens.empty());
    EXPECT_EQ(NewMessages(), (Lines{"VirtualChannelEntry", "Init", "InitVirtualChannels", "Command channel: NlkCmd1",
                                    "Data channel: NlkDta1", "Virtual channel init successful"}));
    // A raw line: no time stamp before it.
    EXPECT_NE(LogText().find(InFileLineEnds("\nVirtual channel init successful\n")), std::string::npos);
}

TEST_P(RegistrationTest, RefusedRegistrationReturnsFalse) {
    StandInClient client;
    client.initResult = 15;
    EXPECT_EQ(Enter(client), FALSE);
    EXPECT_EQ(NewMessages().back(), "Virtual channel init failed (15)");
    // A second entry with a working client registers again.
    client.initResult = CHANNEL_RC_OK;
    EXPECT_EQ(Enter(client), TRUE);
    EXPECT_EQ(client.registrations.size(), 2u);
}

TEST_P(RegistrationTest, ASecondEntryRefusedByTheClientLeavesTheFirstInUse) {
    for (const Entry second : kEntries) {
        StandInClient client;
        ASSERT_EQ(Enter(client), TRUE);
        client.Connect();
        // The client already holds both channel names.
        client.initResult = CHANNEL_RC_BAD_CHANNEL;
        Mark();
        if (GetParam() == Entry::Plain && second == Entry::Plain) {
            // The plain entry's connection is still registered: the client is not asked.
            EXPECT_EQ(Enter(client, second), TRUE);
            EXPECT_EQ(NewMessages(), (Lines{"VirtualChannelEntry", "Init",
                                            "Virtual channel init skipped (the channels serve another connection)"}));
        } else {
            EXPECT_EQ(Enter(client, second), FALSE);
            EXPECT_EQ(NewMessages().back(), "Virtual channel init failed (6)");
            client.registrations.pop_back();  // a refused registration gets no events
        }
        client.Send("Hello|");
        EXPECT_EQ(client.Responses(), Lines{"OK|Hello"});
        client.InitEvent(CHANNEL_EVENT_DISCONNECTED);
        client.Connect();
        EXPECT_EQ(client.opens.size(), 4u);
        client.Send("Hello|");
        EXPECT_EQ(client.Responses(), (Lines{"OK|Hello", "OK|Hello"}));
        client.CompleteAllWrites();
    }
}

// Connections of one process, each with its own channels: an answer never reaches
// another connection's server, whatever the order of registrations and connections.
TEST_P(RegistrationTest, ConnectionsOfOneProcessAreServedApart) {
    StandInClient first;
    StandInClient second;
    ASSERT_EQ(Enter(first), TRUE);
    if (GetParam() == Entry::Plain) {
        // Its events could not be told apart: the second gets no channels, the first goes on.
        Mark();
        EXPECT_EQ(Enter(second), TRUE);
        EXPECT_TRUE(second.registrations.empty());
        EXPECT_EQ(NewMessages().back(), "Virtual channel init skipped (the channels serve another connection)");
        first.Connect();
        first.Send("Hello|");
        EXPECT_EQ(first.Responses(), Lines{"OK|Hello"});
        first.CompleteAllWrites();
        // Once the first has ended, a new connection registers as the first did.
        first.InitEvent(CHANNEL_EVENT_TERMINATED);
        StandInClient third;
        ASSERT_EQ(Enter(third), TRUE);
        ASSERT_EQ(third.registrations.size(), 1u);
        third.Connect();
        third.Send("Hello|", third.commandHandle);
        EXPECT_EQ(third.Responses(), Lines{"OK|Hello"});
        third.CompleteAllWrites();
        return;
    }
    ASSERT_EQ(Enter(second), TRUE);
    first.Connect();  // before the second connects: its channels open all the same
    ASSERT_EQ(first.opens.size(), 2u);
    first.Send("Init|TestDriver|", first.commandHandle);
    second.Connect();
    for (const char* request : {"Hello|", "Connect|", "Measure|"}) first.Send(request, first.commandHandle);
    second.Send("Hello|", second.commandHandle);
    EXPECT_EQ(first.Responses(), (Lines{"OK", "OK|Hello", "OK|true", "OK|true"}));
    EXPECT_EQ(second.Responses(), Lines{"OK|Hello"});
    for (const auto& write : first.writes) EXPECT_EQ(write.openHandle, first.dataHandle);
    first.CompleteAllWrites();
    second.CompleteAllWrites();
}

INSTANTIATE_TEST_SUITE_P(Entries, RegistrationTest, ::testing::ValuesIn(kEntries), EntryName);

using InitEventTest = ConnectedFixture;

TEST_P(InitEventTest, EventTableAndOpening) {
    ASSERT_EQ(client.opens.size(), 2u);
    EXPECT_EQ(client.opens[0].name, "NlkCmd1");
    EXPECT_EQ(client.opens[1].name, "NlkDta1");

    client.InitEvent(CHANNEL_EVENT_INITIALIZED);
    client.InitEvent(CHANNEL_EVENT_V1_CONNECTED);
    client.InitEvent(CHANNEL_EVENT_DISCONNECTED);
    client.InitEvent(CHANNEL_EVENT_TERMINATED);
    client.InitEvent(77);
    EXPECT_EQ(client.opens.size(), 2u);
    client.Connect("host");
    EXPECT_EQ(client.opens.size(), 4u);
    EXPECT_EQ(client.closeCalls, 0);
    EXPECT_EQ(NewMessages(), (Lines{"VirtualChannelInitEvent", "-Channel initialized", "VirtualChannelInitEvent",
                                    "-Channel V1 connected (old server)", "VirtualChannelInitEvent",
                                    "-Channel disconnected", "VirtualChannelInitEvent", "-Channel terminated",
                                    "VirtualChannelInitEvent", "!!! Unknown event !!!", "VirtualChannelInitEvent",
                                    "-Channel connected - host\0\0"s, "OnVirtualChannelClientConnected"}));
}

INSTANTIATE_TEST_SUITE_P(Entries, InitEventTest, ::testing::ValuesIn(kEntries), EntryName);

using RequestTest = ConnectedFixture;

TEST_P(RequestTest, OneRequestTracedAndAnsweredOnTheDataChannel) {
    client.Send("Hello|");
    ASSERT_EQ(client.writes.size(), 1u);
    EXPECT_EQ(client.writes[0].openHandle, StandInClient::kDataHandle);
    EXPECT_EQ(client.writes[0].data, "OK|Hello");
    EXPECT_NE(client.writes[0].userData, nullptr);
    client.WriteComplete(client.writes[0].userData);
    EXPECT_EQ(NewMessages(), (Lines{"VirtualChannelOpenEvent", "-Event \"Data received\": \"Hello|\0\0\""s,
                                    "OnVirtualChannelDataReceived", "--> Hello|\0\0"s, "Hello -> Hello", "<-- OK|Hello",
                                    "VirtualChannelOpenEvent", "-Event \"Write complete\""}));
}

// A channel the client would not open is traced, and no answer is written through a handle
// it never gave.
TEST_P(RequestTest, ARefusedOpenIsTracedAndNotWrittenThrough) {
    client.refusedOpen = "NlkDta1";
    Mark();
    client.Connect();
    EXPECT_EQ(NewMessages().back(), "! Opening channel NlkDta1 failed (CHANNEL_RC_UNKNOWN_CHANNEL_NAME)");
    client.Send("Hello|");
    EXPECT_TRUE(client.writes.empty());
    EXPECT_EQ(NewMessages().back(), "! Sending response failed (NlkDta1 is not open)");
    // Opened on the next connection, it serves again.
    client.refusedOpen.clear();
    client.Connect();
    client.Send("Hello|");
    EXPECT_EQ(client.Responses(), Lines{"OK|Hello"});
    client.CompleteAllWrites();
}

TEST_P(RequestTest, ChannelTextsCarryTwoNuls) {
    const std::pair<std::string, std::string> cases[] = {
        {"Measure", "ERROR|Unknown command \"Measure\0\0\""s},
        {"", "ERROR|Unknown command \"\0\0\""s},
        {"Hello", "OK|Hello"},
        {"Measure|", "ERROR|No driver loaded"},
    };
    for (const auto& [request, response] : cases) {
        client.Send(request, StandInClient::kDataHandle);  // either channel serves requests
        EXPECT_EQ(client.writes.back().data, response);
        EXPECT_EQ(client.writes.back().openHandle, StandInClient::kDataHandle);
    }
    client.CompleteAllWrites();
}

TEST_P(RequestTest, WriteFailuresAreTracedByCode) {
    const std::pair<UINT, std::string> cases[] = {
        {4, "CHANNEL_RC_NOT_CONNECTED)"}, {7, "CHANNEL_RC_BAD_CHANNEL_HANDLE)"}, {12, "CHANNEL_RC_NO_MEMORY)"},
        {16, "CHANNEL_RC_NULL_DATA)"},    {17, "CHANNEL_RC_ZERO_LENGTH)"},       {1, "?]"}};
    for (const auto& [code, suffix] : cases) {
        client.writeResult = code;
        Mark();
        client.Send("Hello|");
        EXPECT_EQ(NewMessages().back(), "! Sending response failed (" + suffix);
    }
}

TEST_P(RequestTest, ResponseLengthLimitIs1600) {
    client.Send("Init|TestDriver|");
    TestDriverControl driver = TestDriverControl::Attach();
    ASSERT_NE(driver.SetText, nullptr);

    const std::string fits(1597, 'x');  // "OK|" + 1597 = 1600
    driver.SetText(fits.c_str());
    client.Send("GetSerialNumber|");
    EXPECT_EQ(client.writes.back().data, "OK|" + fits);

    const std::string tooLong(1598, 'y');
    driver.SetText(tooLong.c_str());
    Mark();
    client.Send("GetSerialNumber|");
    EXPECT_EQ(client.writes.back().data, "ERROR|Response too long");
    EXPECT_TRUE(ContainsInOrder(NewMessages(), {"<-- OK|" + tooLong, "! Sending response failed (Response too long)",
                                                "<-- ERROR|Response too long"}));
    client.CompleteAllWrites();
}

TEST_P(RequestTest, ChunkedMessagesAreExecutedOnceWhole) {
    client.Send("Init|TestDriver|");
    TestDriverControl driver = TestDriverControl::Attach();
    ASSERT_NE(driver.Reset, nullptr);
    const std::string argument(10000, 'a');  // over 10,000 one-byte chunks
    const std::string request = "Execute|" + argument + "|";
    const std::size_t chunkSizes[] = {1600, 1, 7};
    for (std::size_t chunkSize : chunkSizes) {
        SCOPED_TRACE(chunkSize);
        driver.Reset();
        const std::size_t writesBefore = client.writes.size();
        Mark();
        client.SendChunked(request, chunkSize);
        EXPECT_EQ(driver.Calls(), "Execute(\"" + argument + "\")\n");
        EXPECT_EQ(client.writes.size(), writesBefore + 1);
        const Lines lines = NewMessages();
        const auto received = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind("-Event \"Data received\": \"", 0) == 0;
        });
        EXPECT_EQ(static_cast<std::size_t>(received), (request.size() + chunkSize - 1) / chunkSize);
        EXPECT_TRUE(ContainsInOrder(lines, {"--> " + request + "\0\0"s, "Command Execute (" + argument + ")"}));
    }
    client.CompleteAllWrites();
}

TEST_P(RequestTest, MessagesOverOneMebibyteAreRefusedUnexecuted) {
    client.Send("Init|TestDriver|");
    TestDriverControl driver = TestDriverControl::Attach();
    ASSERT_NE(driver.Reset, nullptr);
    const std::size_t cap = std::size_t{1024} * 1024;
    const std::string atCap = "Execute|" + std::string(cap - 9, 'b') + "|";
    ASSERT_EQ(atCap.size(), cap);
    constexpr std::size_t kChunk = std::size_t{64} * 1024;

    driver.Reset();
    client.SendChunked(atCap, kChunk);
    EXPECT_EQ(driver.Calls(), "Execute(\"" + std::string(cap - 9, 'b') + "\")\n");

    driver.Reset();
    Mark();
    client.SendChunked(atCap + "x", kChunk);
    EXPECT_EQ(driver.Calls(), std::string());
    EXPECT_EQ(client.writes.back().data, "ERROR|Request too long");
    EXPECT_TRUE(
        ContainsInOrder(NewMessages(), {"! Request discarded (Request too long)", "<-- ERROR|Request too long"}));

    // The same in one event, as a client that does not chunk would deliver it.
    driver.Reset();
    client.Send(atCap + "x");
    EXPECT_EQ(driver.Calls(), std::string());
    EXPECT_EQ(client.writes.back().data, "ERROR|Request too long");
    client.CompleteAllWrites();
}

TEST_P(RequestTest, ChunksPastTheDeclaredTotalDiscardTheMessage) {
    client.Send("Init|TestDriver|");
    TestDriverControl driver = TestDriverControl::Attach();
    ASSERT_NE(driver.Reset, nullptr);
    driver.Reset();
    Mark();
    // The first chunk declares 12 bytes; the next one claims a total of its own and
    // carries 601.
    client.OpenEvent(StandInClient::kCommandHandle, CHANNEL_EVENT_DATA_RECEIVED, "Execute|", 8, 12, CHANNEL_FLAG_FIRST);
    const std::string more(601, 'x');
    client.OpenEvent(StandInClient::kCommandHandle, CHANNEL_EVENT_DATA_RECEIVED, more.data(), 601, 1000, 0);
    EXPECT_EQ(driver.Calls(), std::string());
    EXPECT_EQ(client.Responses(), (Lines{"OK", "ERROR|Request too long"}));
    EXPECT_TRUE(ContainsInOrder(
        NewMessages(), {"! Request discarded (chunks past its declared length)", "<-- ERROR|Request too long"}));
    client.CompleteAllWrites();
}

TEST_P(RequestTest, APartialMessageEndsWithItsConnection) {
    for (const UINT event : {CHANNEL_EVENT_DISCONNECTED, CHANNEL_EVENT_TERMINATED}) {
        SCOPED_TRACE(event);
        client.OpenEvent(StandInClient::kCommandHandle, CHANNEL_EVENT_DATA_RECEIVED, "Foo|", 4, 10, CHANNEL_FLAG_FIRST);
        Mark();
        client.InitEvent(event);
        EXPECT_EQ(NewMessages().back(), "! Partial request dropped");
        client.Connect();
        // Would complete the old message as "Foo|Hello|".
        client.OpenEvent(StandInClient::kCommandHandle, CHANNEL_EVENT_DATA_RECEIVED, "Hello|", 6, 10,
                         CHANNEL_FLAG_LAST);
        EXPECT_TRUE(client.writes.empty());
    }
    client.Send("Hello|");
    EXPECT_EQ(client.Responses(), Lines{"OK|Hello"});
    client.CompleteAllWrites();
}

TEST_P(RequestTest, ReconnectKeepsTheDriver) {
    client.Send("Init|TestDriver|");
    client.InitEvent(CHANNEL_EVENT_DISCONNECTED);
    client.Connect();
    client.Send("Measure|");
    EXPECT_EQ(client.writes.back().data, "OK|true");
    client.CompleteAllWrites();
}

TEST_P(RequestTest, OddOpenEventsAreHarmless) {
    int unknown = 0;
    client.WriteComplete(&unknown);
    client.WriteCancelled(nullptr);
    client.OpenEvent(StandInClient::kCommandHandle, 55, nullptr, 0, 0, 0);
    // Data pointer missing although a length is given: no data, so the message stays
    // incomplete; the next whole message is served as usual.
    client.OpenEvent(StandInClient::kCommandHandle, CHANNEL_EVENT_DATA_RECEIVED, nullptr, 10, 10, 3);
    EXPECT_TRUE(client.writes.empty());
    client.Send("Hello|");
    EXPECT_EQ(client.Responses(), Lines{"OK|Hello"});
    const Lines lines = NewMessages();
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 5),
              (Lines{"VirtualChannelOpenEvent", "-Event \"Write complete\"", "VirtualChannelOpenEvent",
                     "-Event \"Write cancelled\"", "VirtualChannelOpenEvent"}));
    EXPECT_EQ(lines[5], "VirtualChannelOpenEvent");
    client.CompleteAllWrites();
}

INSTANTIATE_TEST_SUITE_P(Entries, RequestTest, ::testing::ValuesIn(kEntries), EntryName);

}  // namespace
}  // namespace nelko::test
