#include "language_choice.h"

#include "directory_library.h"

#include <QFileInfo>
#include <QSettings>
#include <QTextCodec>

namespace {

QString languageFileOf(const QString &folder, const QString &lanID)
{
    return folder + QStringLiteral("/language/") + lanID + QStringLiteral(".lan");
}

} // namespace

namespace hix {

QString projectDir()
{
    const QString fromEnvironment = qEnvironmentVariable("VEXO_PROJECT_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const char *runtime = Vexo_GetDirectory(VEXO_DIR_APP);
    return QString::fromUtf8(runtime ? runtime : "") + QStringLiteral("/project");
}

bool projectLanguage(int *type)
{
    const QString setup = projectDir() + QLatin1String(LanguageSetupFile);
    if (!QFileInfo(setup).isFile())
        return false;
    QSettings settings(setup, QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    const QString key = QStringLiteral("/current_language/type");
    if (!settings.contains(key))
        return false;
    *type = settings.value(key).toInt();
    return true;
}

int toolLanguage(const QString &folder)
{
    QSettings settings(folder + QLatin1String(ToolSettingsFile), QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    return settings.value(QStringLiteral("/tool_language/type"), 0).toInt();
}

QString languageNumber(int type)
{
    return QStringLiteral("%1").arg(type, 4, 10, QLatin1Char('0'));
}

LanguageChoice chooseLanguage(const QString &folder, const QString &lanID, int toolLanguage)
{
    LanguageChoice choice { lanID, QString() };
    int type = 0;
    if (choice.lanID.isEmpty() && projectLanguage(&type) && type != -1)
        choice.lanID = languageNumber(type);
    choice.languageFile = languageFileOf(folder, choice.lanID);
    if (choice.lanID.isEmpty() || !QFileInfo::exists(choice.languageFile)) {
        choice.lanID = languageNumber(toolLanguage);
        choice.languageFile = languageFileOf(folder, choice.lanID);
    }
    return choice;
}

} // namespace hix
