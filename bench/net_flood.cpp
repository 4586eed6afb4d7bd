// The client's network interface against a server that floods it with small
// packets while the client polls once a 20 ms frame, as the game does. The
// server runs in a child process, so the heap figures are the client's alone.
// Prints, once a second and at the end: the client's heap growth, the slowest
// poll, whether the connection stands; then the time the goodbye took
// (Disconnect with its 300 ms and the interface's destruction). Not a test.
//
// Usage: tarnwell_net_flood [seconds] [reliable|sequenced|unsequenced]
//        (default 10 s, reliable)

#include "platform/net/RakClientInterface.h"

#include <enet/enet.h>
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double heapMiB() {
    return double(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

// Sends 200 one-byte packets every 0.2 ms to whoever is connected; never
// returns.
[[noreturn]] void floodServer(ENetHost* server, enet_uint32 flags) {
    ENetPeer* peer = nullptr;
    const unsigned char byte = 100;
    for (;;) {
        ENetEvent event;
        while (enet_host_service(server, &event, 0) > 0) {
            if (event.type == ENET_EVENT_TYPE_CONNECT) {
                peer = event.peer;
            } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
                peer = nullptr;
            } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                enet_packet_destroy(event.packet);
            }
        }
        for (int i = 0; peer != nullptr && i < 200; ++i) {
            ENetPacket* packet = enet_packet_create(&byte, 1, flags);
            if (enet_peer_send(peer, 0, packet) < 0) {
                enet_packet_destroy(packet);
                break;
            }
        }
        enet_host_flush(server);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const char* kind = argc > 2 ? argv[2] : "reliable";
    enet_uint32 flags = ENET_PACKET_FLAG_RELIABLE;
    if (std::strcmp(kind, "sequenced") == 0) {
        flags = 0;
    } else if (std::strcmp(kind, "unsequenced") == 0) {
        flags = ENET_PACKET_FLAG_UNSEQUENCED;
    } else if (std::strcmp(kind, "reliable") != 0) {
        std::fprintf(stderr, "usage: %s [seconds] [reliable|sequenced|unsequenced]\n", argv[0]);
        return 2;
    }

    enet_initialize();
    ENetAddress address{};
    enet_address_set_host_ip(&address, "127.0.0.1");
    ENetHost* server = enet_host_create(&address, 1, 64, 0, 0);
    if (server == nullptr || enet_socket_get_address(server->socket, &address) != 0) {
        std::fprintf(stderr, "no loopback server\n");
        return 1;
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        floodServer(server, flags);
    }
    enet_host_destroy(server);

    RakClientInterface* client = RakNetworkFactory::GetRakClientInterface();
    client->Connect("127.0.0.1", address.port, 0, 0, 0);
    const double heapBefore = heapMiB();
    double worstPoll = 0.0;
    long packets = 0;
    const Clock::time_point start = Clock::now();
    Clock::time_point nextReport = start + std::chrono::seconds(1);
    std::printf("%s flood, one poll every 20 ms\n", kind);
    while (millisecondsSince(start) < seconds * 1000.0) {
        const Clock::time_point pollStart = Clock::now();
        Packet* packet = client->Receive();
        const double poll = millisecondsSince(pollStart);
        worstPoll = poll > worstPoll ? poll : worstPoll;
        if (packet != nullptr) {
            packets += 1;
            client->DeallocatePacket(packet);
        }
        if (Clock::now() >= nextReport) {
            std::printf("%5.1f s  heap %+8.1f MiB  slowest poll %6.1f ms  %s\n",
                        millisecondsSince(start) / 1000.0, heapMiB() - heapBefore, worstPoll,
                        client->IsConnected() ? "connected" : "not connected");
            nextReport += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double heapGrowth = heapMiB() - heapBefore;
    const Clock::time_point goodbye = Clock::now();
    client->Disconnect(300, 0);
    RakNetworkFactory::DestroyRakClientInterface(client);
    const double teardown = millisecondsSince(goodbye);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    enet_deinitialize();
    std::printf("heap %+.1f MiB (%+.2f MiB/s), slowest poll %.1f ms, %ld packets taken, teardown %.1f ms\n",
                heapGrowth, heapGrowth / seconds, worstPoll, packets, teardown);
    return 0;
}
