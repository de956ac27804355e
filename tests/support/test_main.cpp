// Shared entry of the test programs: a QApplication on the offscreen platform (unless the caller
// chose another one), the compiled-in resources registered, then GoogleTest.
#include "multilingual_manager.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // The programs under test are built beside the tests (<build>/bin next to <build>/tests);
    // ctest may not hand the variable on.
    if (qEnvironmentVariableIsEmpty("HIX_BIN_DIR"))
        qputenv("HIX_BIN_DIR",
                QFile::encodeName(QDir(QCoreApplication::applicationDirPath() + "/../bin")
                                      .absolutePath()));
    hixInitResources();
    return RUN_ALL_TESTS();
}
