#pragma once

#include "kz_server.h"

#include <atomic>
#include <cstddef>
#include <thread>

namespace Kz::Net {

// Frames over TCP on the loopback address only: a result port reachable from the factory network
// would let anyone forge an update's outcome. One background thread serves every connection
// without blocking (poll); every resource a client can make it hold is bounded:
//  - at most maxConnections connections; a new one pushes out the one idle longest, so a crowd of
//    silent connections cannot lock a real client out;
//  - a frame longer than Limits::maxFrame closes the connection before anything is allocated;
//  - a connection silent for idleTimeoutMs, or taking longer than frameTimeoutMs to deliver a
//    frame it has begun, is closed;
//  - a client that does not read its answers is not read from until it does (one answer queued).
class TCPServer : public IServer
{
public:
    struct Limits
    {
        std::size_t maxFrame = 4096;
        int idleTimeoutMs = 10000;
        int frameTimeoutMs = 5000;
    };

    // What the server has seen, for diagnostics and tests.
    struct Stats
    {
        std::atomic<unsigned> accepted { 0 };
        std::atomic<unsigned> open { 0 };
        std::atomic<unsigned> requests { 0 };
        std::atomic<unsigned> badFrames { 0 };
        std::atomic<unsigned> timedOut { 0 };
        std::atomic<unsigned> evicted { 0 };
    };

    // port 0 lets the system choose (see port()); maxConnections 0 counts as 1.
    TCPServer(unsigned port, unsigned maxConnections);
    ~TCPServer() override;
    TCPServer(const TCPServer &) = delete;
    TCPServer &operator=(const TCPServer &) = delete;

    // Takes effect at the next start().
    void setLimits(const Limits &limits) { this->limits = limits; }

    bool start(Handler handler) override;
    void stop() override;
    bool isRunning() const override { return worker.joinable(); }
    unsigned port() const override { return boundPort; }

    const Stats &stats() const { return counters; }

private:
    void run(Handler handler);

    unsigned requestedPort;
    unsigned maxConnections;
    Limits limits;
    unsigned boundPort = 0;
    int listenFd = -1;
    int wakeFd = -1;
    std::thread worker;
    Stats counters;
};

} // namespace Kz::Net
