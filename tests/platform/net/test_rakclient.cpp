#include "platform/net/BitStream.h"
#include "platform/net/RakClientInterface.h"

#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ostream>
#include <string>

using nettest::Bytes;
using nettest::LoopbackServer;
using nettest::pumpUntil;
using nettest::secondsSince;
using nettest::SilentPort;

namespace {

Bytes bytesOf(const Packet* packet) {
  return packet->length == 0 ? Bytes() : Bytes(packet->data, packet->data + packet->length);
}

// One client, its packets collected in order as the test drives both ends.
class Client {
public:
  Client() : client(RakNetworkFactory::GetRakClientInterface()) {}
  ~Client() { RakNetworkFactory::DestroyRakClientInterface(client); }

  void receiveAll() {
    while (Packet* packet = client->Receive()) {
      EXPECT_EQ(packet->bitSize, packet->length * 8);
      EXPECT_EQ(packet->data == nullptr, packet->length == 0);
      received.push_back(bytesOf(packet));
      client->DeallocatePacket(packet);
    }
  }
  bool lastIs(unsigned char id) const { return !received.empty() && received.back() == Bytes{id}; }

  RakClientInterface* client;
  std::vector<Bytes> received;
};

class RakClientLoopback : public testing::Test {
protected:
  void step() {
    server.service();
    client.receiveAll();
  }
  bool pumpUntilConnected() {
    // Both ends: the server knows its peer only once the client acknowledged.
    return pumpUntil([&] { step(); },
                     [&] { return client.lastIs(ID_CONNECTION_REQUEST_ACCEPTED) && server.peer != nullptr; });
  }
  bool pumpUntilServerHas(size_t count) {
    return pumpUntil([&] { step(); }, [&] { return server.messages.size() >= count; });
  }

  LoopbackServer server;
  Client client;
};

}  // namespace

