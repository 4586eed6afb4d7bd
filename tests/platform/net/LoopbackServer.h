// Far ends for the network tests: an ENet server on 127.0.0.1 serviced by
// the test itself, a bound UDP port that never answers, and a loop driving
// both sides until a condition holds or time runs out.
#pragma once

#include <enet/enet.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace nettest {

using Bytes = std::vector<unsigned char>;

struct Message {
    Bytes bytes;
    enet_uint8 channel;
    enet_uint32 flags;  // ENet's marks on the received packet
};

class LoopbackServer {
public:
    LoopbackServer() {
        enet_initialize();
        ENetAddress address{};
        enet_address_set_host_ip(&address, "127.0.0.1");
        host = enet_host_create(&address, 4, 64, 0, 0);
        if (host != nullptr && enet_socket_get_address(host->socket, &address) == 0) {
            port = address.port;
        }
    }
    ~LoopbackServer() {
        if (host != nullptr) {
            enet_host_destroy(host);
        }
        enet_deinitialize();
    }

    void service() {
        ENetEvent event;
        while (enet_host_service(host, &event, 0) > 0) {
            if (event.type == ENET_EVENT_TYPE_CONNECT) {
                peer = event.peer;
                ++connects;
            } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                const unsigned char* data = event.packet->data;
                messages.push_back(
                    {Bytes(data, data + event.packet->dataLength), event.channelID, event.packet->flags});
                enet_packet_destroy(event.packet);
            } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
                peer = nullptr;
                ++disconnects;
            }
        }
    }

    // On channel 0, reliable unless other flags are given; out at once, or
    // with the next flush so that a run of small packets shares datagrams.
    void send(const Bytes& bytes, enet_uint32 flags = ENET_PACKET_FLAG_RELIABLE, bool flush = true) {
        ENetPacket* packet = enet_packet_create(bytes.empty() ? nullptr : bytes.data(), bytes.size(), flags);
        if (peer == nullptr || enet_peer_send(peer, 0, packet) < 0) {
            enet_packet_destroy(packet);
            return;
        }
        if (flush) {
            enet_host_flush(host);
        }
    }

    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;  // the client, once it acknowledged the connection
    uint16_t port = 0;
    std::vector<Message> messages;
    int32_t connects = 0;
    int32_t disconnects = 0;
};

// Never read, so nothing answers, and no other test can take the port.
class SilentPort {
public:
    SilentPort() {
        enet_initialize();
        socket = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
        ENetAddress address{};
        enet_address_set_host_ip(&address, "127.0.0.1");
        if (enet_socket_bind(socket, &address) == 0 && enet_socket_get_address(socket, &address) == 0) {
            port = address.port;
        }
    }
    ~SilentPort() {
        enet_socket_destroy(socket);
        enet_deinitialize();
    }

    ENetSocket socket;
    uint16_t port = 0;
};

// Runs step until done() holds; false when the limit passes first.
template <typename Step, typename Done>
bool pumpUntil(Step step, Done done, std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (step(); !done(); step()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace nettest
