#include "hal_substitute.h"

#include "panel_path.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <openssl/aes.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int IdentityLength = 16;

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(4096);
}

int32_t statusFrom(const QString &path)
{
    bool ok = false;
    const int value = QString::fromUtf8(readSmallFile(path)).trimmed().toInt(&ok);
    return ok ? value : 0;
}

// The panel's identity block, created once when the emulated panel has none yet.
bool identity(unsigned char out[IdentityLength])
{
    const QString path = hal_substitute::folder() + QLatin1String("/panel_id");
    QByteArray bytes = QByteArray::fromHex(readSmallFile(path).trimmed());
    if (bytes.size() != IdentityLength) {
        bytes.resize(IdentityLength);
        if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), IdentityLength) != 1)
            return false;
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(bytes.toHex() + '\n');
        if (!file.commit()) {
            qWarning() << "hal substitute: cannot write" << path;
            return false;
        }
    }
    std::memcpy(out, bytes.constData(), IdentityLength);
    return true;
}

} // namespace

QString hal_substitute::folder()
{
    const QString root = hix::sysroot();
    return root.isEmpty() ? QString() : hix::panelPath(QStringLiteral("/run/vexo-hal"));
}

bool hal_substitute::available()
{
    const QString dir = folder();
    return !dir.isEmpty() && QFileInfo(dir).isDir();
}

int hal_substitute::getPlatformId(
    const hal_netlink_cmd_get_id_req *req, hal_netlink_cmd_get_id_resp *resp)
{
    if (!req || !resp || req->keyLen != IdentityLength)
        return -EINVAL;
    std::memset(resp, 0, sizeof(*resp));
    resp->status = statusFrom(folder() + QLatin1String("/id_status"));
    if (resp->status != 0)
        return 0;
    unsigned char plain[IdentityLength];
    if (!identity(plain))
        return -EIO;
    AES_KEY key;
    AES_set_encrypt_key(req->key, 128, &key);
    unsigned char cipher[IdentityLength];
    AES_ecb_encrypt(plain, cipher, &key, AES_ENCRYPT);
    for (int i = 0; i < IdentityLength; ++i)
        resp->idBlock[i] = cipher[i] ^ req->key[i];
    return 0;
}

int hal_substitute::getPlatformInfo(hal_netlink_cmd_get_platform_info_resp *resp)
{
    if (!resp)
        return -EINVAL;
    std::memset(resp, 0, sizeof(*resp));
    resp->status = statusFrom(folder() + QLatin1String("/info_status"));
    if (resp->status != 0)
        return 0;
    const QList<QByteArray> lines
        = readSmallFile(folder() + QLatin1String("/platform_info")).split('\n');
    for (int i = 0; i < 4 && i < lines.size(); ++i) {
        QByteArray text = lines.at(i);
        if (text.endsWith('\r'))
            text.chop(1);
        std::memcpy(resp->info[i], text.constData(),
            static_cast<size_t>(qMin(text.size(), int(sizeof(resp->info[i])) - 1)));
    }
    return 0;
}
