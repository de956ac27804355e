#pragma once

#include "app_exit_failed_dlg.h"

#include <QApplication>
#include <QTimer>

#include <deque>
#include <functional>

// Answers the shutdown dialogs a test expects, one action per dialog in order: a single-shot
// timer, re-armed every 20 ms, finds the dialog as the active modal window and acts on it. The
// answers stop with the object, so none is left to fire into a later test.
class DialogAnswers
{
public:
    using Action = std::function<void(app_exit_failed_dlg *)>;

    explicit DialogAnswers(std::initializer_list<Action> actions)
        : pending(actions)
    {
        timer.setSingleShot(true);
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] { look(); });
        timer.start();
    }

    // How many dialogs were acted on.
    int shown() const { return count; }

private:
    void look()
    {
        auto *dialog = qobject_cast<app_exit_failed_dlg *>(QApplication::activeModalWidget());
        if (dialog && !actedOnCurrent && !pending.empty()) {
            // The callers run no event loop between two dialogs: the end of one is seen by its
            // destruction, not by a look finding no dialog.
            actedOnCurrent = true;
            QObject::connect(
                dialog, &QObject::destroyed, &timer, [this] { actedOnCurrent = false; });
            ++count;
            const Action action = pending.front();
            pending.pop_front();
            action(dialog);
        }
        timer.start();
    }

    std::deque<Action> pending;
    QTimer timer;
    bool actedOnCurrent = false;
    int count = 0;
};
