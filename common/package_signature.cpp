#include "package_signature.h"

#include "file_io.h"
#include "package_manifest.h"
#include "panel_path.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

using hix::io::Sha256;

namespace {

constexpr int KeyIdLength = 64;
constexpr int SignatureLength = 64;
// A PEM public key is a few hundred bytes; a large file is not one and is not read whole.
constexpr qint64 KeyFileLimit = 64 * 1024;
const QByteArray AlgorithmLine("algorithm ed25519");
const QByteArray KeyPrefix("key ");
const QByteArray SignaturePrefix("signature ");

bool isLowerHex(const QByteArray &text, int length)
{
    if (text.size() != length)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

QByteArray digestLine(const char *name, const QByteArray &bytes)
{
    Sha256 sha;
    sha.add(bytes.constData(), size_t(bytes.size()));
    return QByteArray(name) + ' ' + QByteArray::number(bytes.size()) + ' ' + sha.hexDigest() + '\n';
}

} // namespace

bool PackageSignature::parse(const QByteArray &bytes, QString *error)
{
    const auto refuse = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    keyId.clear();
    signature.clear();
    QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() != 5 || !lines.last().isEmpty())
        return refuse(QStringLiteral("is not four lines, each ending in a line end"));
    if (lines[0] != HeaderLine)
        return refuse(QStringLiteral("does not begin with \"%1\"").arg(QLatin1String(HeaderLine)));
    if (lines[1] != AlgorithmLine)
        return refuse(QStringLiteral("names no algorithm but \"%1\"")
                          .arg(QString::fromLatin1(AlgorithmLine)));
    const QByteArray id = lines[2].mid(KeyPrefix.size());
    if (!lines[2].startsWith(KeyPrefix) || !isLowerHex(id, KeyIdLength))
        return refuse(QStringLiteral("line 3 is not \"key <64 hex digits>\""));
    const QByteArray hex = lines[3].mid(SignaturePrefix.size());
    if (!lines[3].startsWith(SignaturePrefix) || !isLowerHex(hex, 2 * SignatureLength))
        return refuse(QStringLiteral("line 4 is not \"signature <128 hex digits>\""));
    keyId = id;
    signature = QByteArray::fromHex(hex);
    return true;
}

QByteArray PackageSignature::toBytes() const
{
    return QByteArray(HeaderLine) + '\n' + AlgorithmLine + '\n' + KeyPrefix + keyId + '\n'
        + SignaturePrefix + signature.toHex() + '\n';
}

QByteArray PackageSignature::statement(const QByteArray &description, const QByteArray &manifest)
{
    return "hix-signed-package 1\n" + digestLine("update.ini", description)
        + digestLine(PackageManifest::FileName, manifest);
}

TrustedKeys TrustedKeys::ofPanel()
{
    return fromFolder(hix::panelPath(QLatin1String(PanelFolder)));
}

TrustedKeys TrustedKeys::fromFolder(const QString &folder)
{
    TrustedKeys result;
    result.where = folder;
    const QFileInfo info(folder);
    if (!info.exists() && !info.isSymLink())
        return result;
    if (!info.isDir()) {
        result.isInstalled = true;
        result.unusable << QStringLiteral("%1: not a folder").arg(folder);
        return result;
    }
    const QDir dir(folder);
    const QStringList entries = dir.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    // A folder that cannot be listed may hold keys all the same.
    result.isInstalled = !entries.isEmpty() || !info.isReadable() || !info.isExecutable();
    if (entries.isEmpty() && result.isInstalled)
        result.unusable << QStringLiteral("%1: cannot be listed").arg(folder);
    for (const QString &name : entries) {
        if (name.endsWith(QLatin1String(Suffix)))
            result.add(dir.filePath(name));
        else
            result.unusable << QStringLiteral("%1: not named *%2").arg(name, QLatin1String(Suffix));
    }
    return result;
}

TrustedKeys TrustedKeys::fromFile(const QString &file)
{
    TrustedKeys result;
    result.where = file;
    result.isInstalled = true;
    result.add(file);
    return result;
}

void TrustedKeys::add(const QString &file)
{
    QFile in(file);
    QString error = QStringLiteral("cannot be read");
    if (QFileInfo(file).isFile() && in.open(QIODevice::ReadOnly)) {
        PackageKey key = PackageKey::fromPublicPem(in.read(KeyFileLimit), &error);
        if (!key.isNull()) {
            keys.push_back(std::move(key));
            return;
        }
    }
    unusable << QStringLiteral("%1: %2").arg(QFileInfo(file).fileName(), error);
}

const PackageKey *TrustedKeys::find(const QByteArray &id) const
{
    for (const PackageKey &key : keys) {
        if (key.id() == id)
            return &key;
    }
    return nullptr;
}
