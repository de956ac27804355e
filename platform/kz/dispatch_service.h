#pragma once

#include "kz_buffer.h"
#include "kz_exception.h"
#include "kz_server.h"
#include "kz_string.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

namespace Kz::RPC {

// One method that a service offers.
class IDispatchable
{
public:
    virtual ~IDispatchable() = default;
    virtual utils::String name() const = 0;
    virtual int argsNum() const = 0;
    virtual std::vector<utils::String> argsName() const = 0;
    virtual utils::String resultName() const = 0;
    // Decodes the arguments from in, calls the method and writes its result to out.
    // Throws Net::Exception("Unpack", "deserialize failed") when the arguments do not decode.
    virtual void invoke(utils::IBuffer *in, utils::IBuffer *out) = 0;
};

// How a value of type T travels: its type name, then its bytes.
template<typename T> struct TypeCodec;

template<> struct TypeCodec<void>
{
    static const char *name() { return "void"; }
};

template<> struct TypeCodec<int>
{
    static const char *name() { return "int"; }
    // Four bytes, little-endian, as the panel stores an int.
    static bool read(utils::IBuffer *in, int *value)
    {
        char raw[4];
        if (!in->read(raw, sizeof(raw)))
            return false;
        *value = int(std::int32_t(utils::getUInt32(raw)));
        return true;
    }
    static void write(utils::IBuffer *out, int value)
    {
        std::string raw;
        utils::putUInt32(&raw, std::uint32_t(std::int32_t(value)));
        out->write(raw.data(), raw.size());
    }
};

// Each argument is its type name (a utils::String) followed by its value; a missing buffer, a
// type name that is not the expected one or a short value is refused before anything is called.
template<typename T> T unpackArgument(utils::IBuffer *in)
{
    utils::String typeName;
    T value {};
    if (!in || !typeName.deserialize(in) || typeName != utils::String(TypeCodec<T>::name())
        || !TypeCodec<T>::read(in, &value))
        throw Net::Exception("Unpack", "deserialize failed");
    return value;
}

template<typename R, typename... Args> class TDispatcher : public IDispatchable
{
public:
    using Function = std::function<R(Args...)>;

    TDispatcher(utils::String name, Function function)
        : methodName(std::move(name))
        , function(std::move(function))
    {
    }

    utils::String name() const override { return methodName; }
    int argsNum() const override { return int(sizeof...(Args)); }
    std::vector<utils::String> argsName() const override
    {
        return { utils::String(TypeCodec<Args>::name())... };
    }
    utils::String resultName() const override { return TypeCodec<R>::name(); }

    void invoke(utils::IBuffer *in, utils::IBuffer *out) override
    {
        // Braced initialisation decodes the arguments strictly from left to right.
        std::tuple<Args...> arguments { unpackArgument<Args>(in)... };
        if constexpr (std::is_void_v<R>) {
            (void)out;
            std::apply(function, arguments);
        } else {
            const R result = std::apply(function, arguments);
            if (out) {
                utils::String(TypeCodec<R>::name()).serialize(out);
                TypeCodec<R>::write(out, result);
            }
        }
    }

private:
    utils::String methodName;
    Function function;
};

// A named service: its methods, reached through a server. Requests name the service and the
// method; the rest of a request is the method's input (see docs/result-protocol.md).
class DispatchService
{
public:
    // Takes over the server.
    explicit DispatchService(Net::IServer *server);
    ~DispatchService();
    DispatchService(const DispatchService &) = delete;
    DispatchService &operator=(const DispatchService &) = delete;

    void setServiceName(const utils::String &name);
    // Takes over the dispatcher; a later one of the same name replaces it.
    void _add(IDispatchable *dispatcher);
    // Starts serving in the background and returns at once; false when the server cannot start.
    bool serve();
    // Stops serving; when it returns no method runs or will be called.
    void stop();

    Net::IServer *server() const { return transport.get(); }

    // Answer status byte of the wire format.
    enum Status : unsigned char { Ok = 0, Failed = 1 };

private:
    std::string handle(const std::string &request);

    std::unique_ptr<Net::IServer> transport;
    std::mutex lock;
    utils::String serviceName;
    std::map<std::string, std::unique_ptr<IDispatchable>> methods;
    // Refusals are reported on standard error, but a flood of bad calls only up to a point.
    unsigned refusalsReported = 0;
};

} // namespace Kz::RPC
