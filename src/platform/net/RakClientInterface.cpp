#include "platform/net/RakClientInterface.h"

#include "platform/net/BitStream.h"

#include <enet/enet.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace {

// Ordering channels 0 to 31; one more channel carries the unordered traffic
// so that it never holds up, or waits for, an ordered stream.
constexpr size_t ORDERING_CHANNELS = 32;
constexpr size_t CHANNEL_COUNT = ORDERING_CHANNELS + 1;
// An unanswered attempt gives up after this long. ENet's own time-out only
// strikes when a resend falls due, which with its doubling intervals can be
// well after the bound, so the attempt also keeps its own clock. Once
// connected, ENet's (longer) defaults apply, so a slow frame does not drop
// the connection.
constexpr enet_uint32 ATTEMPT_TIMEOUT_MS = 2000;
constexpr int32_t LAST_PORT = 65535;

// ENet's global set-up is shared by every interface alive at the same time.
std::mutex libraryMutex;
int32_t libraryUsers = 0;

bool acquireLibrary() {
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (libraryUsers == 0 && enet_initialize() != 0) {
        return false;
    }
    ++libraryUsers;
    return true;
}

void releaseLibrary() {
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (--libraryUsers == 0) {
        enet_deinitialize();
    }
}

// A packet handed out owns its bytes; giving it back frees both at once.
struct OwnedPacket : Packet {
    std::vector<unsigned char> bytes;
    bool fromServer = false;  // counts against the bound; notices do not
};

OwnedPacket* makePacket(const unsigned char* data, size_t length) {
    OwnedPacket* packet = new OwnedPacket;
    if (data != nullptr && length > 0) {
        packet->bytes.assign(data, data + length);
        packet->data = packet->bytes.data();
    }
    packet->length = static_cast<uint32_t>(packet->bytes.size());
    packet->bitSize = packet->length * 8;
    return packet;
}

