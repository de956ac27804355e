// Deploying and removing VNC support with real files on an emulated panel and stick.
#include "vnc_fixture.h"

#include <QFileInfo>
#include <QTest>

namespace {

QByteArray pattern(qint64 size)
{
    QByteArray bytes(static_cast<int>(size), '\0');
    for (qint64 i = 0; i < size; ++i)
        bytes[static_cast<int>(i)] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes;
}

} // namespace

class VncDeploy : public VncToolTest
{
protected:
    QString panel(const char *path) const { return root.path(path); }

    QByteArray copyGroup(
        const char *name, const char *src, const QString &desdir, const QString &des)
    {
        return QByteArray("[") + name + "]\nsrc=" + src + "\ndesdir=" + desdir.toUtf8()
            + "\ndes=" + des.toUtf8() + "\n";
    }
};

TEST_F(VncDeploy, FileList_UsesCopyGroupsOnly_SkipsIncompleteOnes_ReadsDeleteGroup)
{
    writePackage("####\n[Copy2]\nsrc=a\ndesdir=/x\ndes=/x/a\n"
                 "[copy]\nsrc=b\ndesdir=/y\ndes=/y/b\n"
                 "[copy3]\nsrc=c\ndesdir=\ndes=/z/c\n"
                 "[copyX]\nsrc=d\ndesdir=/w\ndes=/w/d\n"
                 "[other]\nsrc=e\ndesdir=/v\ndes=/v/e\n"
                 "[delete]\nf1=/p/one\nf2=/p/two\n");
    vnc window;
    ASSERT_TRUE(window.initFileList());
    ASSERT_EQ(window.copyList().size(), 2);
    EXPECT_EQ(window.copyList()[0].src, stick + "/hixbackup/b");
    EXPECT_EQ(window.copyList()[0].des, QStringLiteral("/y/b"));
    EXPECT_EQ(window.copyList()[1].src, stick + "/hixbackup/d");
    EXPECT_EQ(window.deleteList(), QStringList({ "/p/one", "/p/two" }));
}

TEST_F(VncDeploy, Deploy_CopiesEveryEntryExactly_ReplacesADirectoryDestination)
{
    const QByteArray big = pattern(1024 * 1024 + 1);
    const QByteArray exact = pattern(1024 * 1024);
    writeStickFile("hixbackup/vnc/libqgfxvnc.so", big);
    writeStickFile("hixbackup/vnc/exact.bin", exact);
    writeStickFile("hixbackup/vnc/empty.env", QByteArray());
    writeStickFile("hixbackup/vnc/vncConfig.ini", "[VNCCONFIG]\nrunStatus=1\npasswd=\n");
    const QString plugins = panel("/usr/plugins/gfxdrivers");
    // A directory of the destination's name is in the way, with content.
    root.writeFile("/usr/plugins/gfxdrivers/exact.bin/stale/file", "old");
    root.writeFile(OldVncConfig, "[VNCCONFIG]\nrunStatus=1\n");

    writePackage("####\n"
        + copyGroup("copy1", "vnc/libqgfxvnc.so", plugins, plugins + "/libqgfxvnc.so")
        + copyGroup("copy2", "vnc/exact.bin", plugins, plugins + "/exact.bin")
        + copyGroup("copy3", "vnc/empty.env", panel("/etc/init.d/envs.d"),
            panel("/etc/init.d/envs.d/99-vnc.env"))
        + copyGroup("copy4", "vnc/vncConfig.ini", panel("/etc/iot_cfg"), panel(VncConfig)));
    vnc window;
    ASSERT_TRUE(window.isInstalled()); // through the older configuration

    QString title, message;
    ModalScript script;
    script.answerBox(nullptr, nullptr, QStringLiteral("确认")).answerBox(&title, &message);
    StderrCapture errors;
    script.run([&] { QTest::mouseClick(window.setVNC_Bt, Qt::LeftButton); });

    EXPECT_TRUE(script.allStepsDone());
    EXPECT_TRUE(errors.text().contains(
        "real copy a empty file:" + panel("/etc/init.d/envs.d/99-vnc.env").toUtf8()));
    EXPECT_EQ(title, QStringLiteral("提示"));
    EXPECT_EQ(message, QStringLiteral("部署成功，重启后生效，\n初始密码：27364850"));
    EXPECT_EQ(root.readFile("/usr/plugins/gfxdrivers/libqgfxvnc.so"), big);
    EXPECT_EQ(root.readFile("/usr/plugins/gfxdrivers/exact.bin"), exact);
    EXPECT_TRUE(QFileInfo(panel("/usr/plugins/gfxdrivers/exact.bin")).isFile());
    EXPECT_TRUE(QFileInfo::exists(panel("/etc/init.d/envs.d/99-vnc.env")));
    EXPECT_EQ(QFileInfo(panel("/etc/init.d/envs.d/99-vnc.env")).size(), 0);
    EXPECT_FALSE(QFileInfo::exists(panel(OldVncConfig)));
    EXPECT_TRUE(window.isInstalled());
}

