#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>

// The list of every file an update run reads from the stick, with its size and SHA-256, written
// by the package tool beside the description. The updater compares what it stages with it, so a
// source that was truncated, replaced, added or removed after the package was built stops the
// list instead of reaching the panel. The bytes are deterministic so that they can be signed:
//
//   hix-manifest 1
//   <sha256, 64 lower-case hex digits> <size in bytes, decimal> <path below the stick root>
//   ...
//
// one line each, ending in "\n", sorted by the UTF-8 bytes of the path; paths use "/" and hold no
// control characters, no "." or ".." component and no leading "/".
class PackageManifest
{
public:
    static constexpr const char *FileName = "update.manifest";
    static constexpr const char *HeaderLine = "hix-manifest 1";

    struct Entry
    {
        qint64 size = -1;
        QByteArray sha256; // lower-case hexadecimal
        bool operator==(const Entry &other) const
        {
            return size == other.size && sha256 == other.sha256;
        }
        bool operator!=(const Entry &other) const { return !(*this == other); }
    };

    // Whether a path below the stick root may stand in a manifest.
    static bool isValidPath(const QString &relativePath);

    // Reads the manifest bytes; false (with the reason) for anything that is not exactly the
    // format above.
    bool parse(const QByteArray &bytes, QString *error = nullptr);
    QByteArray toBytes() const;

    // False for a path isValidPath refuses.
    bool insert(const QString &relativePath, const Entry &entry);
    bool isEmpty() const { return entries.empty(); }
    int size() const { return int(entries.size()); }
    // Relative path -> entry, in the manifest's order.
    const std::map<QByteArray, Entry> &all() const { return entries; }

    // Paths on the panel side are absolute (or relative to the working directory) and are
    // matched below stickRoot.
    void setStickRoot(const QString &root);
    QString stickRoot() const { return root; }
    // The path below the stick root, or an empty text for a path that is not on the stick.
    QString relativePath(const QString &path) const;
    // The entry of a file on the stick, null when the manifest does not list it.
    const Entry *find(const QString &path) const;
    // The files the manifest lists directly inside folder (recursive: anywhere below it), as
    // absolute paths.
    QStringList filesIn(const QString &folder, bool recursive) const;

private:
    std::map<QByteArray, Entry> entries;
    QString root;
};

// Size and SHA-256 of a whole file (regular files only); false when it cannot be read to its end.
bool fileDigest(const QString &path, PackageManifest::Entry *digest);

// The identity of the package in folder: SHA-256 over its scrambled description "update.ini"
// followed by its manifest when there is one. Empty when the description cannot be read.
QString packageDigest(const QString &folder);
