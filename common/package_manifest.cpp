#include "package_manifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t BlockSize = 64 * 1024;
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

bool addFile(const QString &path, Sha256 *sha)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        const QByteArray block = file.read(BlockSize);
        if (block.isEmpty())
            return false;
        sha->add(block.constData(), size_t(block.size()));
    }
    return true;
}

} // namespace

void Sha256::Free::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256()
    : context(EVP_MD_CTX_new())
{
    if (context)
        EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::add(const char *data, size_t size)
{
    if (context && size > 0)
        EVP_DigestUpdate(context.get(), data, size);
}

QByteArray Sha256::hexDigest()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!context || EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return QByteArray();
    context.reset();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

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
    // Never blocks on a FIFO or a device: only regular files have a digest.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer { fd };
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    Sha256 sha;
    std::vector<char> buffer(BlockSize);
    qint64 size = 0;
    for (;;) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        if (count == 0)
            break;
        sha.add(buffer.data(), size_t(count));
        size += count;
    }
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
