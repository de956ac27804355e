#include "pwd_entry_dialog.h"

#include "md5_crypt_ctrl.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalMapper>
#include <QVBoxLayout>

namespace {

enum PwdMsg {
    MsgTip = 1001,
    MsgConfirm = 1003,
    MsgTitle = 1011,
    MsgTooLong = 1012,
    MsgWrongPassword = 1013,
    MsgPrompt = 1014,
};

const QStringList keyText = {
    QStringLiteral("1"),
    QStringLiteral("2"),
    QStringLiteral("3"),
    QStringLiteral("4"),
    QStringLiteral("5"),
    QStringLiteral("6"),
    QStringLiteral("7"),
    QStringLiteral("8"),
    QStringLiteral("9"),
    QStringLiteral("0"),
    QStringLiteral("A"),
    QStringLiteral("B"),
    QStringLiteral("C"),
    QStringLiteral("D"),
    QStringLiteral("E"),
    QStringLiteral("F"),
    QStringLiteral("G"),
    QStringLiteral("H"),
    QStringLiteral("I"),
    QStringLiteral("J"),
    QStringLiteral("K"),
    QStringLiteral("L"),
    QStringLiteral("M"),
    QStringLiteral("N"),
    QStringLiteral("O"),
    QStringLiteral("P"),
    QStringLiteral("Q"),
    QStringLiteral("R"),
    QStringLiteral("S"),
    QStringLiteral("T"),
    QStringLiteral("U"),
    QStringLiteral("V"),
    QStringLiteral("W"),
    QStringLiteral("X"),
    QStringLiteral("Y"),
    QStringLiteral("Z"),
};

QString fallbackText(int id)
{
    switch (id) {
    case MsgTip:
        return QStringLiteral("提示");
    case MsgConfirm:
        return QStringLiteral("确认");
    case MsgTitle:
        return QStringLiteral("HIX密码输入");
    case MsgTooLong:
        return QStringLiteral("密码最大长度为20个字符!");
    case MsgWrongPassword:
        return QStringLiteral("密码输入错误!");
    case MsgPrompt:
        return QStringLiteral("请输入密码:");
    default:
        return QString();
    }
}

QFont keyFont()
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    return font;
}

} // namespace

PwdEntryDialog::PwdEntryDialog(QWidget *parent, std::function<QString(int)> lookupFn)
    : QDialog(parent)
    , lookup(std::move(lookupFn))
{
    init_data();

    keyBtnCap->setText(QStringLiteral("Cap"));
    keyBtnBack->setText(QStringLiteral("<--"));
    keyBtnDel->setText(QStringLiteral("Del"));
    keyBtnConfirm->setText(text(MsgConfirm));
    label->setText(text(MsgPrompt));

    setWindowTitle(text(MsgTitle));
    connect(lineEditPwd, &QLineEdit::textChanged, this, &PwdEntryDialog::valueChanged);
    lineEditPwd->setEchoMode(QLineEdit::Password);
    setWindowIcon(QIcon(QStringLiteral(" ")));
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowStaysOnTopHint);
}

QPushButton *PwdEntryDialog::makeKey(const QString &objectName, const QString &label)
{
    auto *key = new QPushButton(label, this);
    key->setObjectName(objectName);
    key->setFont(keyFont());
    key->setFocusPolicy(Qt::NoFocus);
    key->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    key->setMinimumSize(30, 30);
    return key;
}

