#include "package_manifest.h"
#include "temp_sysroot.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

namespace {

PackageManifest::Entry entryOf(const QByteArray &content)
{
    return { content.size(),
        QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() };
}

} // namespace

TEST(PackageManifest, Bytes_SortedByPath_ReadBackAsWritten_FileDigestAgrees)
{
    TempSysroot dir;
    const QString file = dir.writeFile("/stick/hixupdateu/a b/é.bin", "content");
    PackageManifest manifest;
    ASSERT_TRUE(manifest.insert(QStringLiteral("hixupdateu/z"), entryOf("z")));
    ASSERT_TRUE(manifest.insert(QStringLiteral("hixupdateu/a b/é.bin"), entryOf("content")));
    const QByteArray bytes = manifest.toBytes();
    EXPECT_EQ(bytes,
        "hix-manifest 1\n" + entryOf("content").sha256 + " 7 hixupdateu/a b/\xC3\xA9.bin\n"
            + entryOf("z").sha256 + " 1 hixupdateu/z\n");

    PackageManifest read;
    ASSERT_TRUE(read.parse(bytes));
    EXPECT_EQ(read.toBytes(), bytes);
    read.setStickRoot(dir.path("/stick"));
    PackageManifest::Entry actual;
    ASSERT_TRUE(fileDigest(file, &actual));
    ASSERT_TRUE(read.find(file));
    EXPECT_EQ(*read.find(file), actual);
    EXPECT_EQ(read.find(dir.path("/elsewhere/a")), nullptr);
    EXPECT_EQ(read.filesIn(dir.path("/stick/hixupdateu"), false),
        QStringList { dir.path("/stick/hixupdateu/z") });
    EXPECT_EQ(read.filesIn(dir.path("/stick/hixupdateu"), true).size(), 2);
}

TEST(PackageManifest, AnythingButTheExactFormat_IsRefused)
{
    const QByteArray sha = entryOf("x").sha256;
    const QList<QByteArray> broken { QByteArray("hix-manifest 2\n"),
        "hix-manifest 1\n" + sha + " 1 a\n" + sha + " 1 a\n", // twice
        "hix-manifest 1\n" + sha.toUpper() + " 1 a\n", "hix-manifest 1\n" + sha + " -1 a\n",
        "hix-manifest 1\n" + sha + " 1 a/../b\n", "hix-manifest 1\n" + sha + " 1 a" };
    for (const QByteArray &bytes : broken) {
        PackageManifest manifest;
        QString error;
        EXPECT_FALSE(manifest.parse(bytes, &error)) << bytes.constData();
        EXPECT_FALSE(error.isEmpty());
    }
    PackageManifest manifest;
    EXPECT_FALSE(manifest.insert(QStringLiteral("a\nb"), entryOf("x")));
}
