// The client end of the game's connection to its server: one UDP connection
// over ENet, driven entirely from the caller's thread. Nothing runs in the
// background; every Receive call moves the connection on (handshake, resends,
// acknowledgements, time-outs), so the caller polls it regularly, once a frame.
//
// What happens to the connection reaches the caller as one-byte packets in
// the same stream as the server's messages: accepted, failed, disconnected by
// the server, or lost.
//
// What waits to be received is bounded, so a server that sends faster than
// the caller takes packets (one a frame) cannot grow the client without end:
// at most RECEIVE_QUEUE_PACKETS server packets and RECEIVE_QUEUE_BYTES bytes
// of them wait; the interface's own notices come on top. Beyond the bound an
// unreliable packet is dropped (it may be lost on the way anyway), while a
// reliable one ends the connection: the client says goodbye to the server at
// once, keeps what it holds, and ID_CONNECTION_LOST follows it. (ENet sends
// one sequenced packet in 65,536 of a channel reliably, to restart its
// numbering; that one counts as reliable.) One Receive
// reads at most 256 datagrams (ENet's own limit per service) and lets ENet
// hold at most RECEIVE_QUEUE_BYTES of packet data, reassembled fragments
// included; a single packet larger than that is refused by ENet, and the
// connection is lost once the server gives up resending it.
#pragma once

#include <cstdint>
#include <memory>

namespace RakNet {
class BitStream;
}

// Accepted for the interface's sake; ENet has no send priorities, so every
// packet goes out in the order it was sent.
enum PacketPriority {
    HIGH_PRIORITY,
    MEDIUM_PRIORITY,
    LOW_PRIORITY,
};

enum PacketReliability {
    UNRELIABLE,            // may be lost, duplicated or reordered
    UNRELIABLE_SEQUENCED,  // may be lost; older ones are dropped once a newer one arrived
    RELIABLE,              // arrives, order not promised
    RELIABLE_ORDERED,      // arrives, in order with the others of its ordering channel
    RELIABLE_SEQUENCED,    // delivered as reliable and ordered
};

// First byte of the packets the interface makes itself. Ids below
// ID_USER_PACKET_ENUM belong to the interface; applications number their
// messages from there on.
enum : unsigned char {
    ID_CONNECTION_REQUEST_ACCEPTED = 16,
    ID_CONNECTION_ATTEMPT_FAILED = 17,
    ID_DISCONNECTION_NOTIFICATION = 19,
    ID_CONNECTION_LOST = 20,
    ID_USER_PACKET_ENUM = 79,
};

constexpr uint32_t RECEIVE_QUEUE_PACKETS = 1024;
constexpr uint32_t RECEIVE_QUEUE_BYTES = 1u << 20;

// One received message, owned by the interface that returned it until it is
// handed back with DeallocatePacket. An empty message has length 0 and a null
// data pointer.
struct Packet {
    uint32_t length = 0;   // bytes
    uint32_t bitSize = 0;  // length * 8
    unsigned char* data = nullptr;
};

class RakClientInterface {
public:
    RakClientInterface();
    ~RakClientInterface();
    RakClientInterface(const RakClientInterface&) = delete;
    RakClientInterface& operator=(const RakClientInterface&) = delete;

    // Starts an attempt to connect; its outcome arrives later as an accepted or
    // failed packet (an unanswered attempt fails after about 2 s). A port
    // outside 1-65535 (0-65535 for the client port, 0 meaning any), a host
    // that does not resolve, or a socket that cannot be opened fail at once:
    // false, and the failed packet is the next one received. While an attempt
    // or a connection is live, false and nothing changes. The last two
    // arguments are accepted and ignored: there is no network thread.
    bool Connect(const char* host, int32_t serverPort, int32_t clientPort, uint32_t depreciated,
                 int32_t threadSleepTimer);
    // Tells the server goodbye and waits at most blockDuration ms for its
    // acknowledgement, then closes the socket regardless. Packets not yet
    // received are dropped. The ordering channel is accepted and ignored.
    void Disconnect(uint32_t blockDuration, unsigned char orderingChannel = 0);
    // Sends the stream's bytes. Sends made while the attempt is still under way
    // are kept and go out, in order, once the server accepts; they are dropped
    // if it never does. False when there is nothing to send or no attempt or
    // connection.
    bool Send(RakNet::BitStream* bitStream, PacketPriority priority, PacketReliability reliability,
              char orderingChannel);
    bool Send(const char* data, int32_t length, PacketPriority priority, PacketReliability reliability,
              char orderingChannel);
    // Moves the connection on without waiting and returns the oldest packet
    // not yet taken, or null.
    Packet* Receive();
    void DeallocatePacket(Packet* packet);
    bool IsConnected() const;

private:
    struct Connection;
    std::unique_ptr<Connection> connection;
};

class RakNetworkFactory {
public:
    static RakClientInterface* GetRakClientInterface();
    // Closes the connection at once if it is still open; null is allowed.
    static void DestroyRakClientInterface(RakClientInterface* client);
};
