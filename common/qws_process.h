#pragma once

#include <QString>

// The panel's display server: whether one answers on its socket, and starting one from the
// stick when none does.
class QwsProcess
{
public:
    // Fixed panel paths; they go through the sysroot mapping.
    static const char *const ServerSocket; // "/tmp/qtembedded-0/QtEmbedded-0"
    static const char *const ServerCopy; // "/tmp/qwsserver"
    static const char *const ServerArgument;

    // True when a display server accepts a connection within timeoutSec seconds; 0 tries once.
    static bool qwsServerIsExit(int timeoutSec);

    // Copies serverFile to the server copy path, makes it executable and starts it detached.
    static bool startQwsServer(const QString &serverFile);
};
