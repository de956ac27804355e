#pragma once

#include "package_manifest.h"
#include "package_signature.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

class ParseConfigInfo;

// Whether an update stick may run on this panel. With no key installed every stick runs, as it
// always did. With keys installed a stick runs only when one of them signed its description and
// manifest, and every file the panel reads from the stick is listed in that manifest and
// unchanged. The checks are chained: each does nothing once one has refused the stick (or when
// no key is installed), so a caller runs the ones it needs and asks refused() once.
class PackageVerifier
{
public:
    // Numbers of the texts in the language table.
    enum Message {
        MsgUnsigned = 2240,
        MsgUnknownKey = 2241,
        MsgSignatureInvalid = 2242,
        MsgFileChanged = 2243,
        MsgKeysUnusable = 2244,
        MsgFileNotSigned = 2245,
        MsgChecking = 2246,
        MsgVerified = 2247,
    };
    enum Outcome {
        NoKeyInstalled,
        Verified,
        KeysUnusable,
        Unsigned,
        UnknownKey,
        SignatureInvalid,
        FileChanged,
        FileNotSigned,
    };

    // A file (mode 0), the files at the top of a folder (1) or a whole tree (2) that an update
    // run reads from the stick; the run checks each against the manifest as it reads it.
    struct Source
    {
        QString path;
        int mode = 0;
    };

    // packageFolder: the stick's "hixupdateu"; the stick root is the folder above.
    PackageVerifier(const QString &packageFolder, TrustedKeys keys);

    // The signature over the description and the manifest, by a key this panel trusts.
    Outcome checkSignature();
    // A file the program is about to read: listed, and as listed.
    Outcome checkFile(const QString &path);
    // Told, after each file the checks below read, how many bytes of how many are done.
    void setProgress(std::function<void(qint64 done, qint64 total)> report)
    {
        progress = std::move(report);
    }
    // Every listed file (path below the stick root) that which accepts is as listed.
    Outcome checkListedFiles(const std::function<bool(const QByteArray &relative)> &which);
    // All the launcher checks before its first page: no file the panel or the run reads is left
    // out of the manifest, and every listed file is as listed. A stick that passes changes
    // nothing on the panel by a changed byte.
    Outcome checkStick(const ParseConfigInfo &description);

    Outcome outcome() const { return result; }
    bool refused() const { return result != NoKeyInstalled && result != Verified; }
    // The manifest the signature covers (empty until checkSignature has passed).
    const PackageManifest &manifest() const { return signedManifest; }
    QByteArray keyId() const { return signer; }
    // Why the stick was refused, in English, for the diagnostics and the package tool.
    QString reason() const;
    // The same for the operator, from the language table.
    QString operatorText() const;

    static QVector<Source> sourcesTheRunReads(
        const ParseConfigInfo &description, const QString &packageFolder);
    // Whether a listed file is one that the run checks against the manifest as it reads it.
    static bool checkedOnRead(const QVector<Source> &sources, const PackageManifest &manifest,
        const QByteArray &relative);

private:
    Outcome fail(Outcome outcome, const QString &path);
    // The first file below folder that the manifest does not list, empty when there is none.
    QString unlistedFile(const QString &folder, bool recursive) const;
    // The failed file below the stick root, or as given when it lies elsewhere.
    QString failedName() const;

    QString packageFolder;
    TrustedKeys keys;
    PackageManifest signedManifest;
    QByteArray signer;
    Outcome result = NoKeyInstalled;
    QString failed;
    std::function<void(qint64, qint64)> progress;
};
