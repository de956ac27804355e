#pragma once

#include "package_key.h"
#include "package_manifest.h"
#include "package_signature.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSaveFile>

// Signs an emulated stick as the package tool does, with a key made for the test: the manifest
// lists every file of the stick but the description, the manifest, the signature, the run log
// and the backups, and the signature covers the description and the manifest.
class StickSigner
{
public:
    PackageKey key = PackageKey::generate();

    bool sign(const QString &stickRoot) const
    {
        const QDir stick(stickRoot);
        const QStringList skipped = { "hixupdateu/update.ini", "hixupdateu/update.manifest",
            "hixupdateu/update.sig", "upgradeProcess.log" };
        PackageManifest manifest;
        QDirIterator it(stickRoot, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString relative = stick.relativeFilePath(it.next());
            if (skipped.contains(relative) || relative.startsWith("hixbackup/"))
                continue;
            PackageManifest::Entry entry;
            if (!fileDigest(it.filePath(), &entry) || !manifest.insert(relative, entry))
                return false;
        }
        QFile description(stick.filePath("hixupdateu/update.ini"));
        if (!description.open(QIODevice::ReadOnly))
            return false;
        PackageSignature signature;
        signature.keyId = key.id();
        signature.signature
            = key.sign(PackageSignature::statement(description.readAll(), manifest.toBytes()));
        return save(stick.filePath("hixupdateu/update.manifest"), manifest.toBytes())
            && save(stick.filePath("hixupdateu/update.sig"), signature.toBytes());
    }

    // Puts the public key into a key folder (the panel's: the sysroot + TrustedKeys::PanelFolder).
    bool install(const QString &keyFolder, const QString &name = "test.pub") const
    {
        return QDir().mkpath(keyFolder) && save(keyFolder + '/' + name, key.publicPem());
    }

    static bool save(const QString &path, const QByteArray &bytes)
    {
        QSaveFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()
            && file.commit();
    }
};