void PwdEntryDialog::init_data()
{
    setFixedSize(480, 280);
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("PwdEntryDialog"));
    setFont(keyFont());

    label = new QLabel(this);
    label->setObjectName(QStringLiteral("label"));
    label->setFont(keyFont());
    label->setMinimumSize(40, 32);
    label->setAlignment(Qt::AlignLeft | Qt::AlignBottom);

    lineEditPwd = new QLineEdit(this);
    lineEditPwd->setObjectName(QStringLiteral("lineEditPwd"));
    lineEditPwd->setFont(keyFont());
    lineEditPwd->setMinimumHeight(32);
    lineEditPwd->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    signalMapper = new QSignalMapper(this);
    for (int r = 0; r < KeyRows; ++r) {
        rowLayouts[r] = new QHBoxLayout();
        rowLayouts[r]->setObjectName(QStringLiteral("horiLayoutsName%1").arg(r));
        rowLayouts[r]->setSpacing(3);
        const int columns = r == KeyRows - 1 ? CharacterKeys - r * KeyColumns : KeyColumns;
        for (int c = 0; c < columns; ++c) {
            const int index = r * KeyColumns + c;
            QPushButton *key = makeKey(QStringLiteral("keyBtn") + keyText[index], keyText[index]);
            keyBtn[r][c] = key;
            connect(key, &QPushButton::clicked, signalMapper,
                static_cast<void (QSignalMapper::*)()>(&QSignalMapper::map));
            signalMapper->setMapping(key, index);
            rowLayouts[r]->addWidget(key);
        }
    }

    QHBoxLayout *lastRow = rowLayouts[KeyRows - 1];
    keyBtnCap = makeKey(QStringLiteral("keyBtnCap"), QString());
    keyBtnDel = makeKey(QStringLiteral("keyBtnDel"), QString());
    keyBtnBack = makeKey(QStringLiteral("keyBtnBack"), QString());
    keyBtnConfirm = makeKey(QStringLiteral("keyBtnConfirm"), QString());
    lastRow->addWidget(keyBtnCap);
    lastRow->addWidget(keyBtnDel);
    lastRow->addWidget(keyBtnBack);
    lastRow->addWidget(keyBtnConfirm);

    horizontalLayout_exp = new QHBoxLayout();
    horizontalLayout_exp->setObjectName(QStringLiteral("horizontalLayout_exp"));
    horizontalLayout_exp->setContentsMargins(0, 0, 0, 10);
    horizontalLayout_exp->addWidget(lineEditPwd);

    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(3);
    verticalLayout->setContentsMargins(10, 0, 10, 10);
    verticalLayout->addWidget(label);
    verticalLayout->addLayout(horizontalLayout_exp);
    for (QHBoxLayout *row : rowLayouts)
        verticalLayout->addLayout(row);

    gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(6);
    gridLayout->setContentsMargins(11, 11, 11, 11);
    gridLayout->addLayout(verticalLayout, 0, 0);

    connect(signalMapper, &QSignalMapper::mappedInt, this, &PwdEntryDialog::doClicked);
    QMetaObject::connectSlotsByName(this);
}

QString PwdEntryDialog::text(int id) const
{
    return lookup ? lookup(id) : fallbackText(id);
}

void PwdEntryDialog::showMessage(int id)
{
    QMessageBox box(
        QMessageBox::Information, text(MsgTip), text(id), QMessageBox::Ok, this, windowFlags());
    box.setFont(font());
    box.setWindowIcon(QIcon(QStringLiteral(" ")));
    box.button(QMessageBox::Ok)->setText(text(MsgConfirm));
    box.exec();
}

void PwdEntryDialog::valueChanged(const QString &inputValue)
{
    if (inputValue.length() > MaxPasswordLength) {
        // The field is left as it is: the operator shortens it with the editing keys.
        showMessage(MsgTooLong);
        return;
    }
    if (inputValue.isEmpty())
        return;
    if (!md5_crypt_ctrl::GetInstance()->isPwdPassed(inputValue.toStdString()))
        return;
    lineEditPwd->clear();
    close();
    passed = true;
    emit allowedAccess();
}

void PwdEntryDialog::doClicked(int index)
{
    QPushButton *key = keyBtn[index / KeyColumns][index % KeyColumns];
    if (!key)
        return;
    lineEditPwd->insert(key->text());
    lineEditPwd->setFocus();
}

void PwdEntryDialog::on_keyBtnCap_clicked()
{
    for (int index = 10; index < CharacterKeys; ++index) {
        QPushButton *key = keyBtn[index / KeyColumns][index % KeyColumns];
        key->setText(caps ? key->text().toLower() : key->text().toUpper());
    }
    caps = !caps;
}

void PwdEntryDialog::on_keyBtnBack_clicked()
{
    QString value = lineEditPwd->text();
    const int pos = lineEditPwd->cursorPosition();
    if (value.isEmpty() || pos <= 0)
        return;
    value.remove(pos - 1, 1);
    lineEditPwd->setText(value);
    lineEditPwd->setCursorPosition(pos - 1);
}

void PwdEntryDialog::on_keyBtnDel_clicked()
{
    if (!lineEditPwd->hasSelectedText())
        return;
    const int start = lineEditPwd->selectionStart();
    QString value = lineEditPwd->text();
    value.remove(start, lineEditPwd->selectedText().length());
    lineEditPwd->setText(value);
    lineEditPwd->setCursorPosition(start);
}

void PwdEntryDialog::on_keyBtnConfirm_clicked()
{
    showMessage(MsgWrongPassword);
    lineEditPwd->clear();
}

void PwdEntryDialog::showEvent(QShowEvent *event)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->geometry();
        move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
    }
    QDialog::showEvent(event);
}

void PwdEntryDialog::closeEvent(QCloseEvent *event)
{
    lineEditPwd->clear();
    event->accept();
}
