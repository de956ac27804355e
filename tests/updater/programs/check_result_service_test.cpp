#include "check_result_service.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long elapsedMs(Clock::time_point since)
{
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// A raw loopback socket, closed when it goes out of scope.
class RawSocket
{
public:
    explicit RawSocket(unsigned port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0
            && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~RawSocket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    RawSocket(RawSocket &&other) noexcept
        : fd(other.fd)
    {
        other.fd = -1;
    }
    RawSocket(const RawSocket &) = delete;
    RawSocket &operator=(const RawSocket &) = delete;

    bool isOpen() const { return fd >= 0; }
    int handle() const { return fd; }
    bool send(const std::string &bytes) const
    {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    // Whether the server closed the connection within timeoutMs (reading and dropping any data).
    bool closedByPeer(int timeoutMs) const
    {
        const auto start = Clock::now();
        char sink[256];
        while (elapsedMs(start) < timeoutMs) {
            pollfd wait = { fd, POLLIN, 0 };
            if (::poll(&wait, 1, 50) == 1) {
                const ssize_t got = ::recv(fd, sink, sizeof(sink), 0);
                if (got <= 0)
                    return true;
            }
        }
        return false;
    }

private:
    int fd = -1;
};

std::string frame(const std::string &payload)
{
    std::string bytes;
    Kz::utils::putUInt32(&bytes, std::uint32_t(payload.size()));
    return bytes + payload;
}

std::string reportPayload(int value, const char *typeName = "int")
{
    Kz::utils::Buffer request;
    Kz::utils::String(hix::result::ServiceName).serialize(&request);
    Kz::utils::String(hix::result::MethodName).serialize(&request);
    return request.data() + hix::result::encodeArgument(value, typeName);
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

class CheckResult : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Kz::Net::TCPServer::Limits limits;
        limits.idleTimeoutMs = 3000;
        limits.frameTimeoutMs = 1500;
        service.setLimits(limits);
        ASSERT_TRUE(service.startCheckResultServer(0));
        port = service.port();
        ASSERT_NE(port, 0u);
    }

    bool report(int value, std::string *error = nullptr)
    {
        std::string ignored;
        return hix::result::report(value, port, 2000, error ? error : &ignored);
    }

    std::atomic<int> updateRes { -1 };
    CheckResultService service { updateRes };
    unsigned port = 0;
};

} // namespace

TEST_F(CheckResult, CommandLineClient_ReportsValueIntoResult)
{
    QProcess client;
    client.start(qEnvironmentVariable("HIX_BIN_DIR") + "/hixresult",
        { "--port", QString::number(port), "-3" });
    ASSERT_TRUE(client.waitForFinished(5000));
    EXPECT_EQ(client.exitCode(), 0) << client.readAllStandardError().constData();
    EXPECT_EQ(updateRes.load(), -3);
}

TEST_F(CheckResult, ZeroReported_StoredAsZero)
{
    ASSERT_TRUE(report(0));
    EXPECT_EQ(updateRes.load(), 0);
}

TEST_F(CheckResult, TwoReports_LaterOneCounts)
{
    ASSERT_TRUE(report(5));
    ASSERT_TRUE(report(9));
    EXPECT_EQ(updateRes.load(), 9);
    // The next program starts with nothing reported.
    service.forgetResult();
    EXPECT_EQ(updateRes.load(), CheckResultService::NoResult);
}

TEST_F(CheckResult, TypeNameLong_RefusedWithDeserializeFailed_ValueUnchanged)
{
    ASSERT_TRUE(report(4));
    Kz::RPC::Client client;
    std::string error;
    ASSERT_TRUE(client.connect(port, 2000, &error)) << error;
    EXPECT_FALSE(client.call(hix::result::ServiceName, hix::result::MethodName,
        hix::result::encodeArgument(77, "long"), nullptr, &error));
    EXPECT_EQ(error, "Unpack: deserialize failed");
    EXPECT_EQ(updateRes.load(), 4);
    // The refusal leaves the connection usable.
    EXPECT_TRUE(client.call(hix::result::ServiceName, hix::result::MethodName,
        hix::result::encodeArgument(8), nullptr, &error))
        << error;
    EXPECT_EQ(updateRes.load(), 8);
}

TEST_F(CheckResult, DocumentedBytes_ReportSevenAndGetDocumentedAnswer)
{
    const std::string request = std::string("\x32\x00\x00\x00"
                                            "\x11\x00\x00\x00"
                                            "CheckUpdateResult"
                                            "\x0e\x00\x00\x00"
                                            "responseResult"
                                            "\x03\x00\x00\x00"
                                            "int"
                                            "\x07\x00\x00\x00",
        54);
    RawSocket socket(port);
    ASSERT_TRUE(socket.send(request));
    char answer[9] = {};
    std::size_t got = 0;
    pollfd wait = { socket.handle(), POLLIN, 0 };
    while (got < sizeof(answer) && ::poll(&wait, 1, 2000) == 1) {
        const ssize_t n = ::recv(socket.handle(), answer + got, sizeof(answer) - got, 0);
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    EXPECT_EQ(std::string(answer, got), std::string("\x05\x00\x00\x00\x00\x00\x00\x00\x00", 9));
    EXPECT_EQ(updateRes.load(), 7);
}

TEST_F(CheckResult, WrongServiceOrMethod_Refused)
{
    Kz::RPC::Client client;
    std::string error;
    ASSERT_TRUE(client.connect(port, 2000, &error));
    EXPECT_FALSE(client.call(
        "OtherService", hix::result::MethodName, hix::result::encodeArgument(1), nullptr, &error));
    EXPECT_FALSE(client.call(
        hix::result::ServiceName, "otherMethod", hix::result::encodeArgument(1), nullptr, &error));
    EXPECT_EQ(updateRes.load(), -1);
}

TEST_F(CheckResult, AfterStop_PortNotServedAndClientSaysSo)
{
    service.stopCheckResultServer();
    EXPECT_FALSE(service.isRunning());
    std::string error;
    EXPECT_FALSE(report(1, &error));
    EXPECT_NE(error.find("nothing listens"), std::string::npos) << error;
    EXPECT_EQ(updateRes.load(), -1);

    QProcess client;
    client.start(qEnvironmentVariable("HIX_BIN_DIR") + "/hixresult",
        { "--port", QString::number(port), "1" });
    ASSERT_TRUE(client.waitForFinished(5000));
    EXPECT_NE(client.exitCode(), 0);
    EXPECT_TRUE(client.readAllStandardError().contains("nothing listens on 127.0.0.1:"));
}

TEST_F(CheckResult, PortAlreadyServed_SecondServiceFailsToStart)
{
    std::atomic<int> other { -1 };
    CheckResultService second(other);
    EXPECT_FALSE(second.startCheckResultServer(port));
    EXPECT_FALSE(second.isRunning());
    EXPECT_TRUE(report(2));
    EXPECT_EQ(updateRes.load(), 2);
}

TEST(CheckResultLoopback, ListensOnLoopbackOnly)
{
    std::atomic<int> result { -1 };
    CheckResultService service(result);
    ASSERT_TRUE(service.startCheckResultServer(0));
    // Read the listening socket's address from the kernel's table.
    QFile table(QStringLiteral("/proc/net/tcp"));
    ASSERT_TRUE(table.open(QIODevice::ReadOnly));
    const QByteArray portHex
        = QByteArray::number(service.port(), 16).toUpper().rightJustified(4, '0');
    bool found = false;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1].endsWith(":" + portHex) && fields[3] == "0A") {
            found = true;
            EXPECT_EQ(fields[1], "0100007F:" + portHex);
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(CheckResult, Garbage_ConnectionDroppedAndServiceGoesOn)
{
    ASSERT_TRUE(report(1));
    std::string noise;
    for (int i = 0; i < 3000; ++i)
        noise.push_back(char((i * 7919) % 251 + 3));
    RawSocket garbage(port);
    ASSERT_TRUE(garbage.isOpen());
    garbage.send(noise);
    EXPECT_TRUE(garbage.closedByPeer(2000));
    // A well-framed request with nonsense inside gets an answer, not a crash.
    RawSocket nonsense(port);
    nonsense.send(frame(std::string(100, '\x01')));
    ASSERT_TRUE(report(2));
    EXPECT_EQ(updateRes.load(), 2);
    EXPECT_GE(service.server()->stats().badFrames.load(), 1u);
}

TEST_F(CheckResult, HugeLengthPrefix_ClosedAtOnceWithoutAllocating)
{
    const long before = residentKiB();
    std::vector<RawSocket> huge;
    for (int i = 0; i < 50; ++i) {
        huge.emplace_back(port);
        huge.back().send(std::string("\xff\xff\xff\xff", 4) + "start of a 4 GiB frame");
    }
    for (const RawSocket &socket : huge)
        EXPECT_TRUE(socket.closedByPeer(1000));
    EXPECT_LT(residentKiB() - before, 8 * 1024);
    ASSERT_TRUE(report(6));
    EXPECT_EQ(updateRes.load(), 6);
}

TEST_F(CheckResult, TruncatedFrame_DroppedAfterFrameTimeout_LastValidReportWins)
{
    ASSERT_TRUE(report(11));
    RawSocket truncated(port);
    const std::string whole = frame(reportPayload(99));
    truncated.send(whole.substr(0, whole.size() - 2));
    const auto start = Clock::now();
    EXPECT_TRUE(truncated.closedByPeer(2500)) << "a begun frame has 1.5 s to complete";
    EXPECT_GE(elapsedMs(start), 1200);
    // A frame cut off by the client's close is dropped as well.
    {
        RawSocket cut(port);
        cut.send(whole.substr(0, 9));
    }
    ASSERT_TRUE(report(12));
    EXPECT_EQ(updateRes.load(), 12);
}

TEST_F(CheckResult, ThousandIdleConnections_RealClientStillServedAndStopIsQuick)
{
    // The idle clients and the server's own connections (up to 100) share this process's
    // descriptors: take what the hard limit allows, since a soft limit of 1024 is common.
    rlimit files = {};
    getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 2048 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
        setrlimit(RLIMIT_NOFILE, &files);
        getrlimit(RLIMIT_NOFILE, &files);
    }
    const int count = std::min<long>(1000, long(files.rlim_cur) - 100 - 64);
    ASSERT_GT(count, 200) << "too few file descriptors for this test";
    const long before = residentKiB();
    std::vector<RawSocket> idle;
    idle.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i)
        idle.emplace_back(port);
    const auto start = Clock::now();
    std::string error;
    EXPECT_TRUE(report(21, &error)) << error;
    EXPECT_LT(elapsedMs(start), 1000);
    EXPECT_EQ(updateRes.load(), 21);
    EXPECT_LE(service.server()->stats().open.load(), CheckResultService::MaxConnections);
    EXPECT_GE(service.server()->stats().evicted.load(), unsigned(count) - 100);
    EXPECT_LT(residentKiB() - before, 16 * 1024);

    const auto stopping = Clock::now();
    service.stopCheckResultServer();
    EXPECT_LT(elapsedMs(stopping), 500);
}

