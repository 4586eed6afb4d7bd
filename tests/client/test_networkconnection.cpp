#include "client/networkconnection.h"

#include "client/startup.h"
#include "platform/messagebox.h"
#include "platform/net/LoopbackServer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

using nettest::Bytes;
using nettest::pumpUntil;
using nettest::secondsSince;

namespace {

const std::string ACCEPTED_LINE = "Unhandled packet (not a problem): 16\n";
// Sent after the packets under test: once its line is out, theirs are too.
const std::string SENTINEL_LINE = "Unhandled packet (not a problem): 5\n";

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class NetworkConnectionLoopback : public testing::Test {
protected:
    void openAndConnect() {
        connection.reset(new NetworkConnection("127.0.0.1", std::to_string(server.port).c_str()));
        ASSERT_TRUE(
            pumpUntil([&] { step(); }, [&] { return output == ACCEPTED_LINE && server.peer != nullptr; }));
    }
    // The server's side, then polls with what they print kept.
    void step(int32_t polls = 1) {
        server.service();
        testing::internal::CaptureStdout();
        for (int32_t i = 0; i < polls; ++i) {
            connection->poll();
        }
        output += testing::internal::GetCapturedStdout();
    }
    // What the packets printed, the sentinel's line taken off.
    std::string printedFor(const std::vector<Bytes>& packets) {
        output.clear();
        for (const Bytes& bytes : packets) {
            server.send(bytes);
        }
        server.send({5});
        const auto sentinelSeen = [&] {
            return output.size() >= SENTINEL_LINE.size() &&
                   output.compare(output.size() - SENTINEL_LINE.size(), SENTINEL_LINE.size(),
                                  SENTINEL_LINE) == 0;
        };
        EXPECT_TRUE(pumpUntil([&] { step(16); }, sentinelSeen));
        return output.substr(0, output.size() - std::min(output.size(), SENTINEL_LINE.size()));
    }

    nettest::LoopbackServer server;
    std::unique_ptr<NetworkConnection> connection;
    std::string output;
};

struct ReplyCase {
    Bytes bytes;
    std::string printed;
};

class NetworkConnectionReplies : public NetworkConnectionLoopback,
                                 public testing::WithParamInterface<ReplyCase> {};

}  // namespace

TEST_F(NetworkConnectionLoopback, LoginSentBeforeAcceptanceArrivesAsTheIdAndTwoTerminatedTexts) {
    connection.reset(new NetworkConnection("127.0.0.1", std::to_string(server.port).c_str()));
    connection->sendLogin("pilot", "s3cret");
    connection->sendLogin(nullptr, nullptr);
    ASSERT_TRUE(pumpUntil([&] { step(); }, [&] { return server.messages.size() == 2; }));
    EXPECT_EQ(output, ACCEPTED_LINE);
    EXPECT_EQ(server.messages[0].bytes,
              (Bytes{80, 0, 0, 0, 'p', 'i', 'l', 'o', 't', 0, 's', '3', 'c', 'r', 'e', 't', 0}));
    EXPECT_EQ(server.messages[1].bytes, (Bytes{80, 0, 0, 0, 0, 0}));
    EXPECT_EQ(server.messages[0].channel, 0);
    EXPECT_TRUE(server.messages[0].flags & ENET_PACKET_FLAG_RELIABLE);
}

