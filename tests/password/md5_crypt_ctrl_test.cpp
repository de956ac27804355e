// The access-password store: digests as the HMI runtime writes them, and a configuration file
// whose other entries survive every password change.
#include "md5_crypt_ctrl.h"
#include "temp_sysroot.h"

#include <QSettings>
#include <QTextCodec>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kConf = QStringLiteral("/usr/vexo_app/config/vexo_app_conf.ini");

class PasswordStore : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(root.isValid()); }

    TempSysroot root;
    md5_crypt_ctrl *store = md5_crypt_ctrl::GetInstance();
};

} // namespace

TEST_F(PasswordStore, Encrypt_Rfc1321Vectors_GiveLowerCaseHexDigests)
{
    const std::pair<std::string, std::string> vectors[] = {
        { "", "d41d8cd98f00b204e9800998ecf8427e" },
        { "a", "0cc175b9c0f1b6a831c399e269772661" },
        { "abc", "900150983cd24fb0d6963f7d28e17f72" },
        { "message digest", "f96b697d7cb7938d525a2f31aaf161d0" },
        { "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b" },
        { "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
            "d174ab98d277d9f5a5611c2c9f419d9f" },
        { "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "57edf4a22be3c955ac49da2e2107b67a" },
    };
    for (const auto &vector : vectors)
        EXPECT_EQ(store->Encrypt(vector.first), vector.second) << '"' << vector.first << '"';
}

TEST_F(PasswordStore, Hexstr_ConvertsAtMost32Bytes)
{
    unsigned char bytes[40];
    for (int i = 0; i < 40; ++i)
        bytes[i] = static_cast<unsigned char>(0xa0 + i);
    const std::string hex = md5_crypt_ctrl::hexstr(bytes, 40);
    ASSERT_EQ(hex.size(), 64u);
    EXPECT_EQ(hex.substr(0, 6), "a0a1a2");
    EXPECT_EQ(hex.substr(58), "bdbebf");
    EXPECT_STREQ(md5_crypt_ctrl::hexstr(bytes, 2), "a0a1");
    EXPECT_STREQ(md5_crypt_ctrl::hexstr(bytes, 0), "");
    EXPECT_STREQ(md5_crypt_ctrl::hexstr(bytes, -3), "");
}

TEST_F(PasswordStore, NoFileOrEmptyValue_NoPasswordSet_EveryEntryPasses)
{
    EXPECT_FALSE(store->CryptInit());
    EXPECT_FALSE(store->isSetPasswd());
    EXPECT_TRUE(store->isPwdPassed(""));
    EXPECT_TRUE(store->isPwdPassed("anything"));

    root.writeFile(kConf, "[SECURITY]\nlicense=\n");
    EXPECT_FALSE(store->CryptInit());
    EXPECT_FALSE(store->isSetPasswd());
    EXPECT_TRUE(store->isPwdPassed(""));
    EXPECT_TRUE(store->isPwdPassed("x"));
}

TEST_F(PasswordStore, StoredDigest_GrantsOnlyItsPassword_UpperCaseDigestNeverMatches)
{
    root.writeFile(
        kConf, "[SECURITY]\nlicense=" + QByteArray::fromStdString(store->Encrypt("12AB")) + "\n");
    EXPECT_TRUE(store->CryptInit());
    EXPECT_TRUE(store->isSetPasswd());
    EXPECT_TRUE(store->isPwdPassed("12AB"));
    EXPECT_FALSE(store->isPwdPassed("12ab"));
    EXPECT_FALSE(store->isPwdPassed("12AB "));
    EXPECT_FALSE(store->isPwdPassed(""));

    root.writeFile(kConf,
        "[SECURITY]\nlicense=" + QByteArray::fromStdString(store->Encrypt("12AB")).toUpper()
            + "\n");
    EXPECT_TRUE(store->isSetPasswd());
    EXPECT_FALSE(store->isPwdPassed("12AB"));
    EXPECT_FALSE(store->isPwdPassed(""));
}

TEST_F(PasswordStore, FileChangedByAnotherProgram_SeenAtTheNextCheck)
{
    root.writeFile(
        kConf, "[SECURITY]\nlicense=" + QByteArray::fromStdString(store->Encrypt("1")) + "\n");
    EXPECT_FALSE(store->isPwdPassed("2"));
    root.writeFile(
        kConf, "[SECURITY]\nlicense=" + QByteArray::fromStdString(store->Encrypt("2")) + "\n");
    EXPECT_TRUE(store->isPwdPassed("2"));
}

TEST_F(PasswordStore, SetNewPwd_WrongOldPassword_LeavesFileUntouched)
{
    const QByteArray before
        = "[SECURITY]\r\nlicense=" + QByteArray::fromStdString(store->Encrypt("OLD")) + "\r\n";
    root.writeFile(kConf, before);
    EXPECT_FALSE(store->SetNewPwd("old", "NEW"));
    EXPECT_EQ(root.readFile(kConf), before);
    EXPECT_FALSE(store->isPwdPassed("NEW"));
}

TEST_F(PasswordStore, SetNewPwd_ChangesOnlyTheLicenseLine_ThenClearing_LetsEveryEntryPass)
{
    const QByteArray oldDigest = QByteArray::fromStdString(store->Encrypt("OLD"));
    const QByteArray head = "; HMI runtime settings\r\n[PROJECT]\r\nname=生产线 1\r\n"
                            "list=\"a, b\"\r\n\r\n[SECURITY]\r\nlevel=3\r\nlicense=";
    const QByteArray tail = "\r\nuser=operator\r\n\r\n[DISPLAY]\r\nbacklight=80\r\n";
    root.writeFile(kConf, head + oldDigest + tail);

    ASSERT_TRUE(store->SetNewPwd("OLD", "NEW9"));
    const QByteArray newDigest = QByteArray::fromStdString(store->Encrypt("NEW9"));
    EXPECT_EQ(root.readFile(kConf), head + newDigest + tail);
    EXPECT_TRUE(store->isPwdPassed("NEW9"));
    EXPECT_FALSE(store->isPwdPassed("OLD"));

    QSettings settings(root.path(kConf), QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    EXPECT_EQ(settings.value("PROJECT/name").toString(), QStringLiteral("生产线 1"));
    EXPECT_EQ(settings.value("PROJECT/list").toString(), QStringLiteral("a, b"));
    EXPECT_EQ(settings.value("DISPLAY/backlight").toInt(), 80);

    ASSERT_TRUE(store->SetNewPwd("NEW9", ""));
    EXPECT_EQ(root.readFile(kConf), head + tail);
    EXPECT_FALSE(store->isSetPasswd());
    EXPECT_TRUE(store->isPwdPassed(""));
    EXPECT_TRUE(store->isPwdPassed("whatever"));
}

TEST_F(PasswordStore, SetNewPwd_NoFileOrNoKey_AddsTheKeyInItsGroup)
{
    ASSERT_TRUE(store->SetNewPwd("", "1234"));
    EXPECT_EQ(root.readFile(kConf),
        "[SECURITY]\nlicense=" + QByteArray::fromStdString(store->Encrypt("1234")) + "\n");
    EXPECT_TRUE(store->isPwdPassed("1234"));

    root.writeFile(kConf, "[SECURITY]\nlevel=1\n\n[OTHER]\nlicense=keep\n");
    ASSERT_TRUE(store->SetNewPwd("any", "Z"));
    EXPECT_EQ(root.readFile(kConf),
        "[SECURITY]\nlevel=1\nlicense=" + QByteArray::fromStdString(store->Encrypt("Z"))
            + "\n\n[OTHER]\nlicense=keep\n");

    root.writeFile(kConf, "[OTHER]\nx=1");
    ASSERT_TRUE(store->SetNewPwd("any", "Q"));
    EXPECT_EQ(root.readFile(kConf),
        "[OTHER]\nx=1\n\n[SECURITY]\nlicense=" + QByteArray::fromStdString(store->Encrypt("Q"))
            + "\n");
    EXPECT_TRUE(store->isPwdPassed("Q"));
}

TEST_F(PasswordStore, ConfIsADirectory_NoPassword_WriteReportsFailure)
{
    ASSERT_TRUE(QDir().mkpath(root.path(kConf)));
    EXPECT_FALSE(store->CryptInit());
    EXPECT_TRUE(store->isPwdPassed("x"));
    EXPECT_FALSE(store->SetNewPwd("", "NEW"));
    EXPECT_TRUE(QFileInfo(root.path(kConf)).isDir());
}

TEST_F(PasswordStore, ConfUnreadable_NoPassword_WriteReportsFailureAndKeepsFile)
{
    const QByteArray content = "[SECURITY]\nlicense="
        + QByteArray::fromStdString(store->Encrypt("A")) + "\n[KEEP]\nk=v\n";
    const QString path = root.writeFile(kConf, content);
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0), 0);
    if (geteuid() != 0) {
        EXPECT_FALSE(store->CryptInit());
        EXPECT_TRUE(store->isPwdPassed("B"));
        EXPECT_FALSE(store->SetNewPwd("B", "C"));
    }
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_EQ(root.readFile(kConf), content);

    // A name that cannot be opened by anyone: a link that points at itself.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_EQ(symlink("vexo_app_conf.ini", QFile::encodeName(path).constData()), 0);
    EXPECT_FALSE(store->CryptInit());
    EXPECT_TRUE(store->isPwdPassed("B"));
    EXPECT_FALSE(store->SetNewPwd("B", "C"));
    EXPECT_TRUE(QFileInfo(path).isSymLink());
}

TEST_F(PasswordStore, ConfIsAPipe_NoPasswordAndNoWait)
{
    const QString path = root.path(kConf);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_FALSE(store->CryptInit());
    EXPECT_TRUE(store->isPwdPassed("x"));
    EXPECT_FALSE(store->SetNewPwd("", "NEW"));
}

TEST_F(PasswordStore, ConfIsGarbage_NoPassword_NewPasswordAppendedAfterTheOldBytes)
{
    QByteArray garbage("\x00\xff[[\x01=\x02\n\r\n==\xfe[unterminated\nkey\\\n\x7f", 30);
    root.writeFile(kConf, garbage);
    EXPECT_FALSE(store->CryptInit());
    EXPECT_TRUE(store->isPwdPassed("anything"));
    ASSERT_TRUE(store->SetNewPwd("x", "77"));
    EXPECT_TRUE(root.readFile(kConf).startsWith(garbage));
    EXPECT_TRUE(store->isPwdPassed("77"));
    EXPECT_FALSE(store->isPwdPassed("78"));
}
