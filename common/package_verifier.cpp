#include "package_verifier.h"

#include "multilingual_manager.h"
#include "parse_config_info.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

const QString DescriptionName = QStringLiteral("update.ini");
// The launcher's own unscrambled copy of its language list, written on the stick as it starts.
const QString LauncherScratchFile = QStringLiteral("config/baseUpdateTmp.ini");
// A signature file is four short lines; anything longer is not one.
constexpr qint64 SignatureFileLimit = 4096;

bool readWhole(const QString &path, QByteArray *bytes, qint64 limit = -1)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    *bytes = limit < 0 ? file.readAll() : file.read(limit);
    return file.error() == QFileDevice::NoError;
}

QString cleanAbsolute(const QString &folder, const QString &path)
{
    return QDir::cleanPath(QDir(folder).absoluteFilePath(path));
}

void addCopies(QVector<PackageVerifier::Source> &sources, const copyFileInfo_s &copy,
    const QString &packageFolder)
{
    for (const copyFileData_s &entry : copy.copyFileData)
        sources.append({ cleanAbsolute(packageFolder, entry.srcPath), entry.mode });
}

} // namespace

PackageVerifier::PackageVerifier(const QString &packageFolder, TrustedKeys keys)
    : packageFolder(QDir::cleanPath(QDir(packageFolder).absolutePath()))
    , keys(std::move(keys))
{
}

PackageVerifier::Outcome PackageVerifier::fail(Outcome outcome, const QString &path)
{
    result = outcome;
    failed = path;
    qWarning().noquote() << "package refused:" << reason();
    return result;
}

PackageVerifier::Outcome PackageVerifier::checkSignature()
{
    if (!keys.installed())
        return result = NoKeyInstalled;
    for (const QString &problem : keys.problems())
        qWarning().noquote() << "trusted keys:" << problem;
    if (!keys.usable())
        return fail(KeysUnusable, keys.location());
    const QString signaturePath = packageFolder + QLatin1Char('/') + PackageSignature::FileName;
    QByteArray bytes;
    if (!QFileInfo::exists(signaturePath))
        return fail(Unsigned, signaturePath);
    PackageSignature signature;
    QString error;
    if (!readWhole(signaturePath, &bytes, SignatureFileLimit) || !signature.parse(bytes, &error)) {
        qWarning().noquote() << "signature file" << signaturePath << error;
        return fail(SignatureInvalid, signaturePath);
    }
    signer = signature.keyId;
    const PackageKey *key = keys.find(signature.keyId);
    if (!key)
        return fail(UnknownKey, signaturePath);
    QByteArray description;
    QByteArray manifestBytes;
    if (!readWhole(packageFolder + QLatin1Char('/') + DescriptionName, &description)
        || !readWhole(packageFolder + QLatin1Char('/') + PackageManifest::FileName, &manifestBytes)
        || !key->verify(
            PackageSignature::statement(description, manifestBytes), signature.signature))
        return fail(SignatureInvalid, signaturePath);
    // A manifest its key signed but that cannot be read was never a package of this system.
    if (!signedManifest.parse(manifestBytes, &error)) {
        qWarning().noquote() << "signed manifest" << error;
        return fail(SignatureInvalid, signaturePath);
    }
    signedManifest.setStickRoot(packageFolder + QStringLiteral("/.."));
    return result = Verified;
}

PackageVerifier::Outcome PackageVerifier::checkFile(const QString &path)
{
    if (result != Verified)
        return result;
    const PackageManifest::Entry *expected = signedManifest.find(path);
    if (!expected)
        return fail(FileNotSigned, path);
    PackageManifest::Entry actual;
    if (!fileDigest(path, &actual) || actual != *expected)
        return fail(FileChanged, path);
    return result;
}

PackageVerifier::Outcome PackageVerifier::checkListedFiles(
    const std::function<bool(const QByteArray &)> &which)
{
    if (result != Verified)
        return result;
    const QString root = signedManifest.stickRoot();
    qint64 total = 0;
    for (const auto &item : signedManifest.all())
        total += which(item.first) ? item.second.size : 0;
    qint64 done = 0;
    for (const auto &item : signedManifest.all()) {
        if (!which(item.first))
            continue;
        const QString path = root + QLatin1Char('/') + QString::fromUtf8(item.first);
        PackageManifest::Entry actual;
        if (!fileDigest(path, &actual) || actual != item.second)
            return fail(FileChanged, path);
        done += actual.size;
        if (progress)
            progress(done, total);
    }
    return result;
}

QString PackageVerifier::unlistedFile(const QString &folder, bool recursive) const
{
    // Links are followed, so a folder replaced by a link to other files is walked like the folder
    // the panel then reads; FIFOs and devices are listed by name and never opened.
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
        recursive ? QDirIterator::Subdirectories | QDirIterator::FollowSymlinks
                  : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        const QString file = it.next();
        if (!signedManifest.find(file))
            return file;
    }
    return QString();
}