TEST_F(VncDeploy, Deploy_MissingSource_ReportsTheDestinationAndStops_EarlierCopiesStay)
{
    writeStickFile("hixbackup/one", "1");
    writeStickFile("hixbackup/three", "3");
    const QString dir = panel("/usr/plugins/gfxdrivers");
    writePackage("####\n" + copyGroup("copy1", "one", dir, dir + "/one")
        + copyGroup("copy2", "missing", dir, dir + "/two")
        + copyGroup("copy3", "three", dir, dir + "/three"));
    vnc window;
    QString title, message;
    ModalScript script;
    script.answerBox(&title, &message);
    StderrCapture errors;
    script.run([&] { QTest::mouseClick(window.setVNC_Bt, Qt::LeftButton); });

    EXPECT_EQ(title, QStringLiteral("警告"));
    EXPECT_EQ(message, "部署失败:" + dir + "/two" + "拷贝失败！");
    EXPECT_TRUE(errors.text().contains("stat src path:" + stick.toUtf8()
        + "/hixbackup/missing failed! No such file or directory"));
    EXPECT_EQ(root.readFile("/usr/plugins/gfxdrivers/one"), "1");
    EXPECT_FALSE(QFileInfo::exists(dir + "/two"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/three"));
}

TEST_F(VncDeploy, Deploy_DirectoryCannotBeCreated_ReportsTheDirectory)
{
    writeStickFile("hixbackup/one", "1");
    root.writeFile("/usr/plugins", "a file where a folder should be");
    const QString dir = panel("/usr/plugins/gfxdrivers");
    writePackage("####\n" + copyGroup("copy1", "one", dir, dir + "/one"));
    vnc window;
    QString title, message;
    ModalScript script;
    script.answerBox(&title, &message);
    script.run([&] { QTest::mouseClick(window.setVNC_Bt, Qt::LeftButton); });
    EXPECT_EQ(title, QStringLiteral("警告"));
    EXPECT_EQ(message, "部署失败:" + dir + "创建失败！");
}

TEST_F(VncDeploy, Deploy_PackageMissingOrNotScrambled_WarnsInsteadOfSuccess)
{
    // An old plain copy of an earlier run must not be deployed from.
    root.writeFile("/tmp/vncInstall.ini", "[copy1]\nsrc=x\ndesdir=/a\ndes=/a/x\n");
    EXPECT_FALSE(vnc_startup::unscramblePackage(stick));
    vnc window;
    window.initFileList();
    EXPECT_TRUE(window.copyList().isEmpty());

    writeStickFile("hixbackup/vnc.ini", "####\n[copy1]\nsrc=x\ndesdir=/a\ndes=/a/x\n");
    EXPECT_FALSE(vnc_startup::unscramblePackage(stick));
    QString title, message;
    ModalScript script;
    script.answerBox(&title, &message);
    script.run([&] { QTest::mouseClick(window.setVNC_Bt, Qt::LeftButton); });
    EXPECT_EQ(title, QStringLiteral("警告"));
    EXPECT_EQ(message, QStringLiteral("VNC配置文件错误"));
    EXPECT_FALSE(window.isInstalled());
}

TEST_F(VncDeploy, Redeploy_AsksFirst_CancelCopiesNothing_ConfirmCopiesWithoutSignIn)
{
    markDeployed();
    writeStickFile("hixbackup/one", "new");
    const QString dir = panel("/usr/plugins/gfxdrivers");
    root.writeFile("/usr/plugins/gfxdrivers/one", "old");
    writePackage("####\n" + copyGroup("copy1", "one", dir, dir + "/one"));
    vnc window;

    QString title, question;
    ModalScript cancel;
    cancel.answerBox(&title, &question, QStringLiteral("取消"));
    cancel.run([&] { QTest::mouseClick(window.setVNC_Bt, Qt::LeftButton); });
    EXPECT_TRUE(cancel.allStepsDone());
    EXPECT_EQ(title, QStringLiteral("部署VNC"));
    EXPECT_EQ(question, QStringLiteral("当前屏已部署VNC，是否重复部署"));
    EXPECT_EQ(root.readFile("/usr/plugins/gfxdrivers/one"), "old");

    QString result;
    ModalScript confirm;
    confirm.answerBox(nullptr, nullptr, QStringLiteral("确认")).answerBox(nullptr, &result);
    confirm.run([&] { QTest::mouseClick(window.setVNC_Bt, Qt::LeftButton); });
    EXPECT_TRUE(confirm.allStepsDone());
    EXPECT_EQ(result, text(3009));
    EXPECT_EQ(root.readFile("/usr/plugins/gfxdrivers/one"), "new");
}

TEST_F(VncDeploy, Remove_NotDeployed_SaysSoAndDeletesNothing)
{
    root.writeFile("/usr/plugins/gfxdrivers/libqgfxvnc.so", "x");
    writePackage(
        "####\n[delete]\nf1=" + panel("/usr/plugins/gfxdrivers/libqgfxvnc.so").toUtf8() + "\n");
    vnc window;
    QString title, message;
    ModalScript script;
    script.answerBox(&title, &message);
    script.run([&] { QTest::mouseClick(window.removeVNC_Bt, Qt::LeftButton); });
    EXPECT_EQ(title, QStringLiteral("移除VNC"));
    EXPECT_EQ(message, QStringLiteral("当前屏未部署VNC，无需移除"));
    EXPECT_TRUE(QFileInfo::exists(panel("/usr/plugins/gfxdrivers/libqgfxvnc.so")));
}

TEST_F(VncDeploy, Remove_DeletesFilesLinksAndFolders_MissingEntriesCountAsDeleted)
{
    markDeployed();
    root.writeFile(OldVncConfig, "[VNCCONFIG]\n");
    root.writeFile("/usr/plugins/gfxdrivers/libqgfxvnc.so", "x");
    root.writeFile("/usr/plugins/gfxdrivers/keep.so", "keep");
    root.writeFile("/usr/vnc/sub/deep/file", "x");
    const QString link = panel("/usr/plugins/gfxdrivers/link.so");
    ASSERT_TRUE(QFile::link(panel("/usr/plugins/gfxdrivers/keep.so"), link));
    writePackage("####\n[delete]\na=" + panel("/usr/plugins/gfxdrivers/libqgfxvnc.so").toUtf8()
        + "\nb=" + panel("/nothing/here").toUtf8() + "\nc=" + link.toUtf8()
        + "\nd=" + panel("/usr/vnc").toUtf8() + "\ne=" + panel(VncConfig).toUtf8() + "\n");
    vnc window;
    QString title, message;
    ModalScript script;
    script.answerBox(&title, &message);
    script.run([&] { QTest::mouseClick(window.removeVNC_Bt, Qt::LeftButton); });

    EXPECT_EQ(message, QStringLiteral("移除完成！"));
    EXPECT_FALSE(QFileInfo::exists(panel("/usr/plugins/gfxdrivers/libqgfxvnc.so")));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(root.readFile("/usr/plugins/gfxdrivers/keep.so"), "keep");
    EXPECT_FALSE(QFileInfo::exists(panel("/usr/vnc")));
    EXPECT_FALSE(QFileInfo::exists(panel(OldVncConfig)));
    EXPECT_FALSE(window.isInstalled());
    EXPECT_TRUE(window.deleteFile(QFile::encodeName(panel("/nothing/here")).constData()));
}
