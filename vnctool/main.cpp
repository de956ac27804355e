// vncsetup: deploys or removes the panel's VNC support from the USB stick.
#include "multilingual_manager.h"
#include "stick_runtime.h"
#include "vnc_startup.h"

#include <QApplication>
#include <QTextCodec>

int main(int argc, char **argv)
{
    // Before Qt starts: on a panel, the libraries, plug-ins and font come from the stick.
    hix::useStickRuntime();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QApplication app(argc, argv);
    hixInitResources();
    const int code = vnc_startup::run(app);
    hixCleanupResources();
    return code;
}
