#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

// Plays the operator's part in nested modal dialogs: each step waits until a modal window of the
// given class is on top, then acts on it. Every action runs from its own zero timer so the next
// dialog it opens can be answered in turn. A guard closes whatever is left open after the time
// limit, so a test never hangs.
class ModalScript : public QObject
{
public:
    using Action = std::function<void(QWidget *)>;

    ModalScript &then(const char *className, Action action)
    {
        steps.push_back({ className, std::move(action) });
        return *this;
    }

    // Answers a message box: records its title and text and presses the button with buttonText
    // (the first button when empty).
    ModalScript &answerBox(QString *title, QString *text, const QString &buttonText = QString())
    {
        return then("QMessageBox", [title, text, buttonText](QWidget *widget) {
            auto *box = static_cast<QMessageBox *>(widget);
            if (title)
                *title = box->windowTitle();
            if (text)
                *text = box->text();
            for (QAbstractButton *button : box->buttons()) {
                if (buttonText.isEmpty() || button->text() == buttonText) {
                    button->click();
                    return;
                }
            }
            box->close();
        });
    }

    // Runs trigger (which opens the first dialog and returns when all are closed).
    void run(const std::function<void()> &trigger, int limitMs = 8000)
    {
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, this, [this] {
            if (busy || next >= steps.size())
                return;
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->inherits(steps[next].className))
                return;
            busy = true;
            Action action = steps[next++].action;
            QTimer::singleShot(0, modal, [this, modal, action] {
                busy = false;
                action(modal);
            });
        });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [this] {
            timedOut = true;
            for (int i = 0; i < 20; ++i) {
                QWidget *modal = QApplication::activeModalWidget();
                if (!modal)
                    break;
                modal->close();
                if (auto *dialog = qobject_cast<QDialog *>(modal))
                    dialog->reject();
            }
        });
        poll.start();
        guard.start(limitMs);
        trigger();
        poll.stop();
        guard.stop();
    }

    bool allStepsDone() const { return next == steps.size() && !timedOut; }
    bool timedOut = false;

private:
    struct Step
    {
        const char *className;
        Action action;
    };
    std::vector<Step> steps;
    size_t next = 0;
    bool busy = false;
};
