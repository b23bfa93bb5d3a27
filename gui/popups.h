// Dialogs placed on the middle of a screen by the program itself: a kiosk display often
// runs without a window manager to place them.
#pragma once

#include <QString>

class QWidget;

// Moves popup so that it lies centred on the screen that over is on (the primary screen
// when over is null).
void centreOnScreen(QWidget* popup, const QWidget* over);

// A modal information box with one OK button, centred like centreOnScreen.
void informCentred(QWidget* parent, const QString& title, const QString& text);
