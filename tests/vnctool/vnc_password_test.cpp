// The VNC password: set, sign in and clear it through the dialogs and the pop-up keyboard, as
// the operator does on the touch screen.
#include "ckeyboard.h"
#include "passwd_dlg.h"
#include "passwd_sign_in.h"
#include "vnc_fixture.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

namespace {

QPushButton *keyOf(QWidget *keyboard, const QString &name)
{
    return keyboard->findChild<QPushButton *>(QStringLiteral("keyBtn") + name);
}

// Types keys on the pop-up keyboard (one key per character, or named keys) and confirms.
ModalScript::Action typeOnKeyboard(const QStringList &keys, QString *shownBeforeConfirm = nullptr)
{
    return [keys, shownBeforeConfirm](QWidget *keyboard) {
        for (const QString &key : keys) {
            QPushButton *button = keyOf(keyboard, key);
            EXPECT_NE(button, nullptr) << key.toStdString();
            if (button)
                QTest::mouseClick(button, Qt::LeftButton);
        }
        if (shownBeforeConfirm)
            *shownBeforeConfirm = keyboard->findChild<QLineEdit *>("m_lineEdit")->text();
        QTest::mouseClick(keyOf(keyboard, "Confirm"), Qt::LeftButton);
    };
}

QStringList keysOf(const QString &text)
{
    QStringList keys;
    for (const QChar c : text)
        keys << QString(c);
    return keys;
}

// Touches a field of a dialog, which opens the keyboard.
ModalScript::Action touch(const char *field)
{
    return [field](QWidget *dialog) {
        QTest::mouseClick(dialog->findChild<QLineEdit *>(field), Qt::LeftButton);
    };
}

ModalScript::Action press(const char *button, QString *logAfter = nullptr)
{
    return [button, logAfter](QWidget *dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton *>(button), Qt::LeftButton);
        if (logAfter)
            *logAfter = dialog->findChild<QLabel *>("log_Lb")->text();
    };
}

} // namespace

class VncPassword : public VncToolTest
{
protected:
    void SetUp() override
    {
        VncToolTest::SetUp();
        copyExampleLanguages();
        MultilingualManager::GetInstance()->loadMultilingualFile(
            stick + "/hixbackup/MultiLanguage/0000.lanini", Builtin);
    }
};

TEST_F(VncPassword, SetPassword_NoneStored_OldRowDisabled_EightKeysTaken_NinthRefused)
{
    markDeployed("[VNCCONFIG]\nrunStatus=0\npasswd=\nshareMode=1\n[OTHER]\nport=5900\n");
    vnc window;
    bool oldRowEnabled = true;
    QString typed, title, message;
    ModalScript script;
    script
        .then("passwdDlg",
            [&](QWidget *dialog) {
                oldRowEnabled = dialog->findChild<QLineEdit *>("passwd_Edt_old")->isEnabled()
                    || dialog->findChild<QLabel *>("label_3")->isEnabled();
                touch("passwd_Edt")(dialog);
            })
        .then("CKeyBoard", typeOnKeyboard(keysOf("A1B2C3D49"), &typed))
        .then("passwdDlg", touch("confirm_Edt"))
        .then("CKeyBoard", typeOnKeyboard(keysOf("A1B2C3D4")))
        .then("passwdDlg", press("ok_Bt"))
        .answerBox(&title, &message);
    script.run([&] { QTest::mouseClick(window.passwd_Bt, Qt::LeftButton); });

    EXPECT_TRUE(script.allStepsDone());
    EXPECT_FALSE(oldRowEnabled);
    EXPECT_EQ(typed, QStringLiteral("A1B2C3D4"));
    EXPECT_EQ(title, QStringLiteral("提示"));
    EXPECT_EQ(message, QStringLiteral("VNC密码设置成功，重启后生效。"));
    EXPECT_EQ(vncPasswd(), QStringLiteral("A1B2C3D4"));
    QSettings config(root.path(VncConfig), QSettings::IniFormat);
    EXPECT_EQ(config.value("VNCCONFIG/runStatus").toInt(), 1);
    EXPECT_EQ(config.value("VNCCONFIG/shareMode").toInt(), 0);
    EXPECT_EQ(config.value("OTHER/port").toInt(), 5900);
}

