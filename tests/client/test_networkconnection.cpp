#include "client/networkconnection.h"

#include "platform/net/LoopbackServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <ostream>
#include <string>

using nettest::Bytes;
using nettest::LoopbackServer;
using nettest::pumpUntil;
using nettest::secondsSince;
using nettest::SilentPort;

namespace {

const std::string ACCEPTED_LINE = "Unhandled packet (not a problem): 16\n";
// Sent after the packet under test: once its line is out, so is everything before it.
const std::string SENTINEL_LINE = "Unhandled packet (not a problem): 5\n";

size_t countOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class NetworkConnectionLoopback : public testing::Test {
protected:
  void open() { connection.reset(new NetworkConnection("127.0.0.1", std::to_string(server.port).c_str())); }
  // The server's side and one poll, with what the poll printed kept.
  void step() {
    server.service();
    testing::internal::CaptureStdout();
    connection->poll();
    output += testing::internal::GetCapturedStdout();
  }
  bool pumpUntilConnected() {
    return pumpUntil([&] { step(); }, [&] { return output == ACCEPTED_LINE && server.peer != nullptr; });
  }
  // Sends the bytes and the sentinel; what the bytes printed.
  std::string reply(const Bytes& bytes) {
    output.clear();
    server.send(bytes);
    server.send({5});
    const bool done = pumpUntil([&] { step(); }, [&] { return endsWith(output, SENTINEL_LINE); });
    EXPECT_TRUE(done);
    return done ? output.substr(0, output.size() - SENTINEL_LINE.size()) : output;
  }

  LoopbackServer server;
  std::unique_ptr<NetworkConnection> connection;
  std::string output;
};

}  // namespace

TEST_F(NetworkConnectionLoopback, LoginSentBeforeAcceptanceReachesTheServerAsTerminatedTexts) {
  open();
  connection->sendLogin("pilot", "s3cret");
  ASSERT_TRUE(pumpUntil([&] { step(); }, [&] { return server.messages.size() == 1; }));
  EXPECT_EQ(output, ACCEPTED_LINE);
  EXPECT_EQ(server.messages[0].bytes,
            (Bytes{80, 0, 0, 0, 'p', 'i', 'l', 'o', 't', 0, 's', '3', 'c', 'r', 'e', 't', 0}));
  EXPECT_EQ(server.messages[0].channel, 0);
  EXPECT_TRUE(server.messages[0].flags & ENET_PACKET_FLAG_RELIABLE);

  connection->sendLogin(nullptr, nullptr);
  connection->sendLogin("", "pw");
  ASSERT_TRUE(pumpUntil([&] { step(); }, [&] { return server.messages.size() == 3; }));
  EXPECT_EQ(server.messages[1].bytes, (Bytes{80, 0, 0, 0, 0, 0}));
  EXPECT_EQ(server.messages[2].bytes, (Bytes{80, 0, 0, 0, 0, 'p', 'w', 0}));
}

struct ReplyCase {
  Bytes bytes;
  std::string printed;
};

class NetworkConnectionReplies : public NetworkConnectionLoopback,
                                 public testing::WithParamInterface<ReplyCase> {};

