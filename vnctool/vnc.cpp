#include "vnc.h"

#include "multilingual_manager.h"
#include "vnc_dialog_look.h"
#include "vnc_paths.h"
#include "vnc_texts.h"

#include <QComboBox>
#include <QDebug>
#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>

namespace {

const QString BuiltinLanguageFile = QStringLiteral(":/new/prefix1/resource/lan/0000.lanini");
const QString ChineseItem = QStringLiteral("中文");
const QString EnglishItem = QStringLiteral("ENG");

const char *const LanguageListStyle
    = "QComboBox::down-arrow{image:url(:/new/prefix1/resource/img/downarrow.png);}"
      "QComboBox{border:0px solid;border-radius:2px;width:30px;background:transparent;}"
      "QComboBox::drop-down{border:none;border-top-right-radius:2px;"
      "border-bottom-right-radius:2px;border-left-color:gray;}"
      "QComboBox QAbstractItemView::item{height:25px;}";

} // namespace

const QString vnc::vncCfgFile = QStringLiteral("/tmp/vncInstall.ini");

vnc::vnc(QWidget *parent, QSize screen)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("vnc"));
    buildLayout();

    resize(469, 533);
    setMinimumSize(220, 340);
    setMaximumSize(600, 800);
    if (!screen.isValid())
        screen = primaryScreenSize();
    if (isSmallScreen(screen)) {
        setFixedSize(220, 340);
        MultiLang->setMinimumWidth(60);
    } else {
        setFixedSize(320, 442);
        MultiLang->setMinimumWidth(80);
    }
    setWindowIcon(QIcon(QStringLiteral(" ")));
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint & ~Qt::WindowMinimizeButtonHint
                       & ~Qt::WindowMaximizeButtonHint)
        | Qt::WindowStaysOnTopHint);
    setWindowState(Qt::WindowActive);
    move((screen.width() - width()) / 2, (screen.height() - height()) / 2);
    qDebug() << "vnc window" << size() << "at" << pos() << "on screen" << screen;

    connect(setVNC_Bt, &QPushButton::clicked, this, &vnc::clickedSetVNCBt);
    connect(removeVNC_Bt, &QPushButton::clicked, this, &vnc::clickedRemoveVNCBt);
    connect(passwd_Bt, &QPushButton::clicked, this, &vnc::clickedPassWdBt);
    connect(restart_Bt, &QPushButton::clicked, this, &vnc::clickedRestartBt);
    connect(close_Bt, &QPushButton::clicked, this, &vnc::clickedCloseBt);
    connect(passwdIsNull_Bt, &QPushButton::clicked, this, &vnc::clickedPasswdIsNull);
}

void vnc::buildLayout()
{
    auto *horizontalLayout = new QHBoxLayout(this);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(6);
    horizontalLayout->setContentsMargins(11, 11, 11, 11);
    auto *verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(6);
    horizontalLayout->addLayout(verticalLayout);

    auto *horizontalLayout_2 = new QHBoxLayout();
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    horizontalLayout_2->setSpacing(6);
    horizontalLayout_2->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding));
    MultiLang = new QComboBox(this);
    MultiLang->setObjectName(QStringLiteral("MultiLang"));
    MultiLang->setMinimumWidth(75);
    MultiLang->setMaximumSize(2000, 200);
    MultiLang->setStyleSheet(QLatin1String(LanguageListStyle));
    horizontalLayout_2->addWidget(MultiLang);
    verticalLayout->addLayout(horizontalLayout_2, 4);

    const auto addButton = [this, verticalLayout](const char *name) {
        auto *button = new QPushButton(this);
        button->setObjectName(QLatin1String(name));
        button->setMinimumSize(150, 40);
        verticalLayout->addWidget(button, 5);
        verticalLayout->addItem(
            new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
        verticalLayout->setStretch(verticalLayout->count() - 1, 1);
        return button;
    };
    setVNC_Bt = addButton("setVNC_Bt");
    removeVNC_Bt = addButton("removeVNC_Bt");
    passwd_Bt = addButton("passwd_Bt");
    passwdIsNull_Bt = addButton("passwdIsNull_Bt");
    restart_Bt = addButton("restart_Bt");
    close_Bt = addButton("close_Bt");

    QMetaObject::connectSlotsByName(this);
}

QString vnc::getUDiskPath()
{
    const long length = pathconf(".", _PC_PATH_MAX);
    if (length <= 0) {
        qDebug() << "Couldn`t get currentworking path length";
        return QString();
    }
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[length + 1]());
    if (!buffer) {
        qDebug() << "Couldn't allocate memoryfor the pathname";
        return QString();
    }
    if (!getcwd(buffer.get(), static_cast<size_t>(length) + 1)) {
        qDebug() << "Couldn`t get currentworking directory!" << std::strerror(errno);
        return QString();
    }
    const QString path = QString::fromLocal8Bit(buffer.get());
    qDebug() << "Currentworking directory is" << path;
    return path;
}

void vnc::initGui()
{
    setVNC_Bt->setText(hix::text(MsgDeployVnc));
    removeVNC_Bt->setText(hix::text(MsgRemoveVnc));
    passwd_Bt->setText(hix::text(MsgSetPwd));
    passwdIsNull_Bt->setText(hix::text(MsgClearPwd));
    restart_Bt->setText(hix::text(MsgRestart));
    close_Bt->setText(hix::text(MsgClose));
    setWindowTitle(hix::text(MsgToolTitle));
}

void vnc::fillLanguageList()
{
    if (hix::text(MsgEnglishName) != QLatin1String("English")) {
        MultiLang->addItem(ChineseItem);
        MultiLang->addItem(EnglishItem);
    } else {
        MultiLang->addItem(EnglishItem);
        MultiLang->addItem(ChineseItem);
    }
    MultiLang->setItemDelegate(new QStyledItemDelegate(MultiLang));
}

void vnc::on_MultiLang_currentIndexChanged(const QString &text)
{
    qDebug() << "on_MultiLang_currentIndexChanged:" << text;
    const int language = text == EnglishItem ? 1 : 0;
    const QString file = vncStickDirectory() + QStringLiteral("/hixbackup/MultiLanguage/")
        + QStringLiteral("%1.lanini").arg(language, 4, 10, QLatin1Char('0'));
    qDebug(
        "type=%d,on_MultiLang_currentIndexChanged-languageFile = %s\n", language, qPrintable(file));
    MultilingualManager::GetInstance()->loadMultilingualFile(file, BuiltinLanguageFile);
    initGui();
}
