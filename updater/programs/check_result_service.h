#pragma once

#include "dispatch_service.h"
#include "kz_client.h"
#include "tcp_server.h"

#include <atomic>
#include <memory>

// The check-result service "CheckUpdateResult": while the program loop runs, a program it
// started reports its result number with one call of "responseResult"(int). The call arrives on
// the remote-call library's own thread and only stores the number; the GUI thread reads it after
// the program has ended.
class CheckResultService
{
public:
    static constexpr unsigned DefaultPort = hix::result::DefaultPort;
    // The most connections held at once; the one idle longest makes way for a new one.
    static constexpr unsigned MaxConnections = 100;

    // Reports are stored into result, which must outlive the service.
    explicit CheckResultService(std::atomic<int> &result);
    ~CheckResultService();
    CheckResultService(const CheckResultService &) = delete;
    CheckResultService &operator=(const CheckResultService &) = delete;

    // Serves the port (127.0.0.1 only; 0 lets the system choose, see port()). Returns at once;
    // false when the port cannot be served. A running service is restarted.
    bool startCheckResultServer(unsigned port = DefaultPort);
    // When it returns, no report arrives any more and the port is closed. Safe to repeat.
    void stopCheckResultServer();

    bool isRunning() const { return checkResultService != nullptr; }
    // The port served, 0 when stopped.
    unsigned port() const;
    // The transport, for its limits and counters (null when stopped).
    Kz::Net::TCPServer *server() const { return transport; }

    // The value of "nothing reported". Set before each program starts, so that a program that
    // reports nothing is never judged by the report of the one before it.
    static constexpr int NoResult = -1;
    void forgetResult() { result.store(NoResult); }

    // Stores a reported result.
    void responseResult(int value)
    {
        result.store(value);
        reports.fetch_add(1);
    }
    // How many results were reported since the service object was made, so that a program that
    // reported nothing is told apart from one that reported the value of "nothing reported".
    unsigned reportCount() const { return reports.load(); }

    // Limits for the next start (tests shorten the time-outs).
    void setLimits(const Kz::Net::TCPServer::Limits &limits) { this->limits = limits; }

private:
    std::atomic<int> &result;
    std::atomic<unsigned> reports { 0 };
    Kz::Net::TCPServer::Limits limits;
    std::unique_ptr<Kz::RPC::DispatchService> checkResultService;
    Kz::Net::TCPServer *transport = nullptr;
};
