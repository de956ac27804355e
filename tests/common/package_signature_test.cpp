#include "package_verifier.h"
#include "stick_signer.h"
#include "temp_sysroot.h"

#include <QDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct KeyFolderCase
{
    const char *name;
    std::function<void(const QString &folder, const PackageKey &key)> make;
    bool installed;
    bool usable;
};

void writeTo(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_TRUE(StickSigner::save(path, bytes)) << qPrintable(path);
}

} // namespace

TEST(TrustedKeys, EmptyFolderIsNoKey_AnythingElseNeedsAUsableKeyOrRefusesEveryStick)
{
    const KeyFolderCase cases[] = {
        { "missing", [](const QString &, const PackageKey &) {}, false, false },
        { "empty", [](const QString &f, const PackageKey &) { QDir().mkpath(f); }, false, false },
        { "garbage only",
            [](const QString &f, const PackageKey &) {
                writeTo(f + "/panel.pub", "not a key\n");
                writeTo(f + "/README", "keys go here\n");
            },
            true, false },
        { "an empty key file",
            [](const QString &f, const PackageKey &) { writeTo(f + "/panel.pub", ""); }, true,
            false },
        { "a private key named .pub",
            [](const QString &f, const PackageKey &key) {
                writeTo(f + "/panel.pub", key.privatePem());
            },
            true, false },
        { "a file where the folder belongs",
            [](const QString &f, const PackageKey &key) { writeTo(f, key.publicPem()); }, true,
            false },
        { "a key beside garbage",
            [](const QString &f, const PackageKey &key) {
                writeTo(f + "/broken.pub", "-----BEGIN PUBLIC KEY-----\n");
                writeTo(f + "/panel.pub", key.publicPem());
            },
            true, true },
    };
    for (const KeyFolderCase &c : cases) {
        TempSysroot panel;
        const PackageKey key = PackageKey::generate();
        c.make(panel.path(TrustedKeys::PanelFolder), key);
        const TrustedKeys keys = TrustedKeys::ofPanel();
        EXPECT_EQ(keys.installed(), c.installed) << c.name;
        EXPECT_EQ(keys.usable(), c.usable) << c.name;
        EXPECT_EQ(keys.find(key.id()) != nullptr, c.usable) << c.name;
        EXPECT_EQ(keys.find(PackageKey::generate().id()), nullptr) << c.name;

        // Verification never silently switches itself off: garbage refuses every stick.
        PackageVerifier verifier(panel.path("/media/usb0/hixupdateu"), TrustedKeys::ofPanel());
        verifier.checkSignature();
        const PackageVerifier::Outcome expected = !c.installed ? PackageVerifier::NoKeyInstalled
            : c.usable                                         ? PackageVerifier::Unsigned
                                                               : PackageVerifier::KeysUnusable;
        EXPECT_EQ(verifier.outcome(), expected) << c.name;
    }
}

TEST(PackageVerifier, ListedFiles_TheRunChecksWhatItCopiesStartsAndBacksUp_TheRestUpFront)
{
    TempSysroot panel;
    panel.writeFile("/media/usb0/hixupdateu/update.ini", "");
    PackageManifest manifest;
    manifest.setStickRoot(panel.path("/media/usb0"));
    const QString package = panel.path("/media/usb0/hixupdateu");
    const QVector<PackageVerifier::Source> sources = {
        { package + "/version.txt", 0 },
        { package + "/fonts", 1 },
        { package + "/runtime", 2 },
        { panel.path("/usr/vexo_app/config"), 2 },
    };
    const auto checked = [&](const char *relative) {
        return PackageVerifier::checkedOnRead(sources, manifest, relative);
    };
    EXPECT_TRUE(checked("hixupdateu/version.txt"));
    EXPECT_TRUE(checked("hixupdateu/fonts/sans.ttf"));
    EXPECT_FALSE(checked("hixupdateu/fonts/unused/readme.txt"));
    EXPECT_TRUE(checked("hixupdateu/runtime/lib/deep/libx.so"));
    EXPECT_FALSE(checked("hixupdateu/runtime2/x"));
    EXPECT_FALSE(checked("hixupdateu/install_config.sh"));
    EXPECT_FALSE(checked("hixupdateu/upgrunner.bin"));
    EXPECT_FALSE(checked("hixlib/libQt5Core.so.5"));
}
