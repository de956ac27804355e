#pragma once

#include "package_key.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// The signature of an update package, "update.sig" beside its description in "hixupdateu/":
//
//   hix-signature 1
//   algorithm ed25519
//   key <id of the signing key: 64 lower-case hex digits, PackageKey::id()>
//   signature <the Ed25519 signature: 128 lower-case hex digits>
//
// every line ending in "\n", nothing before, between or after. What the key signs is the
// statement over the exact bytes of the scrambled description and of the manifest:
//
//   hix-signed-package 1
//   update.ini <size in bytes> <sha256, lower-case hex>
//   update.manifest <size in bytes> <sha256, lower-case hex>
//
// The manifest holds the size and SHA-256 of every other file the build put on the stick, so
// the one signature covers the whole stick.
class PackageSignature
{
public:
    static constexpr const char *FileName = "update.sig";
    static constexpr const char *HeaderLine = "hix-signature 1";

    QByteArray keyId; // lower-case hex
    QByteArray signature; // the raw 64 bytes

    // False, with the reason, for anything that is not exactly the format above.
    bool parse(const QByteArray &bytes, QString *error = nullptr);
    QByteArray toBytes() const;

    static QByteArray statement(const QByteArray &description, const QByteArray &manifest);
};

// The public keys a panel trusts: PEM files named "*.pub" in one folder of the panel, outside
// the runtime folder that packages install into. A missing or empty folder means no key is
// installed and every stick runs as it always did. Anything in the folder means someone meant
// to install a key: when none of it is a usable key, every stick is refused rather than checked
// against nothing.
class TrustedKeys
{
public:
    static constexpr const char *PanelFolder = "/etc/iot_cfg/hixkeys";
    static constexpr const char *Suffix = ".pub";

    // The panel's folder (through the sysroot).
    static TrustedKeys ofPanel();
    static TrustedKeys fromFolder(const QString &folder);
    // One public key file, whatever its name (the package tool's --key).
    static TrustedKeys fromFile(const QString &file);

    bool installed() const { return isInstalled; }
    bool usable() const { return !keys.empty(); }
    QString location() const { return where; }
    // The key named by a signature, null when this panel does not trust it.
    const PackageKey *find(const QByteArray &id) const;
    // "file: reason" of every entry that is not a usable key, for the diagnostics.
    QStringList problems() const { return unusable; }

private:
    void add(const QString &file);

    QString where;
    bool isInstalled = false;
    std::vector<PackageKey> keys;
    QStringList unusable;
};
