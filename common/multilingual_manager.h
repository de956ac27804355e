#pragma once

#include <QMap>
#include <QString>

#include <functional>

// The process's language table: every text the operator sees is looked up here by number.
// A built-in Chinese table is compiled in; a language file on the stick overrides it entry by
// entry.
class MultilingualManager
{
public:
    static MultilingualManager *GetInstance();

    // Empties the table, then fills it from builtinFile and lets languageFile override it.
    // False (and an empty table) when neither file exists.
    bool loadMultilingualFile(const QString &languageFile, const QString &builtinFile);

    // The text of id; an id that no table defines gives an empty text.
    QString getMultilingualValue(int id);

    // A lookup bound to this table, for dialogs that take a function from id to text.
    static std::function<QString(int)> lookup();

private:
    MultilingualManager() = default;
    void readTable(const QString &file);

    QMap<int, QString> table;
};

namespace hix {

// The text of id in the process's language table: every text the operator sees comes from here.
QString text(int id);

} // namespace hix

// Registers the compiled-in language tables and images with the resource system.
void hixInitResources();
void hixCleanupResources();
