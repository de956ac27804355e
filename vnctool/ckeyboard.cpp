#include "ckeyboard.h"

#include "multilingual_manager.h"
#include "vnc_texts.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalMapper>
#include <QVBoxLayout>

namespace {

const QString keyText = QStringLiteral("1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ");

bool isFullHd(QSize screen)
{
    return screen == QSize(1920, 1080) || screen == QSize(1080, 1920);
}

int scaled(int value, double scale)
{
    return static_cast<int>(value * scale);
}

QSize primaryScreenSize()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize();
}

} // namespace

CKeyBoard::CKeyBoard(QWidget *parent, QSize screen)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("CKeyBoard"));
    setWindowTitle(hix::text(MsgEnterPwd));
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);

    if (!screen.isValid())
        screen = primaryScreenSize();
    const double scale = isFullHd(screen) ? 1.5 : 1.0;
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(isFullHd(screen) ? 18 : 12);
    setFont(font);
    resize(scaled(400, scale), scaled(300, scale));
    setFixedSize(isFullHd(screen) ? QSize(720, 420) : QSize(480, 280));

    m_label = new QLabel(hix::text(MsgPleaseEnter), this);
    m_label->setObjectName(QStringLiteral("m_label"));
    m_label->setFont(font);
    m_label->setMinimumSize(scaled(40, scale), scaled(32, scale));
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignBottom);

    m_lineEdit = new QLineEdit(this);
    m_lineEdit->setObjectName(QStringLiteral("m_lineEdit"));
    m_lineEdit->setFont(font);
    m_lineEdit->setMinimumHeight(scaled(32, scale));
    m_lineEdit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *entryRow = new QHBoxLayout();
    entryRow->setContentsMargins(0, 0, 0, scaled(10, scale));
    entryRow->addWidget(m_lineEdit);

    auto *verticalLayout = new QVBoxLayout();
    verticalLayout->setSpacing(scaled(3, scale));
    verticalLayout->setContentsMargins(scaled(10, scale), 0, scaled(10, scale), scaled(10, scale));
    verticalLayout->addWidget(m_label);
    verticalLayout->addLayout(entryRow);

    signalMapper = new QSignalMapper(this);
    for (int r = 0; r < KeyRows; ++r) {
        auto *row = new QHBoxLayout();
        row->setObjectName(QStringLiteral("horiLayoutsName%1").arg(r));
        row->setSpacing(scaled(3, scale));
        const int columns = r == KeyRows - 1 ? CharacterKeys - r * KeyColumns : KeyColumns;
        for (int c = 0; c < columns; ++c) {
            const int index = r * KeyColumns + c;
            const QString label(keyText.at(index));
            QPushButton *key = makeKey(QStringLiteral("keyBtn") + label, label, scale, font);
            keyBtn[r][c] = key;
            connect(key, &QPushButton::clicked, signalMapper,
                static_cast<void (QSignalMapper::*)()>(&QSignalMapper::map));
            signalMapper->setMapping(key, index);
            row->addWidget(key);
        }
        if (r == KeyRows - 1) {
            keyBtnCap = makeKey(QStringLiteral("keyBtnCap"), QStringLiteral("Cap"), scale, font);
            keyBtnDel = makeKey(QStringLiteral("keyBtnDel"), QStringLiteral("Del"), scale, font);
            keyBtnBack = makeKey(QStringLiteral("keyBtnBack"), QStringLiteral("<--"), scale, font);
            keyBtnConfirm
                = makeKey(QStringLiteral("keyBtnConfirm"), hix::text(MsgConfirm), scale, font);
            row->addWidget(keyBtnCap);
            row->addWidget(keyBtnDel);
            row->addWidget(keyBtnBack);
            row->addWidget(keyBtnConfirm);
        }
        verticalLayout->addLayout(row);
    }

    auto *gridLayout = new QGridLayout(this);
    gridLayout->setSpacing(scaled(6, scale));
    const int margin = scaled(11, scale);
    gridLayout->setContentsMargins(margin, margin, margin, margin);
    gridLayout->addLayout(verticalLayout, 0, 0);

    connect(signalMapper, &QSignalMapper::mappedInt, this, &CKeyBoard::slotClicked);
    connect(m_lineEdit, &QLineEdit::textChanged, this, &CKeyBoard::slotValueChanged);
    connect(keyBtnBack, &QPushButton::clicked, this, &CKeyBoard::slotKeyBtnBackClicked);
    connect(keyBtnCap, &QPushButton::clicked, this, &CKeyBoard::slotkeyBtnCapClicked);
    connect(keyBtnDel, &QPushButton::clicked, this, &CKeyBoard::slotKeyBtnDelClicked);
    connect(keyBtnConfirm, &QPushButton::clicked, this, &CKeyBoard::slotKeyBtnConfirmClicked);
}

