#include "platform/net/BitStream.h"
#include "platform/net/RakClientInterface.h"

#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

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

namespace {

// A server that sends faster than the game takes packets (one a poll).
struct FloodCase {
    const char* name;
    size_t size;        // bytes per packet, at least 5
    enet_uint32 flags;  // ENet's flags on the server's sends
    uint32_t burst;     // packets the server sends between two polls
};

const FloodCase kFloods[] = {
    // The packet bound is reached first.
    {"SmallReliable", 5, ENET_PACKET_FLAG_RELIABLE, 64},
    // The byte bound is reached first; each packet travels in three fragments.
    {"LargeReliable", 4000, ENET_PACKET_FLAG_RELIABLE, 16},
    {"SmallSequenced", 5, 0, 4 * RECEIVE_QUEUE_PACKETS},
    {"SmallUnsequenced", 5, ENET_PACKET_FLAG_UNSEQUENCED, 4 * RECEIVE_QUEUE_PACKETS},
};

void PrintTo(const FloodCase& flood, std::ostream* out) {
    *out << flood.name;
}

constexpr unsigned char FLOOD_ID = 100;

class RakClientFlood : public RakClientLoopback, public testing::WithParamInterface<FloodCase> {
protected:
    // The flood's id, then the packet's number.
    void sendBurst() {
        for (uint32_t i = 0; i < GetParam().burst; ++i, ++sent) {
            Bytes bytes(GetParam().size, FLOOD_ID);
            std::memcpy(&bytes[1], &sent, sizeof(sent));
            server.send(bytes, GetParam().flags, false);
        }
        enet_host_flush(server.host);
    }
    // One poll, as the game makes once a frame; false when it gave nothing.
    bool takeOne() {
        Packet* packet = client->Receive();
        if (packet != nullptr) {
            taken.emplace_back(packet->data, packet->data + packet->length);
            if (!client->IsConnected() && lossPoll == SIZE_MAX) {
                lossPoll = taken.size() - 1;
            }
            client->DeallocatePacket(packet);
        }
        return packet != nullptr;
    }
    struct Held {
        size_t packets = 0;
        size_t bytes = 0;
        bool gapless = true;  // numbered on without a gap
    };
    Held floodTakenFrom(size_t first) const {
        Held held;
        uint32_t number = 0, previous = 0;
        for (size_t i = first; i < taken.size(); ++i) {
            if (taken[i].size() >= 5 && taken[i][0] == FLOOD_ID) {
                std::memcpy(&number, &taken[i][1], sizeof(number));
                held.gapless = held.gapless && (held.packets == 0 || number == previous + 1);
                previous = number;
                held.packets += 1;
                held.bytes += taken[i].size();
            }
        }
        return held;
    }

    uint32_t sent = 0;
    std::vector<Bytes> taken;
    size_t lossPoll = SIZE_MAX;  // the poll after which the client was no longer connected
};

}  // namespace

// What was held is what the client hands out once its intake stopped: for a
// reliable flood, everything from the poll that ended the connection on; for
// an unreliable one, all it hands out after one burst. The goodbye with a
// full queue and a server that never acknowledges it ends within about its
// 300 ms.
TEST_P(RakClientFlood, HeldPacketsStayWithinTheBoundAndOnlyReliableOverflowEndsTheConnection) {
    ASSERT_TRUE(connect());
    Held held;
    if ((GetParam().flags & ENET_PACKET_FLAG_RELIABLE) != 0) {
        for (uint32_t frame = 0;
             frame < 8 * RECEIVE_QUEUE_PACKETS / GetParam().burst && client->IsConnected(); ++frame) {
            sendBurst();
            server.service();
            takeOne();
        }
        ASSERT_FALSE(client->IsConnected()) << "after " << sent << " packets sent";
        while (takeOne()) {
        }
        EXPECT_EQ(taken.back(), Bytes{ID_CONNECTION_LOST});
        EXPECT_TRUE(floodTakenFrom(0).gapless) << "nothing reliable is lost before the end";
        held = floodTakenFrom(lossPoll);
    } else {
        sendBurst();
        // Loopback delivers at once; the pause only covers a busy machine.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        while (takeOne()) {
        }
        held = floodTakenFrom(0);
        EXPECT_TRUE(held.gapless) << "the oldest are kept, the newest dropped";
        server.send({FLOOD_ID + 1});
        ASSERT_TRUE(pumpUntilLast(FLOOD_ID + 1)) << "a reliable packet still arrives after the drops";
        sendBurst();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        takeOne();
        const auto start = std::chrono::steady_clock::now();
        client->Disconnect(300, 0);
        EXPECT_LT(nettest::secondsSince(start), 0.45);
    }
    EXPECT_GT(held.packets, 0u);
    EXPECT_LE(held.packets, RECEIVE_QUEUE_PACKETS);
    EXPECT_LE(held.bytes, RECEIVE_QUEUE_BYTES);
    EXPECT_TRUE(pumpUntil([&] { server.service(); }, [&] { return server.disconnects == 1; }))
        << "the server hears the goodbye";
}

INSTANTIATE_TEST_SUITE_P(Floods, RakClientFlood, testing::ValuesIn(kFloods),
                         [](const testing::TestParamInfo<FloodCase>& info) {
                             return std::string(info.param.name);
                         });
