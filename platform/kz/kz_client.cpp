#include "kz_client.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Kz::RPC {

namespace {

constexpr std::uint32_t MaxAnswer = 4096;

std::string systemError(const char *what, int code)
{
    return std::string(what) + ": " + strerror(code);
}

} // namespace

bool Client::connect(unsigned port, int timeoutMs, std::string *error)
{
    close();
    this->timeoutMs = timeoutMs;
    const std::string where = "127.0.0.1:" + std::to_string(port);
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = systemError("socket", errno);
        return false;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int code = 0;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        code = errno;
        if (code == EINPROGRESS) {
            pollfd wait = { fd, POLLOUT, 0 };
            const int ready = ::poll(&wait, 1, timeoutMs);
            socklen_t length = sizeof(code);
            if (ready == 1)
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length);
            else
                code = ready == 0 ? ETIMEDOUT : errno;
        }
    }
    if (code != 0) {
        *error = code == ECONNREFUSED ? "nothing listens on " + where
                                      : "cannot connect to " + where + ": " + strerror(code);
        close();
        return false;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    return true;
}

bool Client::call(const utils::String &service, const utils::String &method,
    const std::string &arguments, std::string *result, std::string *error)
{
    if (fd < 0) {
        *error = "not connected";
        return false;
    }
    utils::Buffer request;
    service.serialize(&request);
    method.serialize(&request);
    request.write(arguments.data(), arguments.size());
    std::string frame;
    utils::putUInt32(&frame, std::uint32_t(request.data().size()));
    frame += request.data();
    char header[4];
    if (!sendAll(frame, error) || !receiveAll(header, sizeof(header), error))
        return false;
    const std::uint32_t length = utils::getUInt32(header);
    if (length == 0 || length > MaxAnswer) {
        *error = "malformed answer";
        close();
        return false;
    }
    std::string body(length, '\0');
    if (!receiveAll(body.data(), length, error))
        return false;
    utils::Buffer answer(body);
    unsigned char status = 1;
    utils::String message;
    if (!answer.read(&status, 1) || !message.deserialize(&answer)) {
        *error = "malformed answer";
        return false;
    }
    if (status != 0) {
        *error = message.str();
        return false;
    }
    if (result)
        *result = answer.rest();
    return true;
}

void Client::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool Client::sendAll(const std::string &bytes, std::string *error)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent > 0) {
            done += std::size_t(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        pollfd wait = { fd, POLLOUT, 0 };
        if (sent < 0 && errno == EAGAIN && ::poll(&wait, 1, timeoutMs) == 1)
            continue;
        *error = sent < 0 && errno != EAGAIN ? systemError("send", errno) : "send timed out";
        close();
        return false;
    }
    return true;
}

bool Client::receiveAll(char *data, std::size_t size, std::string *error)
{
    std::size_t done = 0;
    while (done < size) {
        pollfd wait = { fd, POLLIN, 0 };
        const int ready = ::poll(&wait, 1, timeoutMs);
        if (ready <= 0) {
            if (ready < 0 && errno == EINTR)
                continue;
            *error = ready == 0 ? "no answer in time" : systemError("poll", errno);
            close();
            return false;
        }
        const ssize_t got = ::recv(fd, data + done, size - done, 0);
        if (got > 0) {
            done += std::size_t(got);
        } else if (got == 0) {
            *error = "the service closed the connection";
            close();
            return false;
        } else if (errno != EINTR && errno != EAGAIN) {
            *error = systemError("recv", errno);
            close();
            return false;
        }
    }
    return true;
}

} // namespace Kz::RPC

namespace hix::result {

std::string encodeArgument(int value, const char *typeName)
{
    Kz::utils::Buffer arguments;
    Kz::utils::String(typeName).serialize(&arguments);
    std::string raw;
    Kz::utils::putUInt32(&raw, std::uint32_t(std::int32_t(value)));
    arguments.write(raw.data(), raw.size());
    return arguments.data();
}

bool report(int value, unsigned port, int timeoutMs, std::string *error)
{
    Kz::RPC::Client client;
    return client.connect(port, timeoutMs, error)
        && client.call(ServiceName, MethodName, encodeArgument(value), nullptr, error);
}

} // namespace hix::result
