// Shared entry of the test programs: a QApplication on the offscreen platform (unless the caller
// chose another one), the compiled-in resources registered, then GoogleTest.
#include "multilingual_manager.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    hixInitResources();
    return RUN_ALL_TESTS();
}
