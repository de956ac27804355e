#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>

// Answers every message box that opens while it lives: records what the box said and presses
// its first button, as the operator would.
class MessageBoxAnswerer : public QObject
{
public:
    MessageBoxAnswerer()
    {
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box->buttons().isEmpty())
                return;
            texts << box->text();
            titles << box->windowTitle();
            buttons << box->buttons().first()->text();
            QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
        });
        timer.start();
    }

    QStringList texts;
    QStringList titles;
    QStringList buttons;

private:
    QTimer timer;
};