TEST_F(VncPassword, SetPassword_ChecksInOrder_WritesOnlyWhenAllAgree)
{
    markDeployed("[VNCCONFIG]\nrunStatus=1\npasswd=OLD1\nshareMode=0\n");
    const QByteArray before = root.readFile(VncConfig);
    vnc window;
    QString oldMissing, emptyBoth, oneEmpty, oldWrong, mismatch;
    ModalScript script;
    script.then("passwdDlg", press("ok_Bt", &oldMissing))
        .then("passwdDlg", touch("passwd_Edt_old"))
        .then("CKeyBoard", typeOnKeyboard(keysOf("OLD2")))
        .then("passwdDlg", press("ok_Bt", &emptyBoth))
        .then("passwdDlg", touch("passwd_Edt"))
        .then("CKeyBoard", typeOnKeyboard(keysOf("NEW")))
        .then("passwdDlg", press("ok_Bt", &oneEmpty))
        .then("passwdDlg", touch("confirm_Edt"))
        .then("CKeyBoard", typeOnKeyboard(keysOf("NEW")))
        .then("passwdDlg", press("ok_Bt", &oldWrong))
        .then("passwdDlg", touch("passwd_Edt_old"))
        .then("CKeyBoard", typeOnKeyboard(keysOf("OLD1")))
        .then("passwdDlg", touch("confirm_Edt"))
        .then("CKeyBoard", typeOnKeyboard(keysOf("NEX")))
        .then("passwdDlg", press("ok_Bt", &mismatch))
        .then("passwdDlg", press("canel_Bt"));
    script.run([&] { QTest::mouseClick(window.passwd_Bt, Qt::LeftButton); });

    EXPECT_TRUE(script.allStepsDone());
    EXPECT_EQ(oldMissing, QStringLiteral("请输入旧密码！"));
    EXPECT_EQ(emptyBoth, QStringLiteral("请输入新密码！"));
    EXPECT_EQ(oneEmpty, QStringLiteral("输入密码不一致"));
    EXPECT_EQ(oldWrong, QStringLiteral("密码不正确！"));
    EXPECT_EQ(mismatch, QStringLiteral("输入密码不一致"));
    EXPECT_EQ(root.readFile(VncConfig), before);
}

TEST_F(VncPassword, ClearPassword_SignInAcceptsOnlyTheExactText_ThenClears)
{
    markDeployed("[VNCCONFIG]\nrunStatus=1\npasswd=ab12\nshareMode=0\n");
    vnc window;
    QString empty, wrong, message;
    ModalScript script;
    script.then("passwdSignIN", press("ok_Bt", &empty))
        .then("passwdSignIN", touch("passwd_Edt"))
        .then("CKeyBoard", typeOnKeyboard(keysOf("AB12")))
        .then("passwdSignIN", press("ok_Bt", &wrong))
        .then("passwdSignIN", touch("passwd_Edt"))
        .then("CKeyBoard", typeOnKeyboard(QStringList { "Cap", "A", "B", "1", "2" }))
        .then("passwdSignIN", press("ok_Bt"))
        .answerBox(nullptr, &message);
    script.run([&] { QTest::mouseClick(window.passwdIsNull_Bt, Qt::LeftButton); });

    EXPECT_TRUE(script.allStepsDone());
    EXPECT_EQ(empty, QStringLiteral("请输入新密码！"));
    EXPECT_EQ(wrong, QStringLiteral("密码不正确！"));
    EXPECT_EQ(message, QStringLiteral("VNC密码已清除，重启后生效。"));
    EXPECT_TRUE(vncPasswd().isEmpty());
    QSettings config(root.path(VncConfig), QSettings::IniFormat);
    EXPECT_TRUE(config.contains("VNCCONFIG/passwd"));
    EXPECT_FALSE(window.isSignedIn());
}

