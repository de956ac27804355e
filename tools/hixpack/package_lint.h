#pragma once

#include "description_text.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

// Finds what the updater would silently ignore or get wrong in an update description: unknown
// sections and keys, numbered entries beyond their count or missing below it, missing gate keys,
// values that the INI reader does not read as written, relative paths where the panel's are
// needed, CRC values that do not match the package's file, MODE values out of range, text ids
// that no language table defines or that one language file of the stick defines and another
// lacks, programs missing from the package, scripts with Windows line ends, text that is not
// UTF-8, and the files other systems leave in copied folders. Conditions that are read but never
// compared are warnings.
class package_lint_c
{
public:
    enum class Severity { Error, Warning };
    struct Finding
    {
        int line = 0;
        QString message;
        Severity severity = Severity::Error;
        QString file; // empty: the description itself
    };

    // packageDir: the folder the updater runs in (relative paths of the description start
    // there). languageFiles: ".lan" files whose ids count as defined beside the built-in table.
    package_lint_c(const description_text_c &text, const QString &packageDir,
        const QStringList &languageFiles);

    QVector<Finding> run();

    // The English table that the build puts on the stick as "language/0001.lan" (below any
    // 0001.lan of the package's own); empty when the stick gets none.
    void setEnglishTable(const QString &path) { englishTable = path; }

    // "FILE:LINE: error: MESSAGE", FILE being the description unless the finding names another.
    static QString format(const QString &descriptionPath, const Finding &finding);
    static int errorCount(const QVector<Finding> &findings);

    // The description's own file, left out of the package's files (default "update.ini").
    void setDescriptionFile(const QString &fileName) { descriptionFile = fileName; }

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
    void checkTextId(const description_text_c::Section &section, const QString &key);
    void checkMode(const description_text_c::Section &section, const QString &key);
    // The package's files that the description names (package_lint_package.cpp).
    void checkCopyEntry(const QString &section, int n);
    void checkPrograms();
    // The package's files as the build copies them and the panel stages them, and a built
    // stick's manifest (package_lint_tree.cpp).
    void checkPackageFiles();
    void checkTree();
    void checkStagingNames();
    void checkManifest();
    void add(int line, const QString &message);
    void warn(int line, const QString &message);

    // What the updater's INI reader makes of a value, against what its line says.
    void checkValue(const description_text_c::Section &section, const description_text_c::Key &key,
        const QString &base);
    void checkReading(const description_text_c::Key &key, const QString &base, Kind kind);
    void checkUnusedCondition(const description_text_c::Section &section,
        const description_text_c::Key &key, const QString &base);
    void checkPanelPath(const description_text_c::Key &key, const QString &base, Kind kind);
    // Files and encodings.
    void checkDescriptionEncoding();
    void checkLineEnds(int line, const QString &packageFile);
    void checkLanguageFiles();
    QString suggestion(const QString &name, const QStringList &known) const;
    QString packagePath(const QString &path) const;
    static QString ranges(const QVector<int> &numbers);

    const description_text_c &text;
    QString packageDir;
    QStringList languageFiles;
    QString englishTable;
    QSet<int> builtinIds;
    QSet<int> definedIds;
    QString descriptionFile = QStringLiteral("update.ini");
    QVector<Finding> findings;
};
