#pragma once

#include <functional>
#include <string>

namespace Kz::Net {

// A transport that receives request frames and sends back the answers its handler gives.
class IServer
{
public:
    // Called on the server's own thread with one request's bytes; returns the answer's bytes.
    using Handler = std::function<std::string(const std::string &request)>;

    virtual ~IServer() = default;
    // Opens the transport and serves in the background; returns at once. False when it cannot
    // be opened (for example the port is taken).
    virtual bool start(Handler handler) = 0;
    // Closes the transport; when it returns, the handler is not running and is not called again.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    // The port actually served (useful when 0 asked the system to choose one).
    virtual unsigned port() const = 0;
};

} // namespace Kz::Net
