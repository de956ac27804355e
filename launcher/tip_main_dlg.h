#pragma once

#include "language_choice.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class CLogger;
class ParseConfigInfo;
class check_up_info_c;

namespace Ui {
class TipMainDlg;
}

// The first page of a fresh update package: names the package, shows its description, lets
// the operator pick the tool language and, on "是", runs the package-wide check before handing
// over to the confirmation.
class TipMainDlg : public QDialog
{
    Q_OBJECT

public:
    // The launcher's settings, relative to the folder of the running program.
    static constexpr const char *LanguageListFile = "/config/baseUpdate.ini";
    static constexpr const char *LanguageListCopy = "/config/baseUpdateTmp.ini";
    static constexpr const char *BuiltinLanguageTable = hix::BuiltinLanguageTable;
    static constexpr const char *DownArrowImage = ":/new/prefix1/resource/img/downarrow.png";

    // Parser and checker are not owned and must outlive the page. The settings and language
    // files are looked up below appDir, by default the folder of the running program.
    TipMainDlg(ParseConfigInfo *parser, check_up_info_c *checker, const QString &languageId,
        QWidget *parent = nullptr, const QString &appDir = QString());
    ~TipMainDlg() override;

    void setLogger(CLogger *logger) { log = logger; }

    // The page's OK action, for a package whose page is not shown.
    void okClick() { on_okBtn_clicked(); }

    QString currentLanguageId() const { return curLanguageId; }

signals:
    // The page is done, whether it was shown or not: nothing of the launcher remains to wait for.
    void pageClosed();

public slots:
    void on_okBtn_clicked();
    void on_cancelBtn_clicked();
    void on_comboBox_currentIndexChanged(int index);

private:
    void initDlg();
    void initPage();
    void initCurLanguage();
    QString toolTitle() const;

    Ui::TipMainDlg *ui = nullptr;
    ParseConfigInfo *parser;
    check_up_info_c *checker;
    QString curLanguageId;
    bool languageListReady = false;
    QString appDir;
    CLogger *log = nullptr;
    QStringList languageIds;
};
