#pragma once

// The one way the programs restart the panel. Only a panel build running without a sysroot calls
// the kernel; every other build records the request and reports success, because development
// machines honour reboot() and would restart under the developer or the CI run.
namespace hix {

// Flushes the file systems and restarts the machine. Returns 0 when the restart was handed over
// (or recorded), -1 with errno set when the kernel refused it.
int restartSystem();

// Whether this process would restart the machine for real.
bool restartIsReal();

} // namespace hix
