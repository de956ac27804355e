// Runs of a signed stick on a panel that holds the key: the updater checks the whole stick again
// before it changes anything, whether the launcher started it or not and whatever changed since
// the launcher's check.
#include "language_choice.h"
#include "multilingual_manager.h"
#include "package_verifier.h"
#include "stick_signer.h"
#include "window_run.h"

#include <QDirIterator>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

QString text(int id)
{
    return MultilingualManager::GetInstance()->getMultilingualValue(id);
}

// Every file below folder with its contents: what the panel holds.
QMap<QString, QByteArray> treeOf(const QString &folder)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree.insert(path.mid(folder.size()), UpdatePackage::readFile(path));
    }
    return tree;
}

struct Tamper
{
    const char *name;
    std::function<void(WindowRun &, const QString &keyFolder)> change;
    int textId; // 0: the update runs
    QString named; // the text's %1
};

} // namespace

TEST(SignedRun, KeyOnThePanel_AnyChangeSinceTheBuildRefusedInRedBeforeThePanelChanges)
{
    const StickSigner author;
    const auto append = [](WindowRun &r, const QString &file) {
        const QString path = r.package.stick() + '/' + file;
        UpdatePackage::writeFile(path, UpdatePackage::readFile(path) + "x");
    };
    const QString ini = QStringLiteral("[UPDATE_CONFIG]\nPROGRAM_NUM=1\n"
                                       "[COPYFILE]\nCOPYFILENUM=1\nSRCPATH1=%2/files\nMODE1=2\n"
                                       "DESTPATH1=%1/usr/vexo_app/files/\n"
                                       "[PROGRAM1_CONFIG]\nPATH=%2/tool.sh\n");
    const Tamper cases[] = {
        { "signed and unchanged", [](WindowRun &, const QString &) {}, 0, {} },
        { "the description", {}, 2242, {} },
        { "a copied file",
            [&](WindowRun &r, const QString &) { append(r, "hixupdateu/files/a/b.txt"); }, 2243,
            "hixupdateu/files/a/b.txt" },
        { "the program", [&](WindowRun &r, const QString &) { append(r, "hixupdateu/tool.sh"); },
            2243, "hixupdateu/tool.sh" },
        { "the updater",
            [&](WindowRun &r, const QString &) { append(r, "hixupdateu/upgrunner.bin"); }, 2243,
            "hixupdateu/upgrunner.bin" },
        // The updater has shown the stick's language since it started: its refusal must not.
        { "a language file",
            [](WindowRun &r, const QString &) {
                const QString path = r.package.stick() + "/language/0000.lan";
                UpdatePackage::writeFile(
                    path, "[2000]\nstring=\"[成功]\"\n[2243]\nstring=\"ok\"\n");
                MultilingualManager::GetInstance()->loadMultilingualFile(
                    path, QString::fromLatin1(hix::BuiltinLanguageTable));
            },
            2243, "language/0000.lan" },
        { "the manifest",
            [&](WindowRun &r, const QString &) { append(r, "hixupdateu/update.manifest"); }, 2242,
            {} },
        { "the signature",
            [](WindowRun &r, const QString &) {
                const QString path = r.package.folder() + "/update.sig";
                QByteArray signature = UpdatePackage::readFile(path);
                signature[signature.size() - 2] = signature.endsWith("0\n") ? '1' : '0';
                UpdatePackage::writeFile(path, signature);
            },
            2242, {} },
        { "signed with another key",
            [](WindowRun &r, const QString &) {
                ASSERT_TRUE(StickSigner().sign(r.package.stick()));
            },
            2241, {} },
        { "unsigned",
            [](WindowRun &r, const QString &) {
                QFile::remove(r.package.folder() + "/update.sig");
            },
            2240, {} },
        { "garbage in the key folder",
            [](WindowRun &, const QString &keys) {
                QDir(keys).removeRecursively();
                UpdatePackage::writeFile(keys + "/panel.pub", "garbage\n");
            },
            2244, "KEYS" },
        { "an empty key folder, the stick unsigned",
            [](WindowRun &r, const QString &keys) {
                QDir(keys).removeRecursively();
                QDir().mkpath(keys);
                QFile::remove(r.package.folder() + "/update.sig");
            },
            0, {} },
    };
    for (const Tamper &c : cases) {
        WindowRun r;
        const QString keys = r.sysroot.path(TrustedKeys::PanelFolder);
        ASSERT_TRUE(author.install(keys));
        r.sysroot.writeFile("/usr/vexo_app/files/old.txt", "kept");
        r.sysroot.writeFile("/media/usb0/hixupdateu/files/a/b.txt", "payload");
        r.sysroot.writeFile("/media/usb0/hixupdateu/upgrunner.bin", "the updater");
        r.sysroot.writeFile("/media/usb0/language/0000.lan", "[2159]\nstring=\"Base\"\n");
        r.package.writeProgram("tool.sh", "exit 0");
        const QString description = ini.arg(r.sysroot.root(), r.package.folder());
        r.package.writeDescription(description);
        ASSERT_TRUE(author.sign(r.package.stick())) << c.name;
        if (c.change)
            c.change(r, keys);
        const QMap<QString, QByteArray> panel = treeOf(r.sysroot.path("/usr/vexo_app"));

        // A changed description is one the updater finds as it starts.
        r.run(c.change ? description : description + "[UPDATE_FINISH_CONFIG]\nBEEPNUM=1\n", false);

        if (c.textId == 0) {
            EXPECT_TRUE(r.window->isUpdateSuccess()) << c.name << r.log().constData();
            EXPECT_EQ(r.package.runsOf("tool.sh"), 1) << c.name;
            EXPECT_EQ(r.sysroot.readFile("/usr/vexo_app/files/a/b.txt"), "payload") << c.name;
            continue;
        }
        MultilingualManager::GetInstance()->loadMultilingualFile(
            QString(), QString::fromLatin1(hix::BuiltinLanguageTable));
        const QString expected = c.named.isEmpty() ? text(c.textId)
            : c.named == "KEYS"                    ? text(c.textId).arg(keys)
                                                   : text(c.textId).arg(c.named);
        EXPECT_FALSE(r.window->isUpdateSuccess()) << c.name;
        EXPECT_EQ(r.redLines(), QStringList { expected }) << c.name;
        EXPECT_TRUE(r.log().startsWith("[失败]\n")) << c.name;
        EXPECT_TRUE(QString::fromUtf8(r.log()).contains(expected)) << c.name;
        EXPECT_EQ(r.package.runsOf("tool.sh"), 0) << c.name;
        EXPECT_EQ(treeOf(r.sysroot.path("/usr/vexo_app")), panel) << c.name;
    }
}