QPushButton *CKeyBoard::makeKey(
    const QString &objectName, const QString &text, double scale, const QFont &font)
{
    auto *key = new QPushButton(text, this);
    key->setObjectName(objectName);
    key->setFont(font);
    key->setFocusPolicy(Qt::NoFocus);
    key->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    key->setMinimumSize(scaled(30, scale), scaled(30, scale));
    return key;
}

void CKeyBoard::setEchoMode(int mode)
{
    m_lineEdit->setEchoMode(static_cast<QLineEdit::EchoMode>(mode));
}

void CKeyBoard::slotClicked(int index)
{
    if (lengthLimit && m_lineEdit->text().toUtf8().size() >= maxLength)
        return;
    m_lineEdit->insert(keyBtn[index / KeyColumns][index % KeyColumns]->text());
}

void CKeyBoard::slotkeyBtnCapClicked()
{
    for (int index = 10; index < CharacterKeys; ++index) {
        QPushButton *key = keyBtn[index / KeyColumns][index % KeyColumns];
        key->setText(caps ? key->text().toLower() : key->text().toUpper());
    }
    caps = !caps;
}

void CKeyBoard::slotKeyBtnBackClicked()
{
    if (m_lineEdit->text().isEmpty())
        return;
    QString text = m_lineEdit->text();
    if (m_lineEdit->hasSelectedText()) {
        const int start = m_lineEdit->selectionStart();
        text.remove(start, m_lineEdit->selectedText().size());
        m_lineEdit->setText(text);
        m_lineEdit->setCursorPosition(start);
        return;
    }
    const int pos = m_lineEdit->cursorPosition();
    if (pos <= 0)
        return;
    text.remove(pos - 1, 1);
    m_lineEdit->setText(text);
    m_lineEdit->setCursorPosition(pos - 1);
}

void CKeyBoard::slotKeyBtnDelClicked()
{
    QString text = m_lineEdit->text();
    if (m_lineEdit->hasSelectedText()) {
        const int start = m_lineEdit->selectionStart();
        text.remove(start, m_lineEdit->selectedText().size());
        m_lineEdit->setText(text);
        m_lineEdit->setCursorPosition(start);
        return;
    }
    text.chop(1);
    m_lineEdit->setText(text);
    m_lineEdit->setCursorPosition(0);
}

void CKeyBoard::slotValueChanged(const QString &text)
{
    // Cut to the limit in force, so nothing the user typed within it is dropped.
    if (!lengthLimit || text.toUtf8().size() <= maxLength)
        return;
    QString cut = text;
    while (cut.toUtf8().size() > maxLength)
        cut.chop(1);
    m_lineEdit->setText(cut);
    m_lineEdit->update();
}

void CKeyBoard::slotKeyBtnConfirmClicked()
{
    emit signalText(m_lineEdit->text());
    close();
}

void CKeyBoard::showEvent(QShowEvent *event)
{
    const QSize screen = primaryScreenSize();
    move((screen.width() - width()) / 2, (screen.height() - height()) / 2);
    QDialog::showEvent(event);
}

void CKeyBoard::closeEvent(QCloseEvent *event)
{
    m_lineEdit->clear();
    event->accept();
}