TEST_F(CheckResult, OneBytePerSecondClient_CutOffWhileOthersAreServed)
{
    const std::string whole = frame(reportPayload(55));
    std::atomic<bool> cutOff { false };
    std::thread slow([&] {
        RawSocket trickle(port);
        for (std::size_t i = 0; i < whole.size() && !cutOff; ++i) {
            if (!trickle.send(whole.substr(i, 1)) || trickle.closedByPeer(1000))
                cutOff = true;
        }
    });
    const auto start = Clock::now();
    for (int i = 0; i < 5; ++i) {
        const auto call = Clock::now();
        EXPECT_TRUE(report(30 + i));
        EXPECT_LT(elapsedMs(call), 500);
        usleep(200000);
    }
    slow.join();
    EXPECT_TRUE(cutOff.load());
    EXPECT_LT(elapsedMs(start), 5000);
    EXPECT_EQ(updateRes.load(), 34) << "the trickled report never completed";
}

TEST_F(CheckResult, CallerThread_ServiceStartAndStopNeverBlock)
{
    // Open connections in the middle of a frame, then stop: the join must not wait for them.
    std::vector<RawSocket> busy;
    for (int i = 0; i < 20; ++i) {
        busy.emplace_back(port);
        busy.back().send(frame(reportPayload(1)).substr(0, 6));
    }
    auto start = Clock::now();
    service.stopCheckResultServer();
    EXPECT_LT(elapsedMs(start), 300);
    start = Clock::now();
    ASSERT_TRUE(service.startCheckResultServer(0));
    EXPECT_LT(elapsedMs(start), 100);
    port = service.port();
    ASSERT_TRUE(report(3));
    EXPECT_EQ(updateRes.load(), 3);
}

