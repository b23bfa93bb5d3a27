#include "gui/transparentlabel.h"

#include <QPainter>
#include <QPixmap>

TransparentLabel::TransparentLabel(QWidget* parent)
    : QLabel(parent)
{
}

TransparentLabel::TransparentLabel(QWidget* parent, QString image)
    : QLabel(parent)
    , image(std::move(image))
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TransparentLabel::mousePressEvent(QMouseEvent*)
{
    emit clicked();
}

void TransparentLabel::paintEvent(QPaintEvent* event)
{
    if (!image.isEmpty()) {
        QPixmap picture(image);
        if (!picture.isNull()) {
            QPainter painter(this);
            painter.drawPixmap(0, 0, picture);
        }
    }
    QLabel::paintEvent(event);
}
