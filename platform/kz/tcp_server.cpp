#include "tcp_server.h"

#include "kz_buffer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <list>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Kz::Net {

namespace {

using Clock = std::chrono::steady_clock;

// Accepting in bursts keeps one busy client from starving the others in a round.
constexpr int AcceptBurst = 1024;

struct Connection
{
    explicit Connection(int fd)
        : fd(fd)
        , lastActivity(Clock::now())
    {
    }
    ~Connection()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    int fd;
    std::string input;
    std::string output;
    Clock::time_point lastActivity;
    Clock::time_point frameStart;
    bool inFrame = false;
    bool peerClosed = false;
};

long msUntil(Clock::time_point deadline, Clock::time_point now)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
}

} // namespace

TCPServer::TCPServer(unsigned port, unsigned maxConnections)
    : requestedPort(port)
    , maxConnections(std::max(1u, maxConnections))
{
}

TCPServer::~TCPServer()
{
    stop();
}

bool TCPServer::start(Handler handler)
{
    if (isRunning())
        return true;
    if (!handler || requestedPort > 65535)
        return false;
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd < 0)
        return false;
    const int on = 1;
    setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(requestedPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listenFd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0
        || ::listen(listenFd, SOMAXCONN) != 0
        || ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        fprintf(stderr, "Kz: cannot serve 127.0.0.1:%u: %s\n", requestedPort, strerror(errno));
        ::close(listenFd);
        listenFd = -1;
        return false;
    }
    boundPort = ntohs(address.sin_port);
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        ::close(listenFd);
        listenFd = -1;
        return false;
    }
    worker = std::thread(&TCPServer::run, this, std::move(handler));
    return true;
}

void TCPServer::stop()
{
    if (!worker.joinable())
        return;
    const std::uint64_t one = 1;
    while (::write(wakeFd, &one, sizeof(one)) < 0 && errno == EINTR) { }
    worker.join();
    ::close(wakeFd);
    ::close(listenFd);
    wakeFd = listenFd = -1;
}

void TCPServer::run(Handler handler)
{
    const std::size_t maxFrame = limits.maxFrame;
    const auto idleTimeout = std::chrono::milliseconds(limits.idleTimeoutMs);
    const auto frameTimeout = std::chrono::milliseconds(limits.frameTimeoutMs);
    std::list<Connection> connections;
    std::vector<pollfd> fds;
    std::vector<Connection *> polled;
    std::vector<char> chunk(maxFrame + 4);

    auto closeConnection = [&](std::list<Connection>::iterator it) {
        --counters.open;
        return connections.erase(it);
    };

    for (;;) {
        const Clock::time_point now = Clock::now();
        long timeout = 1000;
        fds.clear();
        polled.clear();
        fds.push_back({ wakeFd, POLLIN, 0 });
        fds.push_back({ listenFd, POLLIN, 0 });
        for (Connection &c : connections) {
            short events = c.output.empty() ? POLLIN : POLLOUT;
            if (c.peerClosed && c.output.empty())
                events = 0;
            fds.push_back({ c.fd, events, 0 });
            polled.push_back(&c);
            timeout = std::min(timeout, msUntil(c.lastActivity + idleTimeout, now));
            if (c.inFrame)
                timeout = std::min(timeout, msUntil(c.frameStart + frameTimeout, now));
        }
        const int ready = ::poll(fds.data(), fds.size(), int(std::max(0L, timeout) + 1));
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;

        if (fds[1].revents & POLLIN) {
            for (int i = 0; i < AcceptBurst; ++i) {
                const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                    break;
                ++counters.accepted;
                if (connections.size() >= maxConnections) {
                    auto oldest = std::min_element(connections.begin(), connections.end(),
                        [](const Connection &a, const Connection &b) {
                            return a.lastActivity < b.lastActivity;
                        });
                    // Connections accepted in this round are not in polled[]; keep it valid by
                    // only clearing the slot of one that is.
                    std::replace(
                        polled.begin(), polled.end(), &*oldest, static_cast<Connection *>(nullptr));
                    closeConnection(oldest);
                    ++counters.evicted;
                }
                connections.emplace_back(fd);
                ++counters.open;
            }
        }

        for (std::size_t i = 0; i < polled.size(); ++i) {
            Connection *c = polled[i];
            const short revents = fds[i + 2].revents;
            if (!c || !revents)
                continue;
            bool drop = false;
            if ((revents & POLLOUT) && !c->output.empty()) {
                const ssize_t sent
                    = ::send(c->fd, c->output.data(), c->output.size(), MSG_NOSIGNAL);
                if (sent > 0) {
                    c->output.erase(0, std::size_t(sent));
                    c->lastActivity = Clock::now();
                } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
                    drop = true;
                }
            }
            if (!drop && (revents & (POLLIN | POLLHUP | POLLERR)) && c->output.empty()
                && !c->peerClosed) {
                // Never more than one frame (header included) is held for a connection.
                const std::size_t room = maxFrame + 4 - c->input.size();
                const ssize_t got = ::recv(c->fd, chunk.data(), room, 0);
                if (got > 0) {
                    c->input.append(chunk.data(), std::size_t(got));
                    c->lastActivity = Clock::now();
                    if (!c->inFrame) {
                        c->inFrame = true;
                        c->frameStart = c->lastActivity;
                    }
                } else if (got == 0) {
                    c->peerClosed = true;
                } else if (errno != EAGAIN && errno != EINTR) {
                    drop = true;
                }
            }
            // Answers go out before the next request of the same client is taken.
            while (!drop && c->output.empty() && c->input.size() >= 4) {
                const std::uint32_t length = utils::getUInt32(c->input.data());
                if (length == 0 || length > maxFrame) {
                    ++counters.badFrames;
                    drop = true;
                    break;
                }
                if (c->input.size() < 4 + std::size_t(length))
                    break;
                const std::string request = c->input.substr(4, length);
                c->input.erase(0, 4 + std::size_t(length));
                c->inFrame = !c->input.empty();
                c->frameStart = Clock::now();
                ++counters.requests;
                std::string answer;
                try {
                    answer = handler(request);
                } catch (...) {
                    answer.clear();
                }
                utils::putUInt32(&c->output, std::uint32_t(answer.size()));
                c->output += answer;
                const ssize_t sent
                    = ::send(c->fd, c->output.data(), c->output.size(), MSG_NOSIGNAL);
                if (sent > 0)
                    c->output.erase(0, std::size_t(sent));
                else if (sent < 0 && errno != EAGAIN && errno != EINTR)
                    drop = true;
            }
            if (!drop && c->peerClosed && c->output.empty())
                drop = true;
            if (drop) {
                for (auto it = connections.begin(); it != connections.end(); ++it) {
                    if (&*it == c) {
                        closeConnection(it);
                        break;
                    }
                }
            }
        }

        const Clock::time_point later = Clock::now();
        for (auto it = connections.begin(); it != connections.end();) {
            if (later - it->lastActivity >= idleTimeout
                || (it->inFrame && later - it->frameStart >= frameTimeout)) {
                ++counters.timedOut;
                it = closeConnection(it);
            } else {
                ++it;
            }
        }
    }
    counters.open = 0;
}

} // namespace Kz::Net
