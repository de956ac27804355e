#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <initializer_list>
#include <vector>

// Plays the operator's part in the windows a test opens. While the object lives, a timer looks
// every 5 ms at the window on top and hands it to the next step of the script; each action runs
// from a zero timer of its own, so a window that the action opens in turn is answered as well.
// Besides the steps, answerEveryBox() answers every message box. The timers end with the object:
// nothing is left to fire into a later test.
class ModalScript : public QObject
{
public:
    using Action = std::function<void(QWidget *)>;

    ModalScript()
    {
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, this, [this] { look(); });
        poll.start();
    }

    // Steps for windows that open one after another: each takes the next window that no step
    // acted on yet, the active modal one or else a shown dialog, whatever its class.
    ModalScript(std::initializer_list<Action> actions)
        : ModalScript()
    {
        for (const Action &action : actions)
            steps.push_back({ nullptr, action, true });
    }

    // A step for the modal window of className on top, which may be one that an earlier step
    // acted on (a dialog the script types into, then confirms).
    ModalScript &then(const char *className, Action action)
    {
        steps.push_back({ className, std::move(action), false });
        return *this;
    }

    // A step for the next new window of class Window.
    template<typename Window> ModalScript &each(std::function<void(Window *)> action)
    {
        steps.push_back({ Window::staticMetaObject.className(),
            [action](QWidget *window) { action(static_cast<Window *>(window)); }, true });
        return *this;
    }

    // A step for a message box: records its title and text and presses the button with
    // buttonText (the first button when empty).
    ModalScript &answerBox(QString *title, QString *text, const QString &buttonText = QString())
    {
        return then("QMessageBox", [title, text, buttonText](QWidget *widget) {
            auto *box = static_cast<QMessageBox *>(widget);
            if (title)
                *title = box->windowTitle();
            if (text)
                *text = box->text();
            if (QAbstractButton *button = buttonOf(box, buttonText))
                button->click();
            else
                box->close();
        });
    }

    // Every message box that no step takes and that has a button with buttonText (the first
    // button when empty) is answered with it; texts, titles and buttons record each answer.
    ModalScript &answerEveryBox(const QString &buttonText = QString())
    {
        everyBox = true;
        everyBoxButton = buttonText;
        return *this;
    }

    // Runs trigger (which opens the first window and returns when all are closed); whatever is
    // still open after limitMs is closed, so a test never hangs.
    void run(const std::function<void()> &trigger, int limitMs = 8000)
    {
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
        guard.start(limitMs);
        trigger();
        guard.stop();
    }

    // How many windows the steps acted on.
    int acted() const { return int(seen.size()); }
    bool allStepsDone() const { return next == steps.size() && !timedOut; }

    QStringList seen; // class names of the windows the steps acted on, in order
    QStringList texts; // what the boxes answered by answerEveryBox said
    QStringList titles;
    QStringList buttons; // the buttons pressed on them
    bool timedOut = false;

private:
    struct Step
    {
        const char *className; // any class when null
        Action action;
        bool newWindow; // only a window that no step acted on yet
    };

    static QAbstractButton *buttonOf(QMessageBox *box, const QString &text)
    {
        for (QAbstractButton *button : box->buttons()) {
            if (text.isEmpty() || button->text() == text)
                return button;
        }
        return nullptr;
    }

    bool actedOn(QWidget *window) const
    {
        for (const QPointer<QWidget> &earlier : done) {
            if (earlier == window)
                return true;
        }
        return false;
    }

    QWidget *windowFor(const Step &step) const
    {
        QWidget *window = QApplication::activeModalWidget();
        if (window && step.newWindow && actedOn(window))
            return nullptr;
        if (!window && step.newWindow) {
            for (QWidget *shown : QApplication::topLevelWidgets()) {
                if (shown->isVisible() && qobject_cast<QDialog *>(shown) && !actedOn(shown)) {
                    window = shown;
                    break;
                }
            }
        }
        if (window && step.className && !window->inherits(step.className))
            return nullptr;
        return window;
    }

    void look()
    {
        if (busy)
            return;
        if (next < steps.size()) {
            if (QWidget *window = windowFor(steps[next])) {
                busy = true;
                done << window;
                seen << QString::fromLatin1(window->metaObject()->className());
                const Action action = steps[next++].action;
                QTimer::singleShot(0, window, [this, window, action] {
                    busy = false;
                    action(window);
                });
                return;
            }
        }
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!everyBox || !box)
            return;
        if (QAbstractButton *button = buttonOf(box, everyBoxButton)) {
            texts << box->text();
            titles << box->windowTitle();
            buttons << button->text();
            QTest::mouseClick(button, Qt::LeftButton);
        }
    }

    std::vector<Step> steps;
    size_t next = 0;
    bool busy = false;
    QList<QPointer<QWidget>> done;
    bool everyBox = false;
    QString everyBoxButton;
    QTimer poll;
};
