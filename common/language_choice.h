#pragma once

#include <QString>

// The start-up choices that the launcher, the updater and the VNC tool share: the HMI project's
// folder, the language it is set to, and the language a program on the stick speaks.

// The language of a program started from the stick.
struct LanguageChoice
{
    QString lanID; // four digits; the updater passes it on to every program it starts
    QString languageFile; // folder + "/language/" + lanID + ".lan"
};

namespace hix {

// The compiled-in Chinese table, which every language file overrides entry by entry.
constexpr const char *BuiltinLanguageTable = ":/new/prefix1/resource/lan/0000.lan";
// The launcher's settings below the stick root; they name the tool language.
constexpr const char *ToolSettingsFile = "/config/baseUpdateSet.ini";
// The HMI project's language settings below its folder.
constexpr const char *LanguageSetupFile = "/lan_setup.ini";

// The HMI project's folder: "VEXO_PROJECT_DIR", or the runtime's "project" folder when it is
// unset or empty.
QString projectDir();

// "/current_language/type" of the project's language settings (0 for a value that is no
// number); false when the file or the key is missing.
bool projectLanguage(int *type);

// "/tool_language/type" of the launcher's settings below folder, 0 when it is missing.
int toolLanguage(const QString &folder);

// A language number as the four digits that name its file (3 gives "0003").
QString languageNumber(int type);

// lanID when given, else the project's language unless it is -1; the tool language when the
// chosen language has no file in folder + "/language". Whether the tool language's file exists
// is not asked: the built-in table stands under it.
LanguageChoice chooseLanguage(const QString &folder, const QString &lanID, int toolLanguage);

} // namespace hix
