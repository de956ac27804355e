#pragma once

#include "app_exit_failed_dlg.h"

#include <QApplication>
#include <QTimer>

#include <functional>

// Acts on the next shutdown dialog once it is the active modal window: a single-shot timer looks
// for it and looks again shortly after while it is not there yet (a bounded number of times).
inline void whenDialogShows(
    std::function<void(app_exit_failed_dlg *)> action, int attemptsLeft = 400)
{
    QTimer::singleShot(20, [action, attemptsLeft] {
        auto *dialog = qobject_cast<app_exit_failed_dlg *>(QApplication::activeModalWidget());
        if (dialog)
            action(dialog);
        else if (attemptsLeft > 0)
            whenDialogShows(action, attemptsLeft - 1);
    });
}