PackageVerifier::Outcome PackageVerifier::checkStick(const ParseConfigInfo &description)
{
    if (result != Verified)
        return result;
    const QString root = signedManifest.stickRoot();
    // What the programs load and show by name: an added library, plug-in, language or settings
    // file would be read although no one signed it.
    for (const QString &folder :
        { QStringLiteral("hixlib"), QStringLiteral("language"), QStringLiteral("config") }) {
        const QString file = unlistedFile(root + QLatin1Char('/') + folder, true);
        if (!file.isEmpty() && file != root + QLatin1Char('/') + LauncherScratchFile)
            return fail(FileNotSigned, file);
    }
    const QString updater = packageFolder + QStringLiteral("/upgrunner.bin");
    if (!signedManifest.find(updater))
        return fail(FileNotSigned, updater);
    // What the run copies, starts and backs up from the stick: the run would stop half-way at a
    // file that is not listed, after earlier lists have changed the panel.
    for (const Source &source : sourcesTheRunReads(description, packageFolder)) {
        if (signedManifest.relativePath(source.path).isEmpty())
            continue;
        if (source.mode == 0) {
            if (QFileInfo::exists(source.path) && !signedManifest.find(source.path))
                return fail(FileNotSigned, source.path);
            continue;
        }
        const QString file = unlistedFile(source.path, source.mode == 2);
        if (!file.isEmpty())
            return fail(FileNotSigned, file);
    }
    return checkListedFiles([](const QByteArray &) { return true; });
}

QVector<PackageVerifier::Source> PackageVerifier::sourcesTheRunReads(
    const ParseConfigInfo &description, const QString &packageFolder)
{
    QVector<Source> sources;
    addCopies(sources, description.getCopyFileInfo(), packageFolder);
    for (const programConfig_s &program : description.getProgramConfigInfo()) {
        sources.append({ cleanAbsolute(packageFolder, program.path), 0 });
        addCopies(sources, program.beforeCopy, packageFolder);
        addCopies(sources, program.afterCopy, packageFolder);
        for (const backupFileInfo_s &backup : program.beforeBackup)
            sources.append({ cleanAbsolute(packageFolder, backup.srcPath), backup.mode });
    }
    return sources;
}

bool PackageVerifier::checkedOnRead(
    const QVector<Source> &sources, const PackageManifest &manifest, const QByteArray &relative)
{
    for (const Source &source : sources) {
        const QByteArray path = manifest.relativePath(source.path).toUtf8();
        if (path.isEmpty())
            continue;
        if (source.mode == 0 ? relative == path
                             : relative.startsWith(path + '/')
                    && (source.mode == 2 || relative.indexOf('/', path.size() + 1) < 0))
            return true;
    }
    return false;
}

QString PackageVerifier::failedName() const
{
    const QString listed = signedManifest.relativePath(failed);
    return listed.isEmpty() ? QDir::cleanPath(failed) : listed;
}

QString PackageVerifier::reason() const
{
    const QString name = failedName();
    switch (result) {
    case NoKeyInstalled:
        return QStringLiteral("no key installed: the stick is not checked");
    case Verified:
        return QStringLiteral("signed by key %1").arg(QString::fromLatin1(signer));
    case KeysUnusable:
        return QStringLiteral("\"%1\" holds no usable public key").arg(failed);
    case Unsigned:
        return QStringLiteral("the package is not signed (no \"%1\")").arg(failed);
    case UnknownKey:
        return QStringLiteral("signed by key %1, which is not trusted")
            .arg(QString::fromLatin1(signer));
    case SignatureInvalid:
        return QStringLiteral("the signature \"%1\" does not match the description and the "
                              "manifest")
            .arg(failed);
    case FileChanged:
        return QStringLiteral("\"%1\" is not the file the signed manifest lists").arg(name);
    case FileNotSigned:
        return QStringLiteral("\"%1\" is not in the signed manifest").arg(name);
    }
    return QString();
}

QString PackageVerifier::operatorText() const
{
    MultilingualManager *texts = MultilingualManager::GetInstance();
    const QString name = failedName();
    switch (result) {
    case KeysUnusable:
        return texts->getMultilingualValue(MsgKeysUnusable).arg(failed);
    case Unsigned:
        return texts->getMultilingualValue(MsgUnsigned);
    case UnknownKey:
        return texts->getMultilingualValue(MsgUnknownKey);
    case SignatureInvalid:
        return texts->getMultilingualValue(MsgSignatureInvalid);
    case FileChanged:
        return texts->getMultilingualValue(MsgFileChanged).arg(name);
    case FileNotSigned:
        return texts->getMultilingualValue(MsgFileNotSigned).arg(name);
    case NoKeyInstalled:
    case Verified:
        break;
    }
    return QString();
}
