// The client's link to the game server: connects on creation, disconnects on
// deletion, sends the login and prints what the server answers. Nothing here
// waits for the network; the game polls once a frame.
#pragma once

#include "platform/net/RakClientInterface.h"

#include <cstdint>

// The login message id, the first one left to applications; the game's only
// message id.
constexpr int32_t ID_LOGIN = ID_USER_PACKET_ENUM + 1;

class NetworkConnection {
public:
    // Starts connecting to the host at the port text as atoi reads it. The
    // outcome is not awaited: it arrives later as a packet.
    NetworkConnection(const char* host, const char* port);
    // Disconnects, waiting at most 300 ms for the server.
    virtual ~NetworkConnection();
    NetworkConnection(const NetworkConnection&) = delete;
    NetworkConnection& operator=(const NetworkConnection&) = delete;

    // Handles at most one received packet.
    void poll();
    // Prints the login result, or the id of any other packet, to standard
    // output. Nothing for an empty packet or none.
    void handlePacket();
    // The id as four little-endian bytes, then the name and the password, each
    // ended by one 0 byte; null counts as empty. Sent before the server has
    // accepted, it goes out once it has.
    void sendLogin(const char* name, const char* password);
    // True once polling has learnt that the server accepted, until the
    // connection ends.
    bool isConnected() const;

private:
    RakClientInterface* client;  // owned; from and back to the factory
    Packet* packet;              // borrowed from the client while it is handled
};
