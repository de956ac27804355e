#include "check_result_service.h"

#include <QProcess>
#include <gtest/gtest.h>

// The one test on the real port: a package program reports with the client's defaults.
TEST(CheckResultDefaultPort, HixresultWithoutOptions_ReachesRunningService)
{
    std::atomic<int> updateRes { -1 };
    CheckResultService service(updateRes);
    ASSERT_TRUE(service.startCheckResultServer());
    EXPECT_EQ(service.port(), 10208u);
    QProcess client;
    client.start(qEnvironmentVariable("HIX_BIN_DIR") + "/hixresult", { "7" });
    ASSERT_TRUE(client.waitForFinished(5000));
    EXPECT_EQ(client.exitCode(), 0) << client.readAllStandardError().constData();
    EXPECT_EQ(updateRes.load(), 7);
    service.stopCheckResultServer();
    std::string error;
    EXPECT_FALSE(hix::result::report(8, 10208, 1000, &error));
    EXPECT_EQ(updateRes.load(), 7);
}