TEST(BitStream, IntegersAreLittleEndianAndBytesAppendAsGiven) {
  RakNet::BitStream stream;
  EXPECT_EQ(stream.GetData(), nullptr);
  stream.Write(80);
  stream.Write("ab", 3);
  stream.Write(-2);
  stream.Write(nullptr, 4);
  stream.Write("x", 0);
  stream.Write("x", -1);
  const Bytes expected = {80, 0, 0, 0, 'a', 'b', 0, 0xfe, 0xff, 0xff, 0xff};
  ASSERT_EQ(stream.GetNumberOfBytesUsed(), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(stream.GetNumberOfBitsUsed(), static_cast<int32_t>(expected.size() * 8));
  EXPECT_EQ(Bytes(stream.GetData(), stream.GetData() + expected.size()), expected);
  stream.Reset();
  EXPECT_EQ(stream.GetNumberOfBytesUsed(), 0);
  EXPECT_EQ(stream.GetData(), nullptr);
}

TEST(RakClient, WithoutAConnectionNothingIsSentOrReceived) {
  Client c;
  RakNet::BitStream stream;
  stream.Write(1);
  EXPECT_FALSE(c.client->Send(&stream, HIGH_PRIORITY, RELIABLE_ORDERED, 0));
  EXPECT_FALSE(c.client->Send(nullptr, HIGH_PRIORITY, RELIABLE_ORDERED, 0));
  EXPECT_EQ(c.client->Receive(), nullptr);
  EXPECT_FALSE(c.client->IsConnected());
  c.client->DeallocatePacket(nullptr);
  c.client->Disconnect(300, 0);
  RakNetworkFactory::DestroyRakClientInterface(nullptr);
}

TEST_F(RakClientLoopback, SendsBeforeAcceptanceGoOutInOrderOnceAccepted) {
  ASSERT_NE(server.port, 0);
  ASSERT_TRUE(client.client->Connect("127.0.0.1", server.port, 0, 0, 0));
  EXPECT_FALSE(client.client->Connect("127.0.0.1", server.port, 0, 0, 0));
  EXPECT_FALSE(client.client->IsConnected());
  RakNet::BitStream first;
  first.Write(80);
  first.Write("one", 4);
  EXPECT_TRUE(client.client->Send(&first, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0));
  EXPECT_TRUE(client.client->Send("two", 3, LOW_PRIORITY, RELIABLE_ORDERED, 0));
  RakNet::BitStream empty;
  EXPECT_FALSE(client.client->Send(&empty, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0));
  EXPECT_FALSE(client.client->Send("", 0, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0));
  EXPECT_TRUE(client.client->Send(&first, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0));

  ASSERT_TRUE(pumpUntilServerHas(3));
  EXPECT_EQ(client.received.front(), Bytes{ID_CONNECTION_REQUEST_ACCEPTED});
  EXPECT_TRUE(client.client->IsConnected());
  EXPECT_EQ(server.messages[0].bytes, (Bytes{80, 0, 0, 0, 'o', 'n', 'e', 0}));
  EXPECT_EQ(server.messages[1].bytes, (Bytes{'t', 'w', 'o'}));
  EXPECT_EQ(server.messages[2].bytes, server.messages[0].bytes);

  EXPECT_TRUE(client.client->Send("after", 5, HIGH_PRIORITY, RELIABLE_ORDERED, 0));
  ASSERT_TRUE(pumpUntilServerHas(4));
  EXPECT_EQ(server.messages[3].bytes, (Bytes{'a', 'f', 't', 'e', 'r'}));
  for (const nettest::Message& message : server.messages) {
    EXPECT_EQ(message.channel, 0);
    EXPECT_TRUE(message.flags & ENET_PACKET_FLAG_RELIABLE);
  }
}

TEST_F(RakClientLoopback, ServerMessagesArriveWholeOnePerReceive) {
  client.client->Connect("127.0.0.1", server.port, 0, 0, 0);
  ASSERT_TRUE(pumpUntilConnected());
  Bytes garbage(3000);
  for (size_t i = 0; i < garbage.size(); ++i) {
    garbage[i] = static_cast<unsigned char>(i * 7919u >> 3);
  }
  const std::vector<Bytes> sent = {{80, 1}, {}, garbage, {80}};
  for (const Bytes& bytes : sent) {
    server.send(bytes);
  }
  // Everything is in the client's socket before the first receive.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Packet* packet = client.client->Receive();
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(bytesOf(packet), sent[0]);
  client.client->DeallocatePacket(packet);
  ASSERT_TRUE(pumpUntil([&] { step(); }, [&] { return client.received.size() == 1 + sent.size() - 1; }));
  EXPECT_EQ(std::vector<Bytes>(client.received.begin() + 1, client.received.end()),
            std::vector<Bytes>(sent.begin() + 1, sent.end()));
}

TEST_F(RakClientLoopback, ServerGoodbyeIsADisconnectionNoticeAndAllowsAFreshConnect) {
  client.client->Connect("127.0.0.1", server.port, 0, 0, 0);
  ASSERT_TRUE(pumpUntilConnected());
  server.disconnectClient();
  ASSERT_TRUE(pumpUntil([&] { step(); }, [&] { return client.lastIs(ID_DISCONNECTION_NOTIFICATION); }));
  EXPECT_FALSE(client.client->IsConnected());
  EXPECT_FALSE(client.client->Send("x", 1, HIGH_PRIORITY, RELIABLE_ORDERED, 0));

  EXPECT_TRUE(client.client->Connect("127.0.0.1", server.port, 0, 0, 0));
  ASSERT_TRUE(pumpUntilConnected());
  EXPECT_EQ(server.connects, 2);
}

TEST_F(RakClientLoopback, DisconnectIsBoundedAndTheServerHearsTheGoodbye) {
  client.client->Connect("127.0.0.1", server.port, 0, 0, 0);
  ASSERT_TRUE(pumpUntilConnected());
  server.send({7});
  // The server is not serviced meanwhile, so the acknowledgement never comes.
  const auto start = std::chrono::steady_clock::now();
  client.client->Disconnect(300, 0);
  EXPECT_LT(secondsSince(start), 1.5);
  EXPECT_FALSE(client.client->IsConnected());
  EXPECT_EQ(client.client->Receive(), nullptr);
  EXPECT_TRUE(pumpUntil([&] { server.service(); }, [&] { return server.disconnects == 1; }));
}

// Reliability and ordering channel against the ENet channel and kind the
// server sees; unordered traffic keeps out of the ordering channels.
struct ChannelCase {
  PacketReliability reliability;
  char orderingChannel;
  enet_uint8 channel;
  enet_uint32 flags;
};

class RakClientChannels : public RakClientLoopback, public testing::WithParamInterface<ChannelCase> {};

TEST_P(RakClientChannels, MapOntoEnet) {
  const ChannelCase& c = GetParam();
  client.client->Connect("127.0.0.1", server.port, 0, 0, 0);
  ASSERT_TRUE(pumpUntilConnected());
  ASSERT_TRUE(client.client->Send("m", 1, MEDIUM_PRIORITY, c.reliability, c.orderingChannel));
  ASSERT_TRUE(pumpUntilServerHas(1));
  EXPECT_EQ(server.messages[0].channel, c.channel);
  const enet_uint32 kind = ENET_PACKET_FLAG_RELIABLE | ENET_PACKET_FLAG_UNSEQUENCED;
  EXPECT_EQ(server.messages[0].flags & kind, c.flags);
}

INSTANTIATE_TEST_SUITE_P(Reliabilities, RakClientChannels,
                         testing::Values(ChannelCase{RELIABLE_ORDERED, 0, 0, ENET_PACKET_FLAG_RELIABLE},
                                         ChannelCase{RELIABLE_ORDERED, 5, 5, ENET_PACKET_FLAG_RELIABLE},
                                         ChannelCase{RELIABLE_ORDERED, static_cast<char>(200), 31,
                                                     ENET_PACKET_FLAG_RELIABLE},
                                         ChannelCase{RELIABLE_SEQUENCED, 3, 3, ENET_PACKET_FLAG_RELIABLE},
                                         ChannelCase{UNRELIABLE_SEQUENCED, 2, 2, 0},
                                         ChannelCase{RELIABLE, 4, 32, ENET_PACKET_FLAG_RELIABLE},
                                         ChannelCase{UNRELIABLE, 4, 32, ENET_PACKET_FLAG_UNSEQUENCED}));

// Targets that cannot be reached fail on the next receive, never later.
struct BadTarget {
  const char* host;
  int32_t serverPort;
  int32_t clientPort;
};

void PrintTo(const BadTarget& target, std::ostream* out) {
  *out << "host " << (target.host != nullptr ? target.host : "(null)") << " port " << target.serverPort
       << " client port " << target.clientPort;
}

class RakClientBadTargets : public testing::TestWithParam<BadTarget> {};

TEST_P(RakClientBadTargets, FailOnTheNextReceive) {
  const BadTarget& target = GetParam();
  Client c;
  EXPECT_FALSE(c.client->Connect(target.host, target.serverPort, target.clientPort, 0, 0));
  EXPECT_FALSE(c.client->Send("x", 1, HIGH_PRIORITY, RELIABLE_ORDERED, 0));
  c.receiveAll();
  EXPECT_EQ(c.received, std::vector<Bytes>{Bytes{ID_CONNECTION_ATTEMPT_FAILED}});
  EXPECT_EQ(c.client->Receive(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Targets, RakClientBadTargets,
                         testing::Values(BadTarget{"127.0.0.1", 0, 0}, BadTarget{"127.0.0.1", -1, 0},
                                         BadTarget{"127.0.0.1", 65536, 0}, BadTarget{"127.0.0.1", 70000, 0},
                                         BadTarget{"127.0.0.1", INT_MAX, 0}, BadTarget{"127.0.0.1", 7988, -1},
                                         BadTarget{"127.0.0.1", 7988, 65536}, BadTarget{"", 7988, 0},
                                         BadTarget{nullptr, 7988, 0}, BadTarget{"no such host!", 7988, 0},
                                         BadTarget{"server 1", 7988, 0}));

TEST(RakClientUnanswered, AttemptFailsWithinThreeSecondsAndDropsItsSends) {
  SilentPort silent;
  ASSERT_NE(silent.port, 0);
  Client c;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(c.client->Connect("127.0.0.1", silent.port, 0, 0, 0));
  EXPECT_TRUE(c.client->Send("login", 5, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0));
  ASSERT_TRUE(pumpUntil([&] { c.receiveAll(); }, [&] { return !c.received.empty(); },
                        std::chrono::milliseconds(3000)));
  EXPECT_LT(secondsSince(start), 3.0);
  EXPECT_EQ(c.received, std::vector<Bytes>{Bytes{ID_CONNECTION_ATTEMPT_FAILED}});
  EXPECT_FALSE(c.client->Send("again", 5, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0));
}

TEST(RakClientUnanswered, DisconnectDuringTheAttemptReturnsAtOnce) {
  SilentPort silent;
  Client c;
  ASSERT_TRUE(c.client->Connect("127.0.0.1", silent.port, 0, 0, 0));
  c.receiveAll();
  const auto start = std::chrono::steady_clock::now();
  c.client->Disconnect(300, 0);
  EXPECT_LT(secondsSince(start), 1.5);
  EXPECT_EQ(c.client->Receive(), nullptr);
}
