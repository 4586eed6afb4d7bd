// Test ends for the client network layer: an ENet server on 127.0.0.1 that
// the test services itself, a UDP port where nothing ever answers, and a
// loop that drives both sides until a condition holds or time runs out.
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
  enet_uint8 channel = 0;
  enet_uint32 flags = 0;  // as ENet marks the received packet: reliable, unsequenced or neither
};

class LoopbackServer {
public:
  LoopbackServer() {
    enet_initialize();
    ENetAddress address{};
    enet_address_set_host_ip(&address, "127.0.0.1");
    address.port = 0;
    host = enet_host_create(&address, 4, 64, 0, 0);
    ENetAddress bound{};
    if (host != nullptr && enet_socket_get_address(host->socket, &bound) == 0) {
      port = bound.port;
    }
  }
  ~LoopbackServer() {
    if (host != nullptr) {
      enet_host_destroy(host);
    }
    enet_deinitialize();
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  void service() {
    ENetEvent event;
    while (enet_host_service(host, &event, 0) > 0) {
      switch (event.type) {
        case ENET_EVENT_TYPE_CONNECT:
          peer = event.peer;
          ++connects;
          break;
        case ENET_EVENT_TYPE_RECEIVE: {
          const unsigned char* data = event.packet->data;
          Bytes bytes(data, data + event.packet->dataLength);
          messages.push_back({bytes, event.channelID, event.packet->flags});
          enet_packet_destroy(event.packet);
          break;
        }
        case ENET_EVENT_TYPE_DISCONNECT:
          peer = nullptr;
          ++disconnects;
          break;
        case ENET_EVENT_TYPE_NONE:
        default:
          break;
      }
    }
  }

  // Reliable, on channel 0, out at once.
  void send(const Bytes& bytes) {
    ENetPacket* packet =
        enet_packet_create(bytes.empty() ? nullptr : bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
    if (peer == nullptr || enet_peer_send(peer, 0, packet) < 0) {
      enet_packet_destroy(packet);
      return;
    }
    enet_host_flush(host);
  }

  void disconnectClient() {
    if (peer != nullptr) {
      enet_peer_disconnect(peer, 0);
      enet_host_flush(host);
    }
  }

  ENetHost* host = nullptr;
  ENetPeer* peer = nullptr;  // the last client connected
  uint16_t port = 0;
  std::vector<Message> messages;
  int32_t connects = 0;
  int32_t disconnects = 0;
};

// A bound UDP socket that is never read: datagrams sent to it go unanswered,
// and no other test can take its port meanwhile.
class SilentPort {
public:
  SilentPort() {
    enet_initialize();
    socket = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
    ENetAddress address{};
    enet_address_set_host_ip(&address, "127.0.0.1");
    address.port = 0;
    ENetAddress bound{};
    if (socket != ENET_SOCKET_NULL && enet_socket_bind(socket, &address) == 0 &&
        enet_socket_get_address(socket, &bound) == 0) {
      port = bound.port;
    }
  }
  ~SilentPort() {
    if (socket != ENET_SOCKET_NULL) {
      enet_socket_destroy(socket);
    }
    enet_deinitialize();
  }
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;

  ENetSocket socket = ENET_SOCKET_NULL;
  uint16_t port = 0;
};

// Runs step until done() holds; false when the limit passes first.
template <typename Step, typename Done>
bool pumpUntil(Step step, Done done, std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    step();
    if (done()) {
      return true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace nettest
