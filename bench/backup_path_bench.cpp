// Measures one ParseConfigInfo::getBackupPath() call, which asks the panel's driver for the
// identifier anew every time: once where the driver family is missing (the real failure path of
// a development machine) and once against the emulated panel's driver stand-in.
#include "parse_config_info.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

void measure(const char *label, int calls)
{
    QString last;
    for (int i = 0; i < 10; ++i) // warm-up
        last = ParseConfigInfo::getBackupPath();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < calls; ++i)
        last = ParseConfigInfo::getBackupPath();
    const double perCallUs = double(timer.nsecsElapsed()) / calls / 1000.0;
    std::printf(
        "%-34s %8.1f us per call (%d calls)  -> %s\n", label, perCallUs, calls, qPrintable(last));
}

} // namespace

int main(int argc, char **argv)
{
    const int calls = argc > 1 ? std::atoi(argv[1]) : 2000;
    QTemporaryDir panel;
    if (!panel.isValid())
        return 1;
    qputenv("HIX_SYSROOT", QFile::encodeName(panel.path()));
    qunsetenv("VEXO_EXPORT_DIR");
    measure("driver family missing:", calls);
    QDir().mkpath(panel.path() + "/run/vexo-hal");
    measure("emulated driver (files + AES):", calls);
    return 0;
}
