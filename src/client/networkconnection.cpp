#include "client/networkconnection.h"

#include "platform/net/BitStream.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Reads like atoi (leading blanks, a sign, digits, anything after ignored;
// no digits give 0), but a value beyond int gives -1 instead of atoi's
// undefined result, which could wrap into a valid port.
int32_t portFromText(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    errno = 0;
    const long value = std::strtol(text, nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        return -1;
    }
    return static_cast<int32_t>(value);
}

void printLine(const char* format, int32_t value) {
    std::printf(format, value);
    std::fflush(stdout);
}

void writeText(RakNet::BitStream& stream, const char* text) {
    const char* value = text != nullptr ? text : "";
    stream.Write(value, static_cast<int32_t>(std::strlen(value) + 1));
}

}  // namespace

NetworkConnection::NetworkConnection(const char* host, const char* port)
    : client(RakNetworkFactory::GetRakClientInterface()), packet(nullptr) {
    client->Connect(host, portFromText(port), 0, 0, 0);
}

NetworkConnection::~NetworkConnection() {
    client->Disconnect(300, 0);
    RakNetworkFactory::DestroyRakClientInterface(client);
}

void NetworkConnection::poll() {
    packet = client->Receive();
    if (packet == nullptr) {
        return;
    }
    handlePacket();
    client->DeallocatePacket(packet);
    packet = nullptr;
}

void NetworkConnection::handlePacket() {
    if (packet == nullptr || packet->length == 0 || packet->data == nullptr) {
        return;
    }
    const int32_t id = packet->data[0];
    // A login reply too short to carry its result is no reply.
    if (id == ID_LOGIN && packet->length >= 2) {
        const int32_t result = packet->data[1];
        printLine("\nIncoming Login result: %i\n", result);
        std::fputs(result != 0 ? "Login successful!\n" : "Login failed!\n", stdout);
        std::fflush(stdout);
        return;
    }
    printLine("Unhandled packet (not a problem): %i\n", id);
}

void NetworkConnection::sendLogin(const char* name, const char* password) {
    RakNet::BitStream stream;
    stream.Write(ID_LOGIN);
    writeText(stream, name);
    writeText(stream, password);
    client->Send(&stream, MEDIUM_PRIORITY, RELIABLE_ORDERED, 0);
}

bool NetworkConnection::isConnected() const {
    return client->IsConnected();
}
