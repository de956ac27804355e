#include "multilingual_manager.h"

#include <QFile>
#include <QSettings>
#include <QTextCodec>

MultilingualManager *MultilingualManager::GetInstance()
{
    static MultilingualManager instance;
    return &instance;
}

bool MultilingualManager::loadMultilingualFile(
    const QString &languageFile, const QString &builtinFile)
{
    table.clear();
    if (!QFile::exists(languageFile) && (builtinFile.isEmpty() || !QFile::exists(builtinFile)))
        return false;
    if (!builtinFile.isEmpty())
        readTable(builtinFile);
    readTable(languageFile);
    return true;
}

void MultilingualManager::readTable(const QString &file)
{
    QSettings settings(file, QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    const QStringList groups = settings.childGroups();
    for (const QString &group : groups)
        table[group.toInt()] = settings.value(group + QLatin1String("/string")).toString();
}

QString MultilingualManager::getMultilingualValue(int id)
{
    return table[id];
}

std::function<QString(int)> MultilingualManager::lookup()
{
    return [](int id) { return GetInstance()->getMultilingualValue(id); };
}

void hixInitResources()
{
    Q_INIT_RESOURCE(language);
}

void hixCleanupResources()
{
    Q_CLEANUP_RESOURCE(language);
}

QString hix::text(int id)
{
    return MultilingualManager::GetInstance()->getMultilingualValue(id);
}
