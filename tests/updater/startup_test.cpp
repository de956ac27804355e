#include "startup.h"

#include "temp_sysroot.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class LanguageChoiceTest : public ::testing::Test
{
protected:
    LanguageChoiceTest() { qunsetenv("VEXO_PROJECT_DIR"); }
    ~LanguageChoiceTest() override { qunsetenv("VEXO_PROJECT_DIR"); }

    QString base() const { return sysroot.path("/media/usb0"); }
    void stickLanguage(const QString &number)
    {
        sysroot.writeFile("/media/usb0/language/" + number + ".lan", "[2018]\nstring=\"x\"\n");
    }
    void toolLanguage(const QByteArray &type)
    {
        sysroot.writeFile(
            "/media/usb0/config/baseUpdateSet.ini", "[tool_language]\ntype=" + type + "\n");
    }
    void projectLanguage(
        const QByteArray &content, const QString &project = QStringLiteral("/usr/vexo_app/project"))
    {
        sysroot.writeFile(project + "/lan_setup.ini", content);
    }

    TempSysroot sysroot;
};

} // namespace

TEST(BaseDir, IsTheParentOfTheProgramsFolder)
{
    EXPECT_EQ(
        baseDirFromExePath("/media/usb0/hixupdateu/upgrunner.bin"), QStringLiteral("/media/usb0"));
    EXPECT_EQ(baseDirFromExePath("/a/b/c/d/upgrunner.bin"), QStringLiteral("/a/b/c"));
    EXPECT_EQ(baseDirFromExePath("/hixupdateu/upgrunner.bin"), QString());
}

TEST_F(LanguageChoiceTest, CommandLineNumber_UsesItsFileWhenPresent)
{
    stickLanguage("0001");
    toolLanguage("3");
    const LanguageChoice choice = chooseLanguage(base(), "0001");
    EXPECT_EQ(choice.lanID, QStringLiteral("0001"));
    EXPECT_EQ(choice.languageFile, base() + "/language/0001.lan");
}

TEST_F(LanguageChoiceTest, CommandLineNumberWithoutFile_FallsBackToTheLaunchersSetting)
{
    toolLanguage("3");
    const LanguageChoice choice = chooseLanguage(base(), "0001");
    EXPECT_EQ(choice.lanID, QStringLiteral("0003"));
    EXPECT_EQ(choice.languageFile, base() + "/language/0003.lan");
}

TEST_F(LanguageChoiceTest, NoNumber_TakesTheProjectsLanguage)
{
    projectLanguage("[current_language]\ntype=2\n");
    stickLanguage("0002");
    toolLanguage("3");
    EXPECT_EQ(chooseLanguage(base(), QString()).lanID, QStringLiteral("0002"));
}

TEST_F(LanguageChoiceTest, ProjectFolderFromEnvironment_WinsOverTheDefault)
{
    projectLanguage("[current_language]\ntype=2\n");
    projectLanguage("[current_language]\ntype=5\n", "/elsewhere/project");
    stickLanguage("0002");
    stickLanguage("0005");
    qputenv("VEXO_PROJECT_DIR", QFile::encodeName(sysroot.path("/elsewhere/project")));
    EXPECT_EQ(chooseLanguage(base(), QString()).lanID, QStringLiteral("0005"));
}

TEST_F(LanguageChoiceTest, ProjectTypeMinusOne_CountsAsNoLanguage)
{
    projectLanguage("[current_language]\ntype=-1\n");
    stickLanguage("0004");
    toolLanguage("4");
    EXPECT_EQ(chooseLanguage(base(), QString()).lanID, QStringLiteral("0004"));
}

TEST_F(LanguageChoiceTest, NothingConfigured_GivesTheBuiltinNumber)
{
    const LanguageChoice choice = chooseLanguage(base(), QString());
    EXPECT_EQ(choice.lanID, QStringLiteral("0000"));
    EXPECT_EQ(choice.languageFile, base() + "/language/0000.lan");
}

TEST_F(LanguageChoiceTest, MalformedSettingsFiles_FallBackWithoutHarm)
{
    projectLanguage(QByteArray("\xff\x00[current_language\ntype", 24));
    sysroot.writeFile("/media/usb0/config/baseUpdateSet.ini", "[tool_language]\ntype=abc\n");
    EXPECT_EQ(chooseLanguage(base(), QString()).lanID, QStringLiteral("0000"));
    // A folder where the settings file should be.
    QDir().mkpath(sysroot.path("/usr/vexo_app/project/lan_setup.ini"));
    EXPECT_EQ(chooseLanguage(base(), QString()).lanID, QStringLiteral("0000"));
}

TEST(UpdateEnvPath, LibraryPathAndWorkingDirectoryAreTheProgramsFolder)
{
    const QByteArray previousPath = qgetenv("LD_LIBRARY_PATH");
    char previousDir[4096] = {};
    ASSERT_NE(getcwd(previousDir, sizeof previousDir), nullptr);

    testing::internal::CaptureStdout();
    EXPECT_TRUE(updateEnvPath());
    const std::string out = testing::internal::GetCapturedStdout();
    const QString appDir = QCoreApplication::applicationDirPath();
    EXPECT_EQ(QString::fromUtf8(qgetenv("LD_LIBRARY_PATH")), appDir);
    EXPECT_EQ(QDir::currentPath(), appDir);
    EXPECT_EQ(out, "upgrunner.bin 0\n");

    qputenv("LD_LIBRARY_PATH", previousPath);
    ASSERT_EQ(chdir(previousDir), 0);
}