TEST_P(NetworkConnectionReplies, PrintTheirLines) {
    openAndConnect();
    EXPECT_EQ(printedFor({GetParam().bytes}), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, NetworkConnectionReplies,
    testing::Values(ReplyCase{{80, 1}, "\nIncoming Login result: 1\nLogin successful!\n"},
                    ReplyCase{{80, 0}, "\nIncoming Login result: 0\nLogin failed!\n"},
                    ReplyCase{{80, 255, 0}, "\nIncoming Login result: 255\nLogin successful!\n"},
                    ReplyCase{{16}, "Unhandled packet (not a problem): 16\n"},
                    // Malformed: nothing for an empty packet; a reply
                    // without its result byte is no login reply.
                    ReplyCase{{}, ""}, ReplyCase{{80}, "Unhandled packet (not a problem): 80\n"}));

TEST_F(NetworkConnectionLoopback, AnyRunOfServerPacketsGivesOneReportPerNonEmptyPacket) {
    openAndConnect();
    std::mt19937 random(14);
    std::vector<Bytes> packets(1000);
    size_t nonEmpty = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        packets[i].resize(random() % (i % 2 == 0 ? 4 : 1500));
        for (unsigned char& b : packets[i]) {
            b = static_cast<unsigned char>(random());
        }
        if (!packets[i].empty()) {
            packets[i][0] = i % 3 == 0           ? ID_LOGIN
                            : packets[i][0] == 5 ? 6
                                                 : packets[i][0];  // 5 is the sentinel
            ++nonEmpty;
        }
    }
    const std::string printed = printedFor(packets);
    const size_t replies = countOf(printed, "\nIncoming Login result: ");
    EXPECT_EQ(countOf(printed, "Unhandled packet (not a problem): ") + replies, nonEmpty);
    EXPECT_EQ(countOf(printed, "Login successful!\n") + countOf(printed, "Login failed!\n"), replies);
}

TEST(NetworkConnection, UnreachableTargetsReportFailureOnTheFirstPoll) {
    // Port texts atoi reads as outside 1-65535 (beyond int, 4294975284 would
    // wrap to 7988), and hosts that cannot resolve.
    const char* targets[][2] = {
        {"127.0.0.1", "0"},     {"127.0.0.1", "70000"},      {"127.0.0.1", "-1"},       {"127.0.0.1", "abc"},
        {"127.0.0.1", nullptr}, {"127.0.0.1", "4294975284"}, {"no such host!", "7988"}, {nullptr, "7988"}};
    for (const auto& target : targets) {
        NetworkConnection connection(target[0], target[1]);
        connection.sendLogin("pilot", "pw");
        testing::internal::CaptureStdout();
        connection.poll();
        connection.poll();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unhandled packet (not a problem): 17\n")
            << (target[0] ? target[0] : "null") << " " << (target[1] ? target[1] : "null");
    }
}

namespace {

// Standard output and error become pipes nobody reads any more, as under
// `tarnwell 2>&1 | head` once head has gone; then the failed connection's
// line and a message box are written there. Exits 0 when both writes failed
// and the process lived on.
[[noreturn]] void writeToGoneReaders() {
    ignoreBrokenOutput();
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        int ends[2];
        if (pipe(ends) != 0 || dup2(ends[1], fd) < 0) {
            std::_Exit(2);
        }
        close(ends[0]);
        close(ends[1]);
    }
    NetworkConnection connection("127.0.0.1", "0");
    connection.poll();
    connection.poll();
    showMessageBox("Exception", "Critical error!");
    std::_Exit(std::ferror(stdout) != 0 && std::ferror(stderr) != 0 ? 0 : 3);
}

}  // namespace

TEST(NetworkConnection, LinesForAStandardOutputWhoseReaderHasGoneAreDropped) {
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(writeToGoneReaders(), testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

TEST(NetworkConnection, DeletingWhileTheServerNeverAnsweredIsPrompt) {
    nettest::SilentPort silent;
    auto* connection = new NetworkConnection("127.0.0.1", std::to_string(silent.port).c_str());
    connection->sendLogin("pilot", "pw");
    connection->poll();
    const auto start = std::chrono::steady_clock::now();
    delete connection;
    EXPECT_LT(secondsSince(start), 1.5);
}

TEST_F(NetworkConnectionLoopback, DeletingWhileConnectedIsBoundedAndTheServerHearsIt) {
    openAndConnect();
    const auto start = std::chrono::steady_clock::now();
    connection.reset();  // the server, not serviced meanwhile, cannot acknowledge
    EXPECT_LT(secondsSince(start), 1.5);
    EXPECT_TRUE(pumpUntil([&] { server.service(); }, [&] { return server.disconnects == 1; }));
}
