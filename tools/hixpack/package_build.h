#pragma once

#include "package_key.h"

#include <QMap>
#include <QString>
#include <QStringList>

class description_text_c;

// Makes an update stick from a package source folder: SRC_DIR holds the plain description
// "update.ini" and the files it names, optionally "language/" and "config/". The stick gets
//
//   upgentry.bin                 the launcher (when the build has one)
//   vncsetup.bin                 the VNC tool (when built)
//   hixlib/                      the programs' shared libraries, Qt plug-in and font
//                                (stick_libraries.h)
//   hixupdateu/update.ini        the description with every CRC value filled in, scrambled
//   hixupdateu/update.manifest   size and SHA-256 of every file the update reads from the stick
//                                and of every other file the build put there
//   hixupdateu/update.sig        with a signing key: its signature over the description and
//                                the manifest (package_signature.h)
//   hixupdateu/upgrunner.bin     the updater
//   hixupdateu/hixresult         the result reporter for package programs (when built)
//   hixupdateu/...               the package's files
//   language/, config/           language files and launcher settings; a plain
//                                "config/baseUpdate.ini" (the launcher's language list) is
//                                stored scrambled
//   language/0001.lan            the English table of every built-in text, below the package's
//                                own 0001.lan; the launcher's language list offers it
//
// Nothing is written when the description has errors.
class package_build_c
{
public:
    // The English table of every text of the built-in Chinese one.
    static const QString EnglishTable;

    package_build_c(const QString &srcDir, const QString &stickDir, const QString &binDir);

    // Without English the stick gets only the language files of the package and of the bin folder.
    void setEnglish(bool on) { english = on; }

    // For an emulated panel: every panel path of the description that starts with
    // "/usr/vexo_app" or "/media/usb0" (in any value, commands included) gets root put before it.
    void setPanelRoot(const QString &root) { panelRoot = root; }

    // The font the stick carries for the Chinese texts (default: stick_libraries_c's).
    void setFont(const QString &file) { fontFile = file; }

    // Signs the stick with the private key in this PEM file.
    void setSigningKey(const QString &file) { signingKeyFile = file; }

    // 0 built, 1 failed; what was done and every error go to standard output / error.
    int run();

private:
    bool fillCrcValues(QByteArray *plain, int *filled);
    bool copyTree(const QString &from, const QString &to, const QStringList &skipTopLevel);
    bool copyFile(const QString &from, const QString &to);
    bool writeScrambledSettings(const QString &from, const QString &to);
    bool copyFolderFiles(const QString &from, const QString &to, const QString &pattern);
    // "hixupdateu/update.manifest": size and SHA-256 of every file the update reads from the
    // stick and of every file the build put on it.
    bool writeManifest(const description_text_c &text, const QString &packageOut);
    // The files below the stick root that the build wrote, the description, manifest and
    // signature left out.
    QMap<QString, QString> filesOnTheStick() const;
    bool writeSignature(const QString &packageOut);
    int fail(const QString &message);
    bool checkFatNames();
    bool layOutRuntime();
    bool saveFile(const QString &to, const QByteArray &bytes);
    bool writeEnglishTable(const QString &languageDir);
    bool offerEnglish(const QString &languageList);
    // The plain language list with English added; empty when it needs no change.
    static QByteArray withEnglish(const QByteArray &plain, const QString &languageList);

    QString srcDir;
    QString stickDir;
    QString binDir;
    QString panelRoot;
    QString fontFile;
    QString signingKeyFile;
    PackageKey signingKey;
    bool english = true;
    int filesCopied = 0;
};