// Host text that cannot be a name or an address fails without a lookup, so
// garbage from a settings file never waits on a name server.
bool isHostText(const char* host) {
    if (host == nullptr || *host == '\0') {
        return false;
    }
    for (const char* c = host; *c != '\0'; ++c) {
        const unsigned char ch = static_cast<unsigned char>(*c);
        const bool allowed = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                             (ch >= '0' && ch <= '9') || ch == '.' || ch == '-' || ch == '_';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

}  // namespace

struct RakClientInterface::Connection {
    enum class State { Idle, Connecting, Connected };

    struct PendingSend {
        std::vector<unsigned char> bytes;
        PacketReliability reliability;
        unsigned char orderingChannel;
    };

    bool libraryReady = false;
    State state = State::Idle;
    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;  // the server; null unless an attempt or connection is live
    enet_uint32 attemptStart = 0;
    std::deque<PendingSend> pendingSends;
    std::deque<std::unique_ptr<OwnedPacket>> received;
    // The server's packets in `received` and their bytes; notices not counted.
    size_t heldPackets = 0;
    size_t heldBytes = 0;
    // A reliable packet found no room: the connection ends after this service.
    bool overflowed = false;

    void pushNotice(unsigned char id) { received.emplace_back(makePacket(&id, 1)); }

    void hold(const ENetPacket& packet) {
        std::unique_ptr<OwnedPacket> owned(makePacket(packet.data, packet.dataLength));
        owned->fromServer = true;
        received.push_back(std::move(owned));
        heldPackets += 1;
        heldBytes += packet.dataLength;
    }

    void forget(const OwnedPacket& packet) {
        if (packet.fromServer) {
            heldPackets -= 1;
            heldBytes -= packet.length;
        }
    }

    void clearReceived() {
        received.clear();
        heldPackets = 0;
        heldBytes = 0;
    }

    // Ends whatever is live without a word to the server.
    void close() {
        if (host != nullptr) {
            enet_host_destroy(host);
        }
        host = nullptr;
        peer = nullptr;
        state = State::Idle;
        pendingSends.clear();
    }

    bool sendNow(const unsigned char* data, size_t length, PacketReliability reliability,
                 unsigned char orderingChannel) {
        // The server may have granted fewer channels than asked for; everything
        // then folds into the channels there are.
        const size_t lastChannel = peer->channelCount - 1;
        const size_t ordered = std::min<size_t>({orderingChannel, ORDERING_CHANNELS - 1, lastChannel});
        enet_uint32 flags = ENET_PACKET_FLAG_RELIABLE;
        size_t channel = ordered;
        switch (reliability) {
            case UNRELIABLE:
                flags = ENET_PACKET_FLAG_UNSEQUENCED;
                channel = lastChannel;
                break;
            case UNRELIABLE_SEQUENCED:
                flags = 0;
                break;
            case RELIABLE:
                channel = lastChannel;
                break;
            case RELIABLE_ORDERED:
            case RELIABLE_SEQUENCED:
            default:
                break;
        }
        ENetPacket* packet = enet_packet_create(data, length, flags);
        if (packet == nullptr) {
            return false;
        }
        if (enet_peer_send(peer, static_cast<enet_uint8>(channel), packet) < 0) {
            // Refused before ENet took a reference: still ours to free.
            if (packet->referenceCount == 0) {
                enet_packet_destroy(packet);
            }
            return false;
        }
        return true;
    }

    void onEvent(const ENetEvent& event, enet_uint32 datagramsBefore) {
        switch (event.type) {
            case ENET_EVENT_TYPE_CONNECT: {
                state = State::Connected;
                enet_peer_timeout(peer, 0, 0, 0);  // back to ENet's defaults
                pushNotice(ID_CONNECTION_REQUEST_ACCEPTED);
                for (const PendingSend& send : pendingSends) {
                    sendNow(send.bytes.data(), send.bytes.size(), send.reliability, send.orderingChannel);
                }
                pendingSends.clear();
                enet_host_flush(host);
                break;
            }
            case ENET_EVENT_TYPE_RECEIVE: {
                const size_t length = event.packet->dataLength;
                if (heldPackets < RECEIVE_QUEUE_PACKETS && length <= RECEIVE_QUEUE_BYTES - heldBytes) {
                    hold(*event.packet);
                } else if ((event.packet->flags & ENET_PACKET_FLAG_RELIABLE) != 0) {
                    // Already acknowledged, so dropping it would break the promise
                    // made to the server; ending the connection keeps it honest.
                    overflowed = true;
                }
                enet_packet_destroy(event.packet);
                break;
            }
            case ENET_EVENT_TYPE_DISCONNECT: {
                // ENet reports a goodbye and a time-out alike. A goodbye comes in a
                // datagram of the same service call; a time-out is the absence of any.
                unsigned char id = ID_CONNECTION_ATTEMPT_FAILED;
                if (state == State::Connected) {
                    id = host->totalReceivedPackets != datagramsBefore ? ID_DISCONNECTION_NOTIFICATION
                                                                       : ID_CONNECTION_LOST;
                }
                state = State::Idle;
                peer = nullptr;
                pendingSends.clear();
                pushNotice(id);
                break;
            }
            case ENET_EVENT_TYPE_NONE:
            default:
                break;
        }
    }

    void service() {
        if (host == nullptr || state == State::Idle) {
            return;
        }
        const enet_uint32 datagramsBefore = host->totalReceivedPackets;
        ENetEvent event;
        int result = enet_host_service(host, &event, 0);
        while (result > 0) {
            onEvent(event, datagramsBefore);
            if (overflowed) {
                break;  // before taking an event that would then be ours to free
            }
            result = enet_host_check_events(host, &event);
        }
        if (overflowed) {
            overflowed = false;
            if (peer != nullptr) {
                enet_peer_disconnect_now(peer, 0);
            }
            close();
            pushNotice(ID_CONNECTION_LOST);
            return;
        }
        if (state == State::Connecting && enet_time_get() - attemptStart >= ATTEMPT_TIMEOUT_MS) {
            enet_peer_disconnect(peer, 0);
            state = State::Idle;
            peer = nullptr;
            pendingSends.clear();
            pushNotice(ID_CONNECTION_ATTEMPT_FAILED);
        }
    }
};

RakClientInterface::RakClientInterface() : connection(new Connection) {
    connection->libraryReady = acquireLibrary();
}

RakClientInterface::~RakClientInterface() {
    if (connection->state == Connection::State::Connected) {
        enet_peer_disconnect_now(connection->peer, 0);
    }
    connection->close();
    if (connection->libraryReady) {
        releaseLibrary();
    }
}

bool RakClientInterface::Connect(const char* host, int32_t serverPort, int32_t clientPort, uint32_t,
                                 int32_t) {
    Connection& c = *connection;
    if (c.state != Connection::State::Idle) {
        return false;
    }
    c.close();
    ENetAddress server{};
    // The ports are checked before they are narrowed, so 65536 cannot become 0.
    const bool valid = c.libraryReady && serverPort >= 1 && serverPort <= LAST_PORT && clientPort >= 0 &&
                       clientPort <= LAST_PORT && isHostText(host) &&
                       enet_address_set_host(&server, host) == 0;
    if (valid) {
        server.port = static_cast<enet_uint16>(serverPort);
        ENetAddress local{};
        local.host = ENET_HOST_ANY;
        local.port = static_cast<enet_uint16>(clientPort);
        c.host = enet_host_create(clientPort != 0 ? &local : nullptr, 1, CHANNEL_COUNT, 0, 0);
        if (c.host != nullptr) {
            // ENet's own buffers (packets it reassembles or holds back for their
            // order) within the same bound as ours; its defaults are 32 MiB.
            c.host->maximumPacketSize = RECEIVE_QUEUE_BYTES;
            c.host->maximumWaitingData = RECEIVE_QUEUE_BYTES;
            c.peer = enet_host_connect(c.host, &server, CHANNEL_COUNT, 0);
        }
    }
    if (c.peer == nullptr) {
        c.close();
        c.pushNotice(ID_CONNECTION_ATTEMPT_FAILED);
        return false;
    }
    enet_peer_timeout(c.peer, 0, ATTEMPT_TIMEOUT_MS, ATTEMPT_TIMEOUT_MS);
    enet_host_flush(c.host);
    c.attemptStart = enet_time_get();
    c.state = Connection::State::Connecting;
    return true;
}

void RakClientInterface::Disconnect(uint32_t blockDuration, unsigned char) {
    Connection& c = *connection;
    if (c.state == Connection::State::Connected && blockDuration > 0) {
        // Later rather than at once: what is still queued goes out first, within
        // the same bound.
        enet_peer_disconnect_later(c.peer, 0);
        const enet_uint32 start = enet_time_get();
        bool acknowledged = false;
        while (!acknowledged) {
            const enet_uint32 elapsed = enet_time_get() - start;
            if (elapsed >= blockDuration) {
                break;
            }
            ENetEvent event;
            const int result = enet_host_service(c.host, &event, blockDuration - elapsed);
            if (result < 0) {
                break;
            }
            if (result > 0 && event.type == ENET_EVENT_TYPE_RECEIVE) {
                enet_packet_destroy(event.packet);
            }
            acknowledged = result > 0 && event.type == ENET_EVENT_TYPE_DISCONNECT;
        }
        if (!acknowledged) {
            enet_peer_reset(c.peer);
        }
    } else if (c.state == Connection::State::Connected) {
        enet_peer_disconnect_now(c.peer, 0);
    } else if (c.state == Connection::State::Connecting) {
        // Nothing to wait for: ENet sends one unacknowledged goodbye and forgets
        // the attempt.
        enet_peer_disconnect(c.peer, 0);
    }
    c.close();
    c.clearReceived();
}

bool RakClientInterface::Send(RakNet::BitStream* bitStream, PacketPriority priority,
                              PacketReliability reliability, char orderingChannel) {
    if (bitStream == nullptr) {
        return false;
    }
    return Send(reinterpret_cast<const char*>(bitStream->GetData()), bitStream->GetNumberOfBytesUsed(),
                priority, reliability, orderingChannel);
}

bool RakClientInterface::Send(const char* data, int32_t length, PacketPriority, PacketReliability reliability,
                              char orderingChannel) {
    Connection& c = *connection;
    if (data == nullptr || length < 1) {
        return false;
    }
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    const unsigned char channel = static_cast<unsigned char>(orderingChannel);
    switch (c.state) {
        case Connection::State::Connecting:
            c.pendingSends.push_back(
                {std::vector<unsigned char>(bytes, bytes + length), reliability, channel});
            return true;
        case Connection::State::Connected: {
            const bool sent = c.sendNow(bytes, static_cast<size_t>(length), reliability, channel);
            enet_host_flush(c.host);
            return sent;
        }
        case Connection::State::Idle:
        default:
            return false;
    }
}

Packet* RakClientInterface::Receive() {
    Connection& c = *connection;
    c.service();
    if (c.received.empty()) {
        return nullptr;
    }
    OwnedPacket* packet = c.received.front().release();
    c.received.pop_front();
    c.forget(*packet);
    return packet;
}

void RakClientInterface::DeallocatePacket(Packet* packet) {
    // Every packet handed out was made by makePacket.
    delete static_cast<OwnedPacket*>(packet);
}

bool RakClientInterface::IsConnected() const {
    return connection->state == Connection::State::Connected;
}

RakClientInterface* RakNetworkFactory::GetRakClientInterface() {
    return new RakClientInterface;
}

void RakNetworkFactory::DestroyRakClientInterface(RakClientInterface* client) {
    delete client;
}
