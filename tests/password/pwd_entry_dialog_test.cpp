// The password dialog as the operator uses it: real keys pressed with the mouse, the field and
// the message boxes read back as shown.
#include "md5_crypt_ctrl.h"
#include "modal_script.h"
#include "pwd_entry_dialog.h"
#include "temp_sysroot.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const QString kConf = QStringLiteral("/usr/vexo_app/config/vexo_app_conf.ini");

class PasswordDialog : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(root.isValid()); }

    void storePassword(const std::string &password)
    {
        root.writeFile(kConf,
            "[SECURITY]\nlicense="
                + QByteArray::fromStdString(md5_crypt_ctrl::GetInstance()->Encrypt(password))
                + "\n");
    }

    static QPushButton *key(PwdEntryDialog &dialog, const QString &name)
    {
        auto *button = dialog.findChild<QPushButton *>(QStringLiteral("keyBtn") + name);
        EXPECT_NE(button, nullptr) << name.toStdString();
        return button;
    }

    static void press(PwdEntryDialog &dialog, const QString &name)
    {
        if (QPushButton *button = key(dialog, name))
            QTest::mouseClick(button, Qt::LeftButton);
    }

    static QLineEdit *field(PwdEntryDialog &dialog)
    {
        return dialog.findChild<QLineEdit *>(QStringLiteral("lineEditPwd"));
    }

    TempSysroot root;
};

} // namespace

TEST_F(PasswordDialog, Keys_HaveTheirNamesLabelsAndNeverTakeFocus)
{
    PwdEntryDialog dialog;
    const QString labels = QStringLiteral("1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    for (const QChar c : labels) {
        QPushButton *button = key(dialog, c);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString(c));
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(key(dialog, "Cap")->text(), QStringLiteral("Cap"));
    EXPECT_EQ(key(dialog, "Back")->text(), QStringLiteral("<--"));
    EXPECT_EQ(key(dialog, "Del")->text(), QStringLiteral("Del"));
    EXPECT_EQ(key(dialog, "Confirm")->text(), QStringLiteral("确认"));
    EXPECT_EQ(dialog.findChildren<QPushButton *>().size(), 40);
    EXPECT_EQ(field(dialog)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.size(), QSize(480, 280));
}

TEST_F(PasswordDialog, Texts_ComeFromTheLookup_OrTheChineseFallback)
{
    PwdEntryDialog fallback;
    EXPECT_EQ(fallback.windowTitle(), QStringLiteral("HIX密码输入"));
    EXPECT_EQ(fallback.findChild<QLabel *>("label")->text(), QStringLiteral("请输入密码:"));

    PwdEntryDialog english(nullptr, [](int id) { return QStringLiteral("T%1").arg(id); });
    EXPECT_EQ(english.windowTitle(), QStringLiteral("T1011"));
    EXPECT_EQ(english.findChild<QLabel *>("label")->text(), QStringLiteral("T1014"));
    EXPECT_EQ(key(english, "Confirm")->text(), QStringLiteral("T1003"));
}

TEST_F(PasswordDialog, Opens_CentredAndAboveOtherWindows)
{
    PwdEntryDialog dialog;
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
    dialog.show();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(dialog.pos(), QPoint((screen.width() - 480) / 2, (screen.height() - 280) / 2));
}

TEST_F(PasswordDialog, TypedOneKeyAtATime_ClosesOnTheCompletingKeyBeforeExecReturns)
{
    storePassword("12AB");
    PwdEntryDialog dialog;
    bool execReturned = false;
    bool grantedInsideExec = false;
    QSignalSpy granted(&dialog, &PwdEntryDialog::allowedAccess);
    QObject::connect(
        &dialog, &PwdEntryDialog::allowedAccess, [&] { grantedInsideExec = !execReturned; });

    QStringList stillOpenAfter;
    QTimer::singleShot(0, &dialog, [&] {
        for (const QString name : { "1", "2", "A" }) {
            press(dialog, name);
            if (dialog.isVisible() && granted.isEmpty())
                stillOpenAfter << name;
        }
        press(dialog, "B");
    });
    // Bounds the test if the dialog fails to close itself.
    QTimer::singleShot(5000, &dialog, [&] { dialog.done(99); });
    const int result = dialog.exec();
    execReturned = true;

    EXPECT_EQ(stillOpenAfter, QStringList({ "1", "2", "A" }));
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(granted.count(), 1);
    EXPECT_TRUE(grantedInsideExec);
    EXPECT_TRUE(dialog.GetPassed());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(field(dialog)->text().isEmpty());
}

TEST_F(PasswordDialog, Cap_TurnsLettersToLowerCaseAndBack_TypedLettersFollowTheLabels)
{
    storePassword("a1b");
    PwdEntryDialog dialog;
    QSignalSpy granted(&dialog, &PwdEntryDialog::allowedAccess);
    dialog.show();

    press(dialog, "A");
    press(dialog, "1");
    press(dialog, "B");
    EXPECT_EQ(field(dialog)->text(), QStringLiteral("A1B"));
    EXPECT_TRUE(granted.isEmpty());
    field(dialog)->clear();

    press(dialog, "Cap");
    EXPECT_EQ(key(dialog, "A")->text(), QStringLiteral("a"));
    EXPECT_EQ(key(dialog, "Z")->text(), QStringLiteral("z"));
    EXPECT_EQ(key(dialog, "1")->text(), QStringLiteral("1"));
    EXPECT_EQ(key(dialog, "Cap")->text(), QStringLiteral("Cap"));
    press(dialog, "A");
    press(dialog, "1");
    EXPECT_EQ(field(dialog)->text(), QStringLiteral("a1"));
    press(dialog, "Cap");
    EXPECT_EQ(key(dialog, "B")->text(), QStringLiteral("B"));
    press(dialog, "B");
    EXPECT_TRUE(granted.isEmpty()); // "a1B" is not the password
    press(dialog, "Back");
    press(dialog, "Cap");
    press(dialog, "B");
    EXPECT_EQ(granted.count(), 1);
    EXPECT_TRUE(dialog.GetPassed());
}