TEST_F(CheckResult, SilentConnection_ClosedAfterIdleTimeout)
{
    service.stopCheckResultServer();
    Kz::Net::TCPServer::Limits limits;
    limits.idleTimeoutMs = 500;
    service.setLimits(limits);
    ASSERT_TRUE(service.startCheckResultServer(0));
    port = service.port();

    RawSocket silent(port);
    Kz::RPC::Client caller;
    std::string error;
    ASSERT_TRUE(caller.connect(port, 2000, &error));
    ASSERT_TRUE(caller.call(hix::result::ServiceName, hix::result::MethodName,
        hix::result::encodeArgument(13), nullptr, &error));
    const auto start = Clock::now();
    EXPECT_TRUE(silent.closedByPeer(2000));
    EXPECT_GE(elapsedMs(start), 300);
    // The caller's connection has gone quiet as well and is closed the same way, once its own
    // idle time (counted from its call, which came later) has passed.
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (service.server()->stats().timedOut.load() < 2u && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(service.server()->stats().timedOut.load(), 2u);
    EXPECT_FALSE(caller.call(hix::result::ServiceName, hix::result::MethodName,
        hix::result::encodeArgument(14), nullptr, &error));
    EXPECT_EQ(updateRes.load(), 13);
}

TEST(CheckResultClient, ListenerThatNeverAnswers_HixresultGivesUpWithMessage)
{
    // A socket that listens but never accepts: the connection completes in the kernel's queue
    // and no answer ever comes.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);

    QProcess client;
    client.start(qEnvironmentVariable("HIX_BIN_DIR") + "/hixresult",
        { "--port", QString::number(ntohs(address.sin_port)), "1" });
    const bool finished = client.waitForFinished(10000);
    ::close(listener);
    ASSERT_TRUE(finished) << "the client must never hang a package program";
    EXPECT_EQ(client.exitCode(), 1);
    EXPECT_TRUE(client.readAllStandardError().contains("no answer in time"));
}