TEST_F(VncPassword, ClearPassword_NoneStored_SaysSoAndWritesNothing)
{
    markDeployed("[VNCCONFIG]\nrunStatus=0\npasswd=\n");
    const QByteArray before = root.readFile(VncConfig);
    vnc window;
    QString message;
    ModalScript script;
    script.answerBox(nullptr, &message);
    script.run([&] { QTest::mouseClick(window.passwdIsNull_Bt, Qt::LeftButton); });
    EXPECT_EQ(message, QStringLiteral("当前未设置VNC密码，无需清除。"));
    EXPECT_EQ(root.readFile(VncConfig), before);
}

TEST_F(VncPassword, NotDeployed_SetAndClearSaySo)
{
    vnc window;
    QString setTitle, setText, clearTitle, clearText;
    ModalScript script;
    script.answerBox(&setTitle, &setText);
    script.run([&] { QTest::mouseClick(window.passwd_Bt, Qt::LeftButton); });
    ModalScript clear;
    clear.answerBox(&clearTitle, &clearText);
    clear.run([&] { QTest::mouseClick(window.passwdIsNull_Bt, Qt::LeftButton); });
    EXPECT_EQ(setTitle, QStringLiteral("设置密码"));
    EXPECT_EQ(setText, QStringLiteral("当前屏未部署VNC，无需设置密码"));
    EXPECT_EQ(clearTitle, QStringLiteral("清除密码"));
    EXPECT_EQ(clearText, QStringLiteral("当前屏未部署VNC，无需清除密码"));
    EXPECT_FALSE(QFileInfo::exists(root.path(VncConfig)));
}

TEST_F(VncPassword, Redeploy_PasswordStored_SignInCancelled_CopiesNothing)
{
    markDeployed("[VNCCONFIG]\npasswd=9999\n");
    writeStickFile("hixbackup/one", "new");
    const QString dir = root.path("/usr/plugins/gfxdrivers");
    writePackage(
        "####\n[copy1]\nsrc=one\ndesdir=" + dir.toUtf8() + "\ndes=" + dir.toUtf8() + "/one\n");
    vnc window;
    ModalScript script;
    script.answerBox(nullptr, nullptr, QStringLiteral("确认"))
        .then("passwdSignIN", press("canel_Bt"));
    script.run([&] { QTest::mouseClick(window.setVNC_Bt, Qt::LeftButton); });
    EXPECT_TRUE(script.allStepsDone());
    EXPECT_FALSE(QFileInfo::exists(dir + "/one"));
}

TEST_F(VncPassword, ConfigIsADirectory_SetPasswordReportsTheFileAndKeepsItsContent)
{
    root.writeFile("/etc/iot_cfg/vncConfig.ini/inside", "keep");
    vnc window;
    ASSERT_TRUE(window.isInstalled());
    QString log;
    ModalScript script;
    script.then("passwdDlg", touch("passwd_Edt"))
        .then("CKeyBoard", typeOnKeyboard(keysOf("12")))
        .then("passwdDlg", touch("confirm_Edt"))
        .then("CKeyBoard", typeOnKeyboard(keysOf("12")))
        .then("passwdDlg", press("ok_Bt", &log))
        .then("passwdDlg", press("canel_Bt"));
    script.run([&] { QTest::mouseClick(window.passwd_Bt, Qt::LeftButton); });
    EXPECT_TRUE(script.allStepsDone());
    EXPECT_EQ(log, QStringLiteral("VNC配置文件错误"));
    EXPECT_EQ(root.readFile("/etc/iot_cfg/vncConfig.ini/inside"), "keep");
}

