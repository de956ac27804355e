// Start-up of the VNC tool: the language choice, the window for the screen, the language list.
#include "md5_crypt_ctrl.h"
#include "no_menu_decoration.h"
#include "vnc_dialog_look.h"
#include "vnc_fixture.h"
#include "vnc_paths.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

class VncStartup : public VncToolTest
{
protected:
    void writeLanguage(const QString &name, const QByteArray &content)
    {
        writeStickFile("hixbackup/MultiLanguage/" + name, content);
    }
};

TEST_F(VncStartup, LanguageArgument_OnlyAsOneArgumentWithANumber)
{
    using vnc_startup::commandLineLanguage;
    EXPECT_EQ(commandLineLanguage({ "vncsetup.bin", "-lanID 1" }), 1);
    EXPECT_EQ(commandLineLanguage({ "vncsetup.bin", "-lanID 0012" }), 12);
    EXPECT_EQ(commandLineLanguage({ "vncsetup.bin", "-lanID", "1" }), -1);
    EXPECT_EQ(commandLineLanguage({ "vncsetup.bin", "-lanID x" }), -1);
    EXPECT_EQ(commandLineLanguage({ "vncsetup.bin", "-lanID 1 2" }), -1);
    EXPECT_EQ(commandLineLanguage({ "vncsetup.bin" }), -1);
    EXPECT_EQ(commandLineLanguage({ "vncsetup.bin", "-lanID 3", "-lanID 4" }), 3);
}

TEST_F(VncStartup, LanguageChoice_CommandLineThenPackageThenSystem)
{
    writeLanguage("0001.lanini", "[3000]\r\nstring=one\r\n");
    writeLanguage("0002.lanini", "[3000]\r\nstring=two\r\n");
    writeLanguage("0003.lanini", "[3000]\r\nstring=three\r\n");
    writeLanguage("0000.lanini", "[3000]\r\nstring=zero\r\n");
    const QString projectDir = root.path("/project");
    root.writeFile("/project/lan_setup.ini", "[current_language]\ntype=3\n");

    EXPECT_TRUE(
        vnc_startup::loadLanguage(1, 2, stick).endsWith("/hixbackup//MultiLanguage/0001.lanini"));
    EXPECT_EQ(text(3000), QStringLiteral("one"));
    EXPECT_EQ(text(3001), QStringLiteral("移除VNC"));

    vnc_startup::loadLanguage(-1, 2, stick);
    EXPECT_EQ(text(3000), QStringLiteral("two"));

    // No language from the package: the system default project has none set, so 0000.
    vnc_startup::loadLanguage(-1, -1, stick);
    EXPECT_EQ(text(3000), QStringLiteral("zero"));

    qputenv("VEXO_PROJECT_DIR", QFile::encodeName(projectDir));
    vnc_startup::loadLanguage(-1, -1, stick);
    qunsetenv("VEXO_PROJECT_DIR");
    EXPECT_EQ(text(3000), QStringLiteral("three"));

    // A language without a file keeps the built-in texts.
    vnc_startup::loadLanguage(7, -1, stick);
    EXPECT_EQ(text(3000), QStringLiteral("部署VNC"));
}

TEST_F(VncStartup, PackageLanguage_ComesFromTheUnscrambledDescription)
{
    writePackage("####\n[language]\nlanId=1\n");
    EXPECT_EQ(vnc_startup::packageLanguage(), 1);
    // Of another length: the settings reader takes a file of the same size and time (two writes
    // within the clock's step) for the one it read before.
    writePackage("####\n[language]\nlanId=none\n");
    EXPECT_EQ(vnc_startup::packageLanguage(), -1);
    writePackage("####\n");
    EXPECT_EQ(vnc_startup::packageLanguage(), -1);
}

TEST_F(VncStartup, Window_SizeAndFontFollowTheScreen)
{
    const struct
    {
        QSize screen;
        QSize window;
        int font;
        int listWidth;
    } cases[] = {
        { { 800, 480 }, { 220, 340 }, 12, 60 },
        { { 1024, 1024 }, { 220, 340 }, 12, 60 },
        { { 1280, 1024 }, { 320, 442 }, 24, 80 },
        { { 1920, 1080 }, { 320, 442 }, 24, 80 },
    };
    for (const auto &c : cases) {
        vnc window(nullptr, c.screen);
        EXPECT_EQ(window.size(), c.window) << c.screen.width();
        EXPECT_EQ(window.pos(),
            QPoint((c.screen.width() - c.window.width()) / 2,
                (c.screen.height() - c.window.height()) / 2));
        EXPECT_EQ(window.MultiLang->minimumWidth(), c.listWidth);
        EXPECT_EQ(vnc_startup::applicationFontPixelSize(c.screen), c.font);
    }
    EXPECT_EQ(vnc_startup::titleBarHeight({ 1920, 1080 }), 40);
    EXPECT_EQ(vnc_startup::titleBarHeight({ 1080, 1920 }), 40);
    EXPECT_EQ(vnc_startup::titleBarHeight({ 1280, 1024 }), 0);
}

TEST_F(VncStartup, WindowPolicy_FullHdPanel_MarksWindowsWithTheTallTitleBar)
{
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    vnc_startup::installWindowPolicy(*app, QSize(1920, 1080));
    vnc window(nullptr, QSize(1920, 1080));
    window.show();
    EXPECT_EQ(window.property(no_menu_decoration::TitleBarHeightProperty).toInt(), 40);
    EXPECT_TRUE(window.property(no_menu_decoration::NoSystemMenuProperty).toBool());
    // The policy stays installed for the rest of this test program; it only marks windows.
}

