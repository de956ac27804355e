#pragma once

#include "description_text.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

// Finds what the updater would silently ignore or get wrong in an update description: unknown
// sections and keys, numbered entries beyond their count or missing below it, missing gate keys,
// CRC values that do not match the package's file, MODE values out of range, text ids that no
// language table defines, programs missing from the package, and the files other systems leave
// in copied folders.
class package_lint_c
{
public:
    struct Finding
    {
        int line = 0;
        QString message;
    };

    // packageDir: the folder the updater runs in (relative paths of the description start
    // there). languageFiles: ".lan" files whose ids count as defined beside the built-in table.
    package_lint_c(const description_text_c &text, const QString &packageDir,
        const QStringList &languageFiles);

    QVector<Finding> run();

    // The build fills the CRC values itself, so it lints its source without comparing them.
    void setCompareCrc(bool compare) { compareCrc = compare; }

    // The description's own file, left out of the package's files (default "update.ini").
    void setDescriptionFile(const QString &fileName) { descriptionFile = fileName; }

    // What run() found worth saying that is no error (a built package without a manifest).
    const QStringList &notes() const { return noteList; }

    // Sections that hold a copy list ("COPYFILE", "PROGRAMn_BEFORE_COPYFILE", ...).
    static bool isCopySection(const QString &section);

    // The ".lan" files beside a package: "language/" in the package folder and in its parent
    // (the stick root when the package folder is "hixupdateu").
    static QStringList languageFilesNear(const QString &packageDir);

    // Names of files that sticks written on other systems leave behind.
    static bool isForeignLeftover(const QString &fileName);

private:
    enum class Kind { Unknown, UpdateConfig, Check, Copy, Del, Exe, Cmd, Backup, Program, Finish };
    struct Group;

    static Kind kindOf(const QString &section, int *programNumber);
    void checkSection(const description_text_c::Section &section, Kind kind);
    void checkKeys(const description_text_c::Section &section, const QStringList &plain,
        const QVector<Group> &groups);
    void checkGroup(const description_text_c::Section &section, const Group &group);
    void checkCopyEntry(const QString &section, int n);
    void checkTextId(const description_text_c::Section &section, const QString &key);
    void checkMode(const description_text_c::Section &section, const QString &key);
    void checkPrograms();
    // The package's files beside the description (package_lint_files.cpp).
    void checkPackageFiles();
    void checkTree();
    void checkLanguageFiles();
    void checkStagingNames();
    void checkManifest();
    void add(int line, const QString &message);
    QString suggestion(const QString &name, const QStringList &known) const;
    QString packagePath(const QString &path) const;

    const description_text_c &text;
    QString packageDir;
    bool compareCrc = true;
    QSet<int> definedIds;
    QStringList languageFileList;
    QString descriptionFile = QStringLiteral("update.ini");
    QStringList noteList;
    QVector<Finding> findings;
};
