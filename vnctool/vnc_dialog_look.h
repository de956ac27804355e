#pragma once

#include <QSize>

class QLabel;
class QLineEdit;
class QWidget;

// A screen counts as small when neither side is longer than 1024 pixels.
bool isSmallScreen(QSize screen);
QSize primaryScreenSize();

// The look shared by the VNC tool's dialogs: no help button, above other windows, no icon, no
// minimise or maximise button.
void applyVncDialogLook(QWidget *dialog);
void centreOnDesktop(QWidget *widget);

// Lets the operator type into field with the pop-up keyboard (at most 8 characters); a
// confirmed entry replaces the field's text.
void typeWithKeyboard(QWidget *parent, QLineEdit *field, QLabel *log);
