#pragma once

#include <QMainWindow>

// The frameless full-screen window behind the updater's dialog. It takes no input; on the first
// error it turns red together with the dialog.
class winBackgrnd : public QMainWindow
{
    Q_OBJECT
public:
    explicit winBackgrnd(QWidget *parent = nullptr);

public slots:
    void setBackgrnd(Qt::GlobalColor gcolor);
};
