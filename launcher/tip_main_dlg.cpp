#include "tip_main_dlg.h"

#include "check_up_info.h"
#include "clogger.h"
#include "dlg_up_note.h"
#include "language_choice.h"
#include "launcher_messages.h"
#include "multilingual_manager.h"
#include "parse_config_info.h"
#include "qsettings_factory.h"
#include "ui_tip_main_dlg.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QIcon>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QTextCodec>

using hix::text;

namespace {

// Description keys hold text numbers; anything that is not a number names no text.
QString textOfNumber(const QString &number)
{
    return text(number.toInt());
}

} // namespace

TipMainDlg::TipMainDlg(ParseConfigInfo *parser, check_up_info_c *checker, const QString &languageId,
    QWidget *parent, const QString &applicationDir)
    : QDialog(parent)
    , ui(new Ui::TipMainDlg)
    , parser(parser)
    , checker(checker)
    , curLanguageId(languageId)
    , appDir(applicationDir.isEmpty() ? QCoreApplication::applicationDirPath() : applicationDir)
{
    ui->setupUi(this);
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);
    setWindowIcon(QIcon(QStringLiteral(" ")));
    ui->comboBox->setItemDelegate(new QStyledItemDelegate(ui->comboBox));
    ui->infoEdit->setStyleSheet(QStringLiteral("QScrollBar{background:transparent;}"));
    setFixedSize(422, 256);
    // A page closed by "否" or by its window frame ends the launcher as well.
    connect(this, &QDialog::finished, this, &TipMainDlg::pageClosed);
    initDlg();
}

TipMainDlg::~TipMainDlg()
{
    delete ui;
}

QString TipMainDlg::toolTitle() const
{
    return textOfNumber(parser->getUpdateConfig().toolTitle);
}

void TipMainDlg::initDlg()
{
    const QString copy = appDir + QLatin1String(LanguageListCopy);
    // A list that cannot be unscrambled leaves the copy empty: the page keeps its start language.
    QSettingsFactory::decryptFile(appDir + QLatin1String(LanguageListFile), copy, CRYPT_TYPE_INI);

    QSettings settings(copy, QSettings::IniFormat);
    settings.setIniCodec(QTextCodec::codecForName("UTF-8"));
    const QString listKey = QStringLiteral("/language_conf/list");
    if (settings.contains(listKey)) {
        ui->comboBox->clear();
        ui->comboBox->addItems(settings.value(listKey).toStringList());
    }
    const QString idKey = QStringLiteral("/language_conf/id");
    if (settings.contains(idKey))
        languageIds = settings.value(idKey).toStringList();

    initPage();
    initCurLanguage();
}

void TipMainDlg::initPage()
{
    const QString title = toolTitle();
    setWindowTitle(title);
    ui->infoLab->setText(text(MsgPageIntroduction).arg(title));
    ui->infoEdit->setText(textOfNumber(parser->getUpdateConfig().toolTip));
    ui->okBtn->setText(text(MsgYes));
    ui->cancelBtn->setText(text(MsgNo));
}

void TipMainDlg::initCurLanguage()
{
    const int found = languageIds.indexOf(curLanguageId);
    ui->comboBox->setCurrentIndex(found < 0 ? 0 : found);
    // Only from here on does a change of the entry reload the language.
    languageListReady = true;
}

void TipMainDlg::on_comboBox_currentIndexChanged(int index)
{
    if (!languageListReady || index < 0 || index >= languageIds.size())
        return;
    QString languageFile
        = appDir + QStringLiteral("/language/") + languageIds.at(index) + QStringLiteral(".lan");
    if (!QFileInfo::exists(languageFile)) {
        languageFile = appDir
            + QStringLiteral("/language/%1.lan")
                  .arg(hix::languageNumber(hix::toolLanguage(appDir)));
    }
    MultilingualManager::GetInstance()->loadMultilingualFile(
        languageFile, QLatin1String(hix::BuiltinLanguageTable));
    curLanguageId = languageIds.at(index);
    initPage();
}

void TipMainDlg::on_okBtn_clicked()
{
    hide();
    const updateConfig_s config = parser->getUpdateConfig();
    dlgUpNote confirmation(curLanguageId, toolTitle());
    confirmation.setLogger(log);
    confirmation.setExecCondition(config.execCondition);
    confirmation.setShowUpdatePageInfo(config.showUpdatePage);

    const updateCheck_s check = parser->getUpdateCheck();
    bool noCondition = true;
    QVector<check_up_info_c::CheckFailure> failures;
    if (checker->updateCheck(check, false, noCondition, &failures)) {
        if (check.checkSuccessIsShowDlg == 0) {
            confirmation.startUpdate();
            close();
            emit pageClosed();
            return;
        }
        confirmation.setTips(textOfNumber(check.checkSuccessMessage));
    } else {
        const QString reason = textOfNumber(check.checkFailedMessage);
        // The package's own words first, then what exactly this panel lacks: the technician
        // and whoever reads the log later need the panel's values, not only the verdict.
        const QStringList why
            = check_up_info_c::failureLines(QStringLiteral("UPDATE_CHECK"), failures);
        if (log) {
            log->write(reason + QLatin1Char('\n'));
            for (const QString &line : why)
                log->write(line + QLatin1Char('\n'));
            log->close();
        }
        if (check.checkFailedIsShowDlg == 0) {
            close();
            emit pageClosed();
            return;
        }
        confirmation.setTips(reason);
        confirmation.setOkButtonDisabled(true);
    }
    close();
    confirmation.exec();
    emit pageClosed();
}

void TipMainDlg::on_cancelBtn_clicked()
{
    close();
}
