#include "platform/net/BitStream.h"
#include "platform/net/RakClientInterface.h"

#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <iterator>

using nettest::Bytes;
using nettest::pumpUntil;

namespace {

// One client against the test's own server; the client's packets are kept
// in order of arrival.
class RakClientLoopback : public testing::Test {
protected:
    ~RakClientLoopback() override { RakNetworkFactory::DestroyRakClientInterface(client); }

    void step() {
        server.service();
        while (Packet* packet = client->Receive()) {
            EXPECT_EQ(packet->bitSize, packet->length * 8);
            EXPECT_EQ(packet->data == nullptr, packet->length == 0);
            received.push_back(packet->length == 0 ? Bytes()
                                                   : Bytes(packet->data, packet->data + packet->length));
            client->DeallocatePacket(packet);
        }
    }
    bool pumpUntilLast(unsigned char id, std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
        return pumpUntil([&] { step(); }, [&] { return !received.empty() && received.back() == Bytes{id}; },
                         limit);
    }
    bool connect() {
        return client->Connect("127.0.0.1", server.port, 0, 0, 0) &&
               pumpUntil([&] { step(); }, [&] { return !received.empty() && server.peer != nullptr; });
    }

    nettest::LoopbackServer server;
    RakClientInterface* client = RakNetworkFactory::GetRakClientInterface();
    std::vector<Bytes> received;
};

}  // namespace

TEST(BitStream, IntegersAreLittleEndianAndBytesAppendAsGiven) {
    RakNet::BitStream stream;
    EXPECT_EQ(stream.GetData(), nullptr);
    stream.Write(80);
    stream.Write("ab", 3);
    stream.Write(-2);
    stream.Write(nullptr, 4);
    stream.Write("x", -1);
    const Bytes expected = {80, 0, 0, 0, 'a', 'b', 0, 0xfe, 0xff, 0xff, 0xff};
    ASSERT_EQ(stream.GetNumberOfBytesUsed(), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(stream.GetNumberOfBitsUsed(), static_cast<int32_t>(expected.size() * 8));
    EXPECT_EQ(Bytes(stream.GetData(), stream.GetData() + expected.size()), expected);
}

TEST_F(RakClientLoopback, SendsBeforeAcceptanceGoOutInOrderOnceAccepted) {
    EXPECT_FALSE(client->Send("early", 5, HIGH_PRIORITY, RELIABLE_ORDERED, 0));  // no attempt yet
    EXPECT_EQ(client->Receive(), nullptr);
    ASSERT_TRUE(client->Connect("127.0.0.1", server.port, 0, 0, 0));
    EXPECT_FALSE(client->Connect("127.0.0.1", server.port, 0, 0, 0));
    RakNet::BitStream stream;
    EXPECT_FALSE(client->Send(&stream, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0));
    stream.Write(80);
    EXPECT_TRUE(client->Send(&stream, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0));
    EXPECT_TRUE(client->Send("two", 3, LOW_PRIORITY, RELIABLE_ORDERED, 0));
    EXPECT_FALSE(client->IsConnected());

    ASSERT_TRUE(pumpUntil([&] { step(); }, [&] { return server.messages.size() == 2; }));
    EXPECT_EQ(received, std::vector<Bytes>{Bytes{ID_CONNECTION_REQUEST_ACCEPTED}});
    EXPECT_TRUE(client->IsConnected());
    EXPECT_TRUE(client->Send("three", 5, HIGH_PRIORITY, RELIABLE_ORDERED, 0));
    ASSERT_TRUE(pumpUntil([&] { step(); }, [&] { return server.messages.size() == 3; }));
    const std::vector<Bytes> expected = {{80, 0, 0, 0}, {'t', 'w', 'o'}, {'t', 'h', 'r', 'e', 'e'}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(server.messages[i].bytes, expected[i]);
        EXPECT_EQ(server.messages[i].channel, 0);
        EXPECT_TRUE(server.messages[i].flags & ENET_PACKET_FLAG_RELIABLE);
    }
}

TEST_F(RakClientLoopback, ServerMessagesArriveWholeAndInOrder) {
    ASSERT_TRUE(connect());
    const std::vector<Bytes> sent = {{80, 1}, {}, Bytes(3000, 0xa5), {80}};
    for (const Bytes& bytes : sent) {
        server.send(bytes);
    }
    ASSERT_TRUE(pumpUntil([&] { step(); }, [&] { return received.size() == 1 + sent.size(); }));
    EXPECT_EQ(std::vector<Bytes>(received.begin() + 1, received.end()), sent);
}

TEST_F(RakClientLoopback, ServerGoodbyeIsADisconnectionNoticeAndAFreshConnectWorks) {
    ASSERT_TRUE(connect());
    enet_peer_disconnect(server.peer, 0);
    ASSERT_TRUE(pumpUntilLast(ID_DISCONNECTION_NOTIFICATION));
    EXPECT_FALSE(client->IsConnected());
    EXPECT_FALSE(client->Send("x", 1, HIGH_PRIORITY, RELIABLE_ORDERED, 0));
    EXPECT_TRUE(client->Connect("127.0.0.1", server.port, 0, 0, 0));
    ASSERT_TRUE(pumpUntilLast(ID_CONNECTION_REQUEST_ACCEPTED));
}

TEST_F(RakClientLoopback, UnansweredAttemptFailsWithinThreeSecondsAndDropsItsSends) {
    nettest::SilentPort silent;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client->Connect("127.0.0.1", silent.port, 0, 0, 0));
    EXPECT_TRUE(client->Send("login", 5, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0));
    ASSERT_TRUE(pumpUntilLast(ID_CONNECTION_ATTEMPT_FAILED, std::chrono::milliseconds(3000)));
    EXPECT_LT(nettest::secondsSince(start), 3.0);
    EXPECT_EQ(received.size(), 1u);
    EXPECT_FALSE(client->Send("again", 5, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0));
}

TEST_F(RakClientLoopback, PortsOutOfRangeFailOnTheNextReceive) {
    const int32_t ports[][2] = {{0, 0}, {-1, 0}, {65536, 0}, {70000, 0}, {7988, -1}, {7988, 65536}};
    for (const auto& port : ports) {
        EXPECT_FALSE(client->Connect("127.0.0.1", port[0], port[1], 0, 0));
        step();
    }
    EXPECT_EQ(received, std::vector<Bytes>(std::size(ports), Bytes{ID_CONNECTION_ATTEMPT_FAILED}));
}