TEST_F(VncPassword, Keyboard_DelRemovesTheLastCharacter_BackEditsAtTheCursor_CapSwitchesCase)
{
    CKeyBoard keyboard(nullptr, QSize(800, 480));
    QSignalSpy confirmed(&keyboard, &CKeyBoard::signalText);
    keyboard.setLengthLimit(true);
    keyboard.setMaxLength(8);
    keyboard.show();
    QLineEdit *entry = keyboard.lineEdit();
    for (const QString key : { "1", "2", "3", "4" })
        QTest::mouseClick(keyOf(&keyboard, key), Qt::LeftButton);
    entry->setCursorPosition(1);
    QTest::mouseClick(keyOf(&keyboard, "Del"), Qt::LeftButton);
    EXPECT_EQ(entry->text(), QStringLiteral("123"));
    EXPECT_EQ(entry->cursorPosition(), 0);
    QTest::mouseClick(keyOf(&keyboard, "Back"), Qt::LeftButton);
    EXPECT_EQ(entry->text(), QStringLiteral("123"));
    entry->setCursorPosition(2);
    QTest::mouseClick(keyOf(&keyboard, "Back"), Qt::LeftButton);
    EXPECT_EQ(entry->text(), QStringLiteral("13"));
    QTest::mouseClick(keyOf(&keyboard, "Cap"), Qt::LeftButton);
    EXPECT_EQ(keyOf(&keyboard, "Q")->text(), QStringLiteral("q"));
    QTest::mouseClick(keyOf(&keyboard, "Q"), Qt::LeftButton);
    EXPECT_EQ(entry->text(), QStringLiteral("1q3"));
    // Text pasted beyond the limit is cut to the limit, not below it.
    entry->setText(QStringLiteral("ABCDEFGHIJ"));
    EXPECT_EQ(entry->text(), QStringLiteral("ABCDEFGH"));
    QTest::mouseClick(keyOf(&keyboard, "Confirm"), Qt::LeftButton);
    ASSERT_EQ(confirmed.count(), 1);
    EXPECT_EQ(confirmed.first().first().toString(), QStringLiteral("ABCDEFGH"));
    EXPECT_FALSE(keyboard.isVisible());
}

TEST_F(VncPassword, Keyboard_FullHdScreen_IsScaled)
{
    CKeyBoard large(nullptr, QSize(1920, 1080));
    EXPECT_EQ(large.size(), QSize(720, 420));
    EXPECT_EQ(large.font().pixelSize(), 18);
    EXPECT_EQ(keyOf(&large, "A")->minimumSize(), QSize(45, 45));
    CKeyBoard small(nullptr, QSize(1280, 1024));
    EXPECT_EQ(small.size(), QSize(480, 280));
    EXPECT_EQ(small.font().pixelSize(), 12);
}

TEST_F(VncPassword, Restart_GoesThroughTheRestartGuard_AndClosesTheWindow)
{
    vnc window;
    window.show();
    QTest::mouseClick(window.restart_Bt, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(root.readFile("/var/log/restart.log")
                    .contains(" pid " + QByteArray::number(qint64(getpid())) + " "));
}

TEST_F(VncPassword, SetPasswordDialog_SmallScreen_EveryFieldStaysTouchable)
{
    for (const QSize screen : { QSize(800, 480), QSize(1280, 1024) }) {
        passwdDlg dialog(nullptr, screen);
        dialog.log_Lb->setText(text(2987));
        dialog.show();
        EXPECT_EQ(dialog.width(), screen.width() <= 1024 ? 220 : 286);
        EXPECT_GE(dialog.height(), screen.width() <= 1024 ? 135 : 175);
        for (QLineEdit *field : { dialog.passwd_Edt_old, dialog.passwd_Edt, dialog.confirm_Edt })
            EXPECT_GE(field->height(), 30) << field->objectName().toStdString();
        EXPECT_GE(dialog.log_Lb->height(), dialog.log_Lb->fontMetrics().height());
    }
}
