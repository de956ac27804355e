#include "package_manifest.h"

#include "file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using hix::io::Sha256;

namespace {

constexpr int DigestHexLength = 64;

bool isLowerHex(const QByteArray &text)
{
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The file fed into sha; false when it cannot be read whole.
bool addFile(const QString &path, Sha256 *sha)
{
    return hix::io::digestFile(path, nullptr, sha, nullptr);
}

} // namespace

bool PackageManifest::isValidPath(const QString &relativePath)
{
    if (relativePath.isEmpty() || relativePath.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : relativePath) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    const QStringList parts = relativePath.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

bool PackageManifest::parse(const QByteArray &bytes, QString *error)
{
    const auto refuse = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    entries.clear();
    if (!bytes.endsWith('\n'))
        return refuse(QStringLiteral("does not end with a line end"));
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast();
    if (lines.isEmpty() || lines.first() != HeaderLine)
        return refuse(QStringLiteral("does not begin with \"%1\"").arg(QLatin1String(HeaderLine)));
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const int first = line.indexOf(' ');
        const int second = first < 0 ? -1 : line.indexOf(' ', first + 1);
        const QByteArray sha = line.left(first);
        const QByteArray sizeText = line.mid(first + 1, second - first - 1);
        bool ok = second > 0 && sha.size() == DigestHexLength && isLowerHex(sha)
            && !sizeText.isEmpty() && !sizeText.startsWith('+') && !sizeText.startsWith('-');
        const qint64 size = ok ? sizeText.toLongLong(&ok) : -1;
        const QByteArray path = ok ? line.mid(second + 1) : QByteArray();
        const QString decoded = QString::fromUtf8(path);
        if (!ok || decoded.toUtf8() != path || !isValidPath(decoded))
            return refuse(QStringLiteral("line %1 is not \"<sha256> <size> <path>\"").arg(i + 1));
        if (!entries.emplace(path, Entry { size, sha }).second)
            return refuse(QStringLiteral("line %1 names \"%2\" again").arg(i + 1).arg(decoded));
    }
    return true;
}

QByteArray PackageManifest::toBytes() const
{
    QByteArray out = QByteArray(HeaderLine) + '\n';
    for (const auto &item : entries)
        out += item.second.sha256 + ' ' + QByteArray::number(item.second.size) + ' ' + item.first
            + '\n';
    return out;
}

bool PackageManifest::insert(const QString &relativePath, const Entry &entry)
{
    if (!isValidPath(relativePath))
        return false;
    entries[relativePath.toUtf8()] = entry;
    return true;
}

void PackageManifest::setStickRoot(const QString &stickRoot)
{
    root = cleanAbsolute(stickRoot);
}

QString PackageManifest::relativePath(const QString &path) const
{
    if (root.isEmpty())
        return QString();
    const QString absolute = cleanAbsolute(path);
    const QString prefix = root == QLatin1String("/") ? root : root + QLatin1Char('/');
    return absolute.startsWith(prefix) ? absolute.mid(prefix.size()) : QString();
}

const PackageManifest::Entry *PackageManifest::find(const QString &path) const
{
    const QString relative = relativePath(path);
    if (relative.isEmpty())
        return nullptr;
    const auto it = entries.find(relative.toUtf8());
    return it == entries.end() ? nullptr : &it->second;
}

QStringList PackageManifest::filesIn(const QString &folder, bool recursive) const
{
    QStringList files;
    const QString relative = relativePath(folder);
    if (relative.isEmpty())
        return files;
    const QByteArray prefix = relative.toUtf8() + '/';
    for (auto it = entries.lower_bound(prefix); it != entries.end() && it->first.startsWith(prefix);
         ++it) {
        if (!recursive && it->first.indexOf('/', prefix.size()) >= 0)
            continue;
        files << root + QLatin1Char('/') + QString::fromUtf8(it->first);
    }
    return files;
}

bool fileDigest(const QString &path, PackageManifest::Entry *digest)
{
    Sha256 sha;
    qint64 size = 0;
    if (!hix::io::digestFile(path, nullptr, &sha, &size))
        return false;
    digest->size = size;
    digest->sha256 = sha.hexDigest();
    return !digest->sha256.isEmpty();
}

QString packageDigest(const QString &folder)
{
    Sha256 sha;
    if (!addFile(QDir(folder).filePath(QStringLiteral("update.ini")), &sha))
        return QString();
    const QString manifest = QDir(folder).filePath(QLatin1String(PackageManifest::FileName));
    if (QFileInfo::exists(manifest)) {
        // The two parts are told apart, so no description can pass for another plus a manifest.
        sha.add("\0manifest\0", 10);
        if (!addFile(manifest, &sha))
            return QString();
    }
    return QString::fromLatin1(sha.hexDigest());
}
