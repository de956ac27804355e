#include "check_result_service.h"

#include <QDebug>

CheckResultService::CheckResultService(std::atomic<int> &result)
    : result(result)
{
}

CheckResultService::~CheckResultService()
{
    stopCheckResultServer();
}

bool CheckResultService::startCheckResultServer(unsigned port)
{
    stopCheckResultServer();
    auto server = std::make_unique<Kz::Net::TCPServer>(port, MaxConnections);
    server->setLimits(limits);
    Kz::Net::TCPServer *const serverView = server.get();
    auto service = std::make_unique<Kz::RPC::DispatchService>(server.release());
    service->setServiceName(hix::result::ServiceName);
    service->_add(new Kz::RPC::TDispatcher<void, int>(
        hix::result::MethodName, [this](int value) { responseResult(value); }));
    if (!service->serve()) {
        qWarning() << "check-result service: cannot serve port" << port;
        return false;
    }
    transport = serverView;
    checkResultService = std::move(service);
    return true;
}

void CheckResultService::stopCheckResultServer()
{
    if (!checkResultService)
        return;
    checkResultService->stop();
    checkResultService.reset();
    transport = nullptr;
}

unsigned CheckResultService::port() const
{
    return transport ? transport->port() : 0;
}
