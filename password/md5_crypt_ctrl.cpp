#include "md5_crypt_ctrl.h"

#include "panel_path.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <openssl/evp.h>

#include <cstring>
#include <memory>

namespace {

const char *const PWD_CONF_PATH = "/usr/vexo_app/config/vexo_app_conf.ini";
// The settings key "/SECURITY/license", as group and key of the INI file.
const char *const PWD_GROUP = "SECURITY";
const char *const PWD_KEY = "license";

QString confPath()
{
    return hix::panelPath(QString::fromLatin1(PWD_CONF_PATH));
}

struct MdCtxFree
{
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};

// The "[group]" name of an INI line, or a null string when the line is no group header.
QByteArray groupOf(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.startsWith('[') && trimmed.endsWith(']'))
        return trimmed.mid(1, trimmed.size() - 2).trimmed();
    return QByteArray();
}

bool isKeyLine(const QByteArray &line, const QByteArray &key)
{
    const int eq = line.indexOf('=');
    return eq > 0 && line.left(eq).trimmed() == key;
}

// The stored value, read from the file itself on every check: a settings cache could miss a
// rewrite by the HMI runtime that keeps the file's size and time stamp.
QByteArray readLicense(const QString &path)
{
    // Only a regular file is read: opening a pipe of that name would wait for a writer forever.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray value;
    bool inGroup = false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QByteArray group = groupOf(line);
        if (!group.isNull()) {
            inGroup = group == PWD_GROUP;
            continue;
        }
        if (!inGroup || !isKeyLine(line, PWD_KEY))
            continue;
        value = line.mid(line.indexOf('=') + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
    }
    return value;
}

} // namespace

md5_crypt_ctrl *md5_crypt_ctrl::GetInstance()
{
    static md5_crypt_ctrl instance;
    return &instance;
}

bool md5_crypt_ctrl::CryptInit()
{
    loaded = true;
    const QString path = confPath();
    if (!QFile::exists(path))
        return false;
    // A directory, an unreadable file or garbage gives no value, which reads as no password.
    storedHash = readLicense(path).toStdString();
    return !storedHash.empty();
}

bool md5_crypt_ctrl::isSetPasswd()
{
    if (CryptInit())
        return true;
    return !loaded;
}

bool md5_crypt_ctrl::isPwdPassed(const std::string &passwd)
{
    if (!CryptInit())
        return true;
    return Encrypt(passwd) == storedHash;
}

bool md5_crypt_ctrl::SetNewPwd(const std::string &oldPasswd, const std::string &newPasswd)
{
    if (!isPwdPassed(oldPasswd))
        return false;
    if (newPasswd.empty())
        return writeLicense(std::string());
    const std::string digest = Encrypt(newPasswd);
    if (digest.empty())
        return false;
    return writeLicense(digest);
}

std::string md5_crypt_ctrl::Encrypt(const std::string &text)
{
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1
        || EVP_DigestUpdate(ctx.get(), text.data(), text.size()) != 1
        || EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1 || length != 16) {
        qWarning() << "md5_crypt_ctrl: the MD5 digest could not be computed";
        return std::string();
    }
    char out[64] = {};
    std::strncpy(out, hexstr(digest, static_cast<int>(length)), 32);
    return std::string(out);
}

const char *md5_crypt_ctrl::hexstr(const unsigned char *bytes, int count)
{
    static char str[65];
    static const char digits[] = "0123456789abcdef";
    std::memset(str, 0, sizeof str);
    if (!bytes || count <= 0)
        return str;
    if (count > 32)
        count = 32;
    char *tmp = str;
    for (int i = 0; i < count; ++i) {
        *tmp++ = digits[bytes[i] >> 4];
        *tmp++ = digits[bytes[i] & 0x0f];
    }
    *tmp = '\0';
    return str;
}

// The key is edited in the file's own bytes rather than through a settings writer, which would
// rewrite the whole file and re-encode the HMI runtime's other entries and comments.
bool md5_crypt_ctrl::writeLicense(const std::string &value)
{
    const QString path = confPath();
    QByteArray content;
    // A name that is there but cannot be read is never replaced: that would lose the HMI
    // runtime's other settings.
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        QFile in(path);
        if (!info.isFile() || !in.open(QIODevice::ReadOnly)) {
            qWarning() << "md5_crypt_ctrl: cannot read" << path << in.errorString();
            return false;
        }
        content = in.readAll();
    } else {
        QDir().mkpath(QFileInfo(path).path());
    }

    const QByteArray eol = content.contains("\r\n") ? QByteArrayLiteral("\r\n") : "\n";
    const QByteArray keyLine = QByteArray(PWD_KEY) + '=' + QByteArray::fromStdString(value);
    QList<QByteArray> lines = content.split('\n');
    const bool endedWithNewline = content.isEmpty() || content.endsWith('\n');
    if (endedWithNewline)
        lines.removeLast();

    bool inGroup = false;
    bool seenGroup = false;
    bool replaced = false;
    int insertAt = -1; // after the last non-empty line of the first "[SECURITY]" group
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray group = groupOf(lines[i]);
        if (!group.isNull()) {
            inGroup = group == PWD_GROUP;
            if (inGroup && !seenGroup)
                insertAt = i + 1;
            seenGroup = seenGroup || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        if (isKeyLine(lines[i], PWD_KEY)) {
            lines[i] = keyLine + (lines[i].endsWith('\r') ? "\r" : "");
            replaced = true;
        }
        if (insertAt == i && !lines[i].trimmed().isEmpty())
            insertAt = i + 1;
    }

    const QByteArray lineEnd = eol == "\r\n" ? QByteArrayLiteral("\r") : QByteArray();
    if (!replaced) {
        if (insertAt >= 0) {
            lines.insert(insertAt, keyLine + lineEnd);
        } else {
            if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
                lines.append(lineEnd);
            lines.append(QByteArray("[") + PWD_GROUP + "]" + lineEnd);
            lines.append(keyLine + lineEnd);
        }
    }

    QByteArray out = lines.join('\n');
    if (endedWithNewline || !replaced)
        out += '\n';

    // Written beside the old file and renamed over it, so a power cut leaves the old or the new
    // file but never half of one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit()) {
        qWarning() << "md5_crypt_ctrl: cannot write" << path << file.errorString();
        return false;
    }
    return true;
}
