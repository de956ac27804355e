#pragma once

#include "kz_buffer.h"
#include "kz_string.h"

#include <string>

namespace Kz::RPC {

// The calling side of a DispatchService on this machine: one connection, calls one after the
// other, each waiting at most the time-out for its answer.
class Client
{
public:
    Client() = default;
    ~Client() { close(); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // Connects to 127.0.0.1:port. On failure error says why ("nothing listens on ...").
    bool connect(unsigned port, int timeoutMs, std::string *error);
    // Sends one call and reads its answer. True when the service ran the method; result then
    // holds what it wrote. False with error set otherwise (the service's refusal text, or the
    // transport's failure).
    bool call(const utils::String &service, const utils::String &method,
        const std::string &arguments, std::string *result, std::string *error);
    void close();
    bool isConnected() const { return fd >= 0; }

private:
    bool sendAll(const std::string &bytes, std::string *error);
    bool receiveAll(char *data, std::size_t size, std::string *error);

    int fd = -1;
    int timeoutMs = 0;
};

} // namespace Kz::RPC

// Reporting a package program's result to the updater's check-result service.
namespace hix::result {

constexpr const char *ServiceName = "CheckUpdateResult";
constexpr const char *MethodName = "responseResult";
constexpr unsigned DefaultPort = 10208;

// The input of one responseResult call: the type name, then the value's four bytes.
std::string encodeArgument(int value, const char *typeName = "int");

// Connects, reports value and disconnects. False with error set when nothing listens or the
// service refused the call.
bool report(int value, unsigned port, int timeoutMs, std::string *error);

} // namespace hix::result
