#include "gui/popups.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace {

QScreen* screenOf(const QWidget* over)
{
    if (over != nullptr) {
        const QWidget* top = over->window();
        if (top->windowHandle() != nullptr && top->windowHandle()->screen() != nullptr)
            return top->windowHandle()->screen();
        if (QScreen* screen = QGuiApplication::screenAt(top->geometry().center()))
            return screen;
    }
    return QGuiApplication::primaryScreen();
}

} // namespace

void centreOnScreen(QWidget* popup, const QWidget* over)
{
    QScreen* screen = screenOf(over);
    if (screen == nullptr)
        return;
    const QRect area = screen->geometry();
    const QSize size = popup->frameGeometry().size();
    popup->move(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
}

void informCentred(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    // The box knows its size only once shown; place it then, before the user can act.
    box.show();
    centreOnScreen(&box, parent);
    box.exec();
}
