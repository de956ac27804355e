// libFuzzer target: any bytes as what a program sends to the check-result service.
// The bytes go twice through the service: once as the body of one request (argument decoding of
// "responseResult"), and once as the raw stream of a connection to the real loopback server
// (frame reader, several frames, short and overlong ones), read until the server closes.
#include "dispatch_service.h"
#include "kz_client.h"
#include "tcp_server.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Hands the service's request handler to the fuzzer instead of serving a port.
class CapturingServer : public Kz::Net::IServer
{
public:
    bool start(Handler h) override
    {
        handler = std::move(h);
        return true;
    }
    void stop() override { handler = nullptr; }
    bool isRunning() const override { return bool(handler); }
    unsigned port() const override { return 0; }
    Handler handler;
};

std::atomic<int> reported { 0 };

Kz::RPC::DispatchService *makeService(Kz::Net::IServer *server)
{
    auto *service = new Kz::RPC::DispatchService(server);
    service->setServiceName(hix::result::ServiceName);
    service->_add(new Kz::RPC::TDispatcher<void, int>(
        hix::result::MethodName, [](int value) { reported.store(value); }));
    service->serve();
    return service;
}

// Waits for events on fd; libFuzzer's own timer signal interrupts waits, which then go on.
// A wait of two seconds without any event means the server hangs.
short waitFor(int fd, short events)
{
    for (;;) {
        pollfd wait = { fd, events, 0 };
        const int ready = ::poll(&wait, 1, 2000);
        if (ready > 0)
            return wait.revents;
        if (ready == 0 || errno != EINTR) {
            fprintf(
                stderr, "result_fuzzer: the server %s\n", ready == 0 ? "hangs" : strerror(errno));
            abort();
        }
    }
}

void sendStream(unsigned port, const uint8_t *data, size_t size)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        abort();
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        if (errno != EINPROGRESS && errno != EINTR)
            abort();
        waitFor(fd, POLLOUT);
        int code = 0;
        socklen_t length = sizeof(code);
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0 || code != 0)
            abort();
    }
    size_t done = 0;
    char sink[8192];
    // The server stops reading while an answer waits, so answers are drained while sending.
    while (done < size) {
        pollfd wait = { fd, POLLOUT | POLLIN, 0 };
        wait.revents = waitFor(fd, wait.events);
        if (wait.revents & POLLIN) {
            const ssize_t got = ::recv(fd, sink, sizeof(sink), 0);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
                break; // closed by the server (bad frame)
        }
        if (wait.revents & POLLOUT) {
            const ssize_t sent = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
            if (sent < 0 && errno != EINTR && errno != EAGAIN)
                break;
            if (sent > 0)
                done += size_t(sent);
        }
        if (wait.revents & (POLLHUP | POLLERR))
            break;
    }
    ::shutdown(fd, SHUT_WR);
    // A finished or broken stream must be closed by the server well before its idle time-out.
    for (;;) {
        waitFor(fd, POLLIN);
        const ssize_t got = ::recv(fd, sink, sizeof(sink), 0);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            break;
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static CapturingServer *direct = new CapturingServer;
    static Kz::RPC::DispatchService *directService = makeService(direct);
    static Kz::Net::TCPServer *tcp = [] {
        auto *server = new Kz::Net::TCPServer(0, 4);
        Kz::Net::TCPServer::Limits limits;
        limits.frameTimeoutMs = 1500;
        server->setLimits(limits);
        return server;
    }();
    static Kz::RPC::DispatchService *tcpService = makeService(tcp);
    (void)directService;
    (void)tcpService;
    if (size > 64 * 1024)
        return 0;
    const std::string bytes(reinterpret_cast<const char *>(data), size);

    // Request body with the service and method already named: the argument decoding.
    Kz::utils::Buffer request;
    Kz::utils::String(hix::result::ServiceName).serialize(&request);
    Kz::utils::String(hix::result::MethodName).serialize(&request);
    request.write(bytes.data(), bytes.size());
    const std::string answer = direct->handler(request.data());
    if (answer.empty() || (answer[0] != 0 && answer[0] != 1))
        abort();
    (void)direct->handler(bytes);

    // The decoding of the answers on the calling side.
    Kz::utils::Buffer in(bytes);
    unsigned char status = 0;
    Kz::utils::String message;
    if (in.read(&status, 1))
        (void)message.deserialize(&in);

    sendStream(tcp->port(), data, size);
    return 0;
}