TEST_P(NetworkConnectionReplies, PrintTheirLines) {
  open();
  ASSERT_TRUE(pumpUntilConnected());
  EXPECT_EQ(reply(GetParam().bytes), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, NetworkConnectionReplies,
    testing::Values(ReplyCase{{80, 1}, "\nIncoming Login result: 1\nLogin successful!\n"},
                    ReplyCase{{80, 0}, "\nIncoming Login result: 0\nLogin failed!\n"},
                    ReplyCase{{80, 255, 0, 9}, "\nIncoming Login result: 255\nLogin successful!\n"},
                    ReplyCase{{16}, "Unhandled packet (not a problem): 16\n"},
                    ReplyCase{{0, 80, 1}, "Unhandled packet (not a problem): 0\n"},
                    // Malformed: an empty packet is ignored, a reply without
                    // its result byte is no login reply.
                    ReplyCase{{}, ""}, ReplyCase{{80}, "Unhandled packet (not a problem): 80\n"}));

TEST_F(NetworkConnectionLoopback, AnyRunOfServerPacketsGivesOneReportPerNonEmptyPacket) {
  open();
  ASSERT_TRUE(pumpUntilConnected());
  std::mt19937 random(14);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> shortLength(0, 3);
  std::uniform_int_distribution<int> longLength(0, 1500);
  size_t nonEmpty = 0;
  for (int i = 0; i < 300; ++i) {
    Bytes bytes(i % 2 == 0 ? shortLength(random) : longLength(random));
    for (unsigned char& b : bytes) {
      b = static_cast<unsigned char>(byte(random));
    }
    if (!bytes.empty() && i % 3 == 0) {
      bytes[0] = ID_LOGIN;
    }
    if (!bytes.empty() && bytes[0] == 5) {
      bytes[0] = 6;  // 5 is the sentinel
    }
    nonEmpty += bytes.empty() ? 0 : 1;
    server.send(bytes);
  }
  output.clear();
  server.send({5});
  ASSERT_TRUE(pumpUntil([&] { step(); }, [&] { return endsWith(output, SENTINEL_LINE); }));
  const size_t replies = countOf(output, "Incoming Login result: ");
  EXPECT_EQ(countOf(output, "Unhandled packet (not a problem): ") - 1 + replies, nonEmpty);
  EXPECT_EQ(countOf(output, "Login successful!\n") + countOf(output, "Login failed!\n"), replies);
}

// Port text and hosts that cannot be reached give the failed notice on the
// first poll, never a wait.
struct BadTarget {
  const char* host;
  const char* port;
};

void PrintTo(const BadTarget& target, std::ostream* out) {
  *out << "host " << (target.host != nullptr ? target.host : "(null)") << " port "
       << (target.port != nullptr ? target.port : "(null)");
}

class NetworkConnectionBadTargets : public testing::TestWithParam<BadTarget> {};

TEST_P(NetworkConnectionBadTargets, ReportFailureOnTheFirstPoll) {
  NetworkConnection connection(GetParam().host, GetParam().port);
  connection.sendLogin("pilot", "pw");
  testing::internal::CaptureStdout();
  connection.poll();
  connection.poll();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unhandled packet (not a problem): 17\n");
}

INSTANTIATE_TEST_SUITE_P(Targets, NetworkConnectionBadTargets,
                         testing::Values(BadTarget{"127.0.0.1", "0"}, BadTarget{"127.0.0.1", "70000"},
                                         BadTarget{"127.0.0.1", "-1"}, BadTarget{"127.0.0.1", "abc"},
                                         BadTarget{"127.0.0.1", ""}, BadTarget{"127.0.0.1", nullptr},
                                         // Beyond int: would wrap to 7988 when narrowed.
                                         BadTarget{"127.0.0.1", "4294975284"},
                                         BadTarget{"127.0.0.1", "99999999999999999999999"},
                                         BadTarget{"no such host!", "7988"}, BadTarget{nullptr, "7988"}));

TEST(NetworkConnectionTeardown, DeletingWhileTheServerNeverAnsweredIsPrompt) {
  SilentPort silent;
  ASSERT_NE(silent.port, 0);
  auto* connection = new NetworkConnection("127.0.0.1", std::to_string(silent.port).c_str());
  connection->sendLogin("pilot", "pw");
  connection->poll();
  const auto start = std::chrono::steady_clock::now();
  delete connection;
  EXPECT_LT(secondsSince(start), 1.5);
}

TEST_F(NetworkConnectionLoopback, DeletingWhileConnectedIsBoundedAndTheServerHearsIt) {
  open();
  ASSERT_TRUE(pumpUntilConnected());
  // The server is not serviced meanwhile: no acknowledgement comes.
  const auto start = std::chrono::steady_clock::now();
  connection.reset();
  EXPECT_LT(secondsSince(start), 1.5);
  EXPECT_TRUE(pumpUntil([&] { server.service(); }, [&] { return server.disconnects == 1; }));
}
