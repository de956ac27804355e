#include "dispatch_service.h"

#include <cstdio>

namespace Kz::RPC {

namespace {

constexpr unsigned MaxRefusalsReported = 20;

std::string answer(DispatchService::Status status, const std::string &message,
    const std::string &result = std::string())
{
    utils::Buffer out;
    const unsigned char code = status;
    out.write(&code, 1);
    utils::String(message.substr(0, utils::String::MaxLength)).serialize(&out);
    out.write(result.data(), result.size());
    return out.data();
}

} // namespace

DispatchService::DispatchService(Net::IServer *server)
    : transport(server)
{
}

DispatchService::~DispatchService()
{
    stop();
}

void DispatchService::setServiceName(const utils::String &name)
{
    std::lock_guard<std::mutex> guard(lock);
    serviceName = name;
}

void DispatchService::_add(IDispatchable *dispatcher)
{
    std::unique_ptr<IDispatchable> owned(dispatcher);
    if (!owned)
        return;
    std::lock_guard<std::mutex> guard(lock);
    methods[owned->name().str()] = std::move(owned);
}

bool DispatchService::serve()
{
    if (!transport)
        return false;
    return transport->start([this](const std::string &request) { return handle(request); });
}

void DispatchService::stop()
{
    if (transport)
        transport->stop();
}

std::string DispatchService::handle(const std::string &request)
{
    utils::Buffer in(request);
    utils::String service;
    utils::String method;
    if (!service.deserialize(&in) || !method.deserialize(&in))
        return answer(Failed, "Unpack: bad request");

    std::lock_guard<std::mutex> guard(lock);
    if (service != serviceName)
        return answer(Failed, "unknown service " + service.str());
    const auto found = methods.find(method.str());
    if (found == methods.end())
        return answer(Failed, "unknown method " + method.str());
    utils::Buffer arguments(in.rest());
    utils::Buffer result;
    try {
        found->second->invoke(&arguments, &result);
    } catch (const Net::Exception &error) {
        if (refusalsReported < MaxRefusalsReported) {
            ++refusalsReported;
            fprintf(
                stderr, "Kz: %s.%s refused: %s\n", service.c_str(), method.c_str(), error.what());
        }
        return answer(Failed, error.what());
    } catch (const std::exception &error) {
        return answer(Failed, error.what());
    }
    return answer(Ok, std::string(), result.data());
}

} // namespace Kz::RPC