TEST_F(VncStartup, LanguageList_ChineseTableFirst_SwitchLoadsTheStickFile)
{
    copyExampleLanguages();
    vnc window;
    window.fillLanguageList();
    window.initGui();
    ASSERT_EQ(window.MultiLang->count(), 2);
    EXPECT_EQ(window.MultiLang->itemText(0), QStringLiteral("中文"));
    EXPECT_EQ(window.MultiLang->itemText(1), QStringLiteral("ENG"));
    EXPECT_EQ(window.setVNC_Bt->text(), QStringLiteral("部署VNC"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("VNC部署工具"));
    EXPECT_EQ(text(3019), QStringLiteral("VNC密码设置成功，重启后生效。"));

    window.MultiLang->setCurrentIndex(1);
    EXPECT_EQ(window.setVNC_Bt->text(), QStringLiteral("Deploy VNC"));
    EXPECT_EQ(window.close_Bt->text(), QStringLiteral("Exit"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("VNC setup"));

    window.MultiLang->setCurrentIndex(0);
    EXPECT_EQ(window.setVNC_Bt->text(), QStringLiteral("部署VNC"));
}

TEST_F(VncStartup, LanguageList_ItsDropDownArrowImageIsCompiledIntoTheTool)
{
    vnc window;
    const QRegularExpressionMatch image
        = QRegularExpression(QStringLiteral("down-arrow\\{image:url\\((:[^)]+)\\)"))
              .match(window.MultiLang->styleSheet());
    ASSERT_TRUE(image.hasMatch()) << window.MultiLang->styleSheet().toStdString();
    EXPECT_FALSE(QPixmap(image.captured(1)).isNull()) << image.captured(1).toStdString();
}

TEST_F(VncStartup, LanguageList_EnglishTable_PutsEngFirstAndLoadsItsFile)
{
    copyExampleLanguages();
    vnc_startup::loadLanguage(1, -1, stick);
    vnc window;
    window.fillLanguageList();
    window.initGui();
    EXPECT_EQ(window.MultiLang->itemText(0), QStringLiteral("ENG"));
    EXPECT_EQ(window.restart_Bt->text(), QStringLiteral("Restart HIX"));
}

TEST_F(VncStartup, Paths_GoThroughTheSysroot)
{
    EXPECT_EQ(getVncConFile(), root.path("/usr/vexo_app/config/vncConfig.ini"));
    markDeployed();
    EXPECT_EQ(getVncConFile(), root.path("/etc/iot_cfg/vncConfig.ini"));
    QDir::setCurrent(root.path("/"));
    EXPECT_EQ(vncStickDirectory(), QDir::currentPath());
}

// The real program: it reads its language argument, unscrambles the package into the sysroot
// and loads the stick's language file. It is ended by its process id once it has said so.
TEST_F(VncStartup, Binary_LoadsTheLanguageOfItsArgumentFromTheStick)
{
    writePackage("####\n[language]\nlanId=2\n");
    copyExampleLanguages();
    QProcess program;
    program.setWorkingDirectory(stick);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HIX_SYSROOT", root.root());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    QString binDir = qEnvironmentVariable("HIX_BIN_DIR");
    if (binDir.isEmpty())
        binDir = QStringLiteral(HIX_BUILD_BIN_DIR);
    program.start(binDir + "/vncsetup.bin", { "-lanID 1" });
    ASSERT_TRUE(program.waitForStarted(5000))
        << program.program().toStdString() << " " << program.errorString().toStdString();

    QByteArray output;
    const QByteArray expected = "hixbackup//MultiLanguage/0001.lanini";
    QElapsedTimer clock;
    clock.start();
    while (!output.contains("vnc window") && clock.elapsed() < 10000
        && program.state() == QProcess::Running) {
        program.waitForReadyRead(200);
        output += program.readAll();
    }
    if (program.state() == QProcess::Running) {
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        program.waitForFinished(5000);
    }
    output += program.readAll();
    EXPECT_TRUE(output.contains("cmdlanIdFile: \"" + stick.toUtf8() + "/" + expected))
        << output.constData();
    EXPECT_TRUE(output.contains("cmdlanId=1, cfglanId=2")) << output.constData();
    EXPECT_TRUE(QFileInfo(root.path("/tmp/vncInstall.ini")).size() > 0);
}

TEST_F(VncStartup, AccessGate_OpensOnlyWithAPassword_AndPassesOnlyWhenItIsTyped)
{
    EXPECT_TRUE(vnc_startup::passAccessGate()); // none set: no dialog at all

    root.writeFile("/usr/vexo_app/config/vexo_app_conf.ini",
        "[SECURITY]\nlicense="
            + QByteArray::fromStdString(md5_crypt_ctrl::GetInstance()->Encrypt("42")) + "\n");
    QString title;
    ModalScript typed;
    typed.then("PwdEntryDialog", [&](QWidget *dialog) {
        title = dialog->windowTitle();
        QTest::mouseClick(dialog->findChild<QPushButton *>("keyBtn4"), Qt::LeftButton);
        QTest::mouseClick(dialog->findChild<QPushButton *>("keyBtn2"), Qt::LeftButton);
    });
    bool passed = false;
    typed.run([&] { passed = vnc_startup::passAccessGate(); });
    EXPECT_TRUE(typed.allStepsDone());
    EXPECT_TRUE(passed);
    EXPECT_EQ(title, QStringLiteral("HIX密码输入"));

    ModalScript closed;
    closed.then("PwdEntryDialog", [](QWidget *dialog) { dialog->close(); });
    passed = true;
    closed.run([&] { passed = vnc_startup::passAccessGate(); });
    EXPECT_TRUE(closed.allStepsDone());
    EXPECT_FALSE(passed);
}
