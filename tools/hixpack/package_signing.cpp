#include "package_signing.h"

#include "package_manifest.h"
#include "package_show.h"
#include "package_verifier.h"
#include "parse_config_info.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace package_signing {

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "hixpack: %s\n", qPrintable(message));
    return 1;
}

// A new file only: an existing key is never replaced by accident.
bool writeNew(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    // The mode is set before the key goes in, so the private key is never readable by others.
    if (!file.setPermissions(permissions) || file.write(bytes) != bytes.size() || !file.flush()) {
        file.remove();
        return false;
    }
    return true;
}

} // namespace

int keygen(const QString &name)
{
    const QString privateFile = name + QStringLiteral(".key");
    const QString publicFile = name + QLatin1String(TrustedKeys::Suffix);
    for (const QString &file : { privateFile, publicFile }) {
        if (QFileInfo::exists(file) || QFileInfo(file).isSymLink())
            return fail(QStringLiteral("\"%1\" exists: no key was made").arg(file));
    }
    const PackageKey key = PackageKey::generate();
    if (key.isNull())
        return fail(QStringLiteral("no key could be made"));
    if (!writeNew(privateFile, key.privatePem(), QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return fail(QStringLiteral("cannot write \"%1\"").arg(privateFile));
    if (!writeNew(publicFile, key.publicPem(),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                | QFileDevice::ReadOther)) {
        QFile::remove(privateFile);
        return fail(QStringLiteral("cannot write \"%1\"").arg(publicFile));
    }
    std::printf("key %s\n"
                "private key \"%s\": signs sticks (hixpack build --sign); keep it off the sticks\n"
                "public key \"%s\": goes into the panels' folder %s\n",
        key.id().constData(), qPrintable(privateFile), qPrintable(publicFile),
        TrustedKeys::PanelFolder);
    return 0;
}

int verify(const QString &stickDir, const QString &keyPath)
{
    TrustedKeys keys = keyPath.isEmpty() ? TrustedKeys::ofPanel()
        : QFileInfo(keyPath).isDir()     ? TrustedKeys::fromFolder(keyPath)
                                         : TrustedKeys::fromFile(keyPath);
    if (!keys.installed())
        return fail(QStringLiteral("no key to check against: name one with --key, or install one "
                                   "in the panel's folder \"%1\"")
                        .arg(keys.location()));
    const QString packageDir = QDir(stickDir).filePath(QStringLiteral("hixupdateu"));
    PackageVerifier verifier(packageDir, std::move(keys));
    verifier.checkSignature();
    if (!verifier.refused()) {
        ParseConfigInfo parser;
        QTemporaryDir work;
        QString error;
        if (!package_show_c::readDescription(
                QDir(packageDir).filePath(QStringLiteral("update.ini")), parser, work, &error))
            return fail(error);
        verifier.checkStick(parser);
    }
    if (verifier.refused())
        return fail(QStringLiteral("\"%1\" refused: %2").arg(stickDir, verifier.reason()));
    std::printf("\"%s\" verified: %s, %d files as listed\n", qPrintable(stickDir),
        qPrintable(verifier.reason()), verifier.manifest().size());
    return 0;
}

QString signatureStatus(const QString &packageDir, bool *broken)
{
    *broken = false;
    const QDir dir(packageDir);
    const QString signatureFile = dir.filePath(QLatin1String(PackageSignature::FileName));
    if (!QFileInfo::exists(signatureFile)) {
        if (!QFileInfo::exists(dir.filePath(QLatin1String(PackageManifest::FileName))))
            return QString();
        return QStringLiteral("not signed: a panel with a key installed refuses it");
    }
    QFile file(signatureFile);
    PackageSignature signature;
    QString error = QStringLiteral("cannot be read");
    *broken = !file.open(QIODevice::ReadOnly) || !signature.parse(file.readAll(), &error);
    if (*broken)
        return QStringLiteral("the signature \"%1\" %2: a panel with a key installed refuses it")
            .arg(QLatin1String(PackageSignature::FileName), error);
    return QStringLiteral("signed by key %1 (hixpack verify --key checks the signature)")
        .arg(QString::fromLatin1(signature.keyId));
}

} // namespace package_signing