TEST_F(PasswordDialog, WrongSecondKey_RemovedWithBack_RightKeyGrantsAtOnce)
{
    storePassword("12");
    PwdEntryDialog dialog;
    QSignalSpy granted(&dialog, &PwdEntryDialog::allowedAccess);
    dialog.show();

    press(dialog, "1");
    press(dialog, "3");
    EXPECT_TRUE(granted.isEmpty());
    EXPECT_TRUE(dialog.isVisible());
    press(dialog, "Back");
    EXPECT_EQ(field(dialog)->text(), QStringLiteral("1"));
    press(dialog, "2");
    EXPECT_EQ(granted.count(), 1);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(PasswordDialog, BackAndDel_EditAtTheCursorAndSelection_OrLeaveTheFieldAlone)
{
    storePassword("NOT-TYPED");
    PwdEntryDialog dialog;
    dialog.show();
    QLineEdit *edit = field(dialog);
    for (const QString name : { "1", "2", "3", "4" })
        press(dialog, name);

    press(dialog, "Del"); // no selection
    EXPECT_EQ(edit->text(), QStringLiteral("1234"));

    edit->setCursorPosition(2);
    press(dialog, "Back");
    EXPECT_EQ(edit->text(), QStringLiteral("134"));
    EXPECT_EQ(edit->cursorPosition(), 1);

    edit->setCursorPosition(0);
    press(dialog, "Back");
    EXPECT_EQ(edit->text(), QStringLiteral("134"));

    edit->setSelection(1, 2);
    press(dialog, "Del");
    EXPECT_EQ(edit->text(), QStringLiteral("1"));
    EXPECT_EQ(edit->cursorPosition(), 1);

    edit->setCursorPosition(0);
    press(dialog, "5"); // typed at the cursor
    EXPECT_EQ(edit->text(), QStringLiteral("51"));
}

TEST_F(PasswordDialog, TwentyFirstCharacter_ShowsTheLengthMessageAndStaysInTheField)
{
    storePassword("0123456789ABCDEFGHIJ"); // twenty characters, never typed
    PwdEntryDialog dialog;
    dialog.show();
    ModalScript boxes;
    boxes.answerEveryBox();

    for (int i = 0; i < 20; ++i)
        press(dialog, "Z");
    EXPECT_TRUE(boxes.texts.isEmpty());
    press(dialog, "Z");
    ASSERT_EQ(boxes.texts, QStringList({ QStringLiteral("密码最大长度为20个字符!") }));
    EXPECT_EQ(boxes.titles.first(), QStringLiteral("提示"));
    EXPECT_EQ(boxes.buttons.first(), QStringLiteral("确认"));
    EXPECT_EQ(field(dialog)->text().size(), 21);

    press(dialog, "Y");
    EXPECT_EQ(boxes.texts.size(), 2);
    press(dialog, "Back");
    EXPECT_EQ(boxes.texts.size(), 3); // still 21 after removing one of 22
    press(dialog, "Back");
    EXPECT_EQ(boxes.texts.size(), 3);
    EXPECT_EQ(field(dialog)->text().size(), 20);
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(PasswordDialog, Confirm_WithAWrongPassword_ShowsTheMessageAndEmptiesTheField)
{
    storePassword("9");
    PwdEntryDialog dialog(nullptr, [](int id) { return QStringLiteral("text %1").arg(id); });
    dialog.show();
    ModalScript boxes;
    boxes.answerEveryBox();
    press(dialog, "8");
    press(dialog, "Confirm");
    EXPECT_EQ(boxes.texts, QStringList({ QStringLiteral("text 1013") }));
    EXPECT_EQ(boxes.titles, QStringList({ QStringLiteral("text 1001") }));
    EXPECT_EQ(boxes.buttons, QStringList({ QStringLiteral("text 1003") }));
    EXPECT_TRUE(field(dialog)->text().isEmpty());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.GetPassed());
}

TEST_F(PasswordDialog, ClosedWithoutThePassword_ExecReturns_NothingGranted)
{
    storePassword("12");
    PwdEntryDialog dialog;
    QSignalSpy granted(&dialog, &PwdEntryDialog::allowedAccess);
    QTimer::singleShot(0, &dialog, [&] {
        press(dialog, "1");
        dialog.close(); // the window's close button
    });
    QTimer::singleShot(5000, &dialog, [&] { dialog.done(99); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_FALSE(dialog.GetPassed());
    EXPECT_TRUE(granted.isEmpty());
    EXPECT_TRUE(field(dialog)->text().isEmpty());
}

TEST_F(PasswordDialog, NoPasswordStored_FirstKeyGrants)
{
    PwdEntryDialog dialog;
    QSignalSpy granted(&dialog, &PwdEntryDialog::allowedAccess);
    dialog.show();
    press(dialog, "7");
    EXPECT_EQ(granted.count(), 1);
    EXPECT_TRUE(dialog.GetPassed());
}
