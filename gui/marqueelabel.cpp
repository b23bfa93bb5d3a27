#include "gui/marqueelabel.h"

#include <QFontMetrics>
#include <QPainter>

MarqueeLabel::MarqueeLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::RichText);
    halfFontSize = font().pointSize() / 2;
    setAlignment(Qt::AlignBottom);
    hovered = false;
    timer.setInterval(interval);
    connect(&timer, &QTimer::timeout, this, &MarqueeLabel::refreshLabel);
    timer.start();
}

void MarqueeLabel::setAlignment(Qt::Alignment newAlignment)
{
    alignment = static_cast<int>(newAlignment);
    updateCoordinates();
    QLabel::setAlignment(newAlignment);
}

void MarqueeLabel::setSpeed(int newSpeed)
{
    speed = newSpeed;
}

void MarqueeLabel::setDirection(int newDirection)
{
    direction = newDirection;
    px = 0;
    refreshLabel();
}

void MarqueeLabel::refreshLabel()
{
    repaint();
}

void MarqueeLabel::show()
{
    QLabel::show();
}

void MarqueeLabel::updateCoordinates()
{
    const int h = height();
    switch (alignment) {
    case Qt::AlignBottom:
        py = h - 10;
        break;
    case Qt::AlignVCenter:
        py = h / 2;
        break;
    case Qt::AlignTop:
        py = 10;
        break;
    default:
        break;
    }
    halfFontSize = font().pointSize() / 2;
    textWidth = QFontMetrics(font()).horizontalAdvance(text());
}

void MarqueeLabel::mousePressEvent(QMouseEvent*)
{
    emit clicked();
}

void MarqueeLabel::enterEvent(QEvent*)
{
    hovered = true;
    setToolTip(text());
    updateCoordinates();
}

void MarqueeLabel::leaveEvent(QEvent*)
{
    hovered = false;
}

void MarqueeLabel::paintEvent(QPaintEvent*)
{
    const int w = width();
    if (textWidth > w) {
        const int limit = w - textWidth;
        if (px < limit) {
            direction = 0;
            px += speed;
        } else if (px > 0) {
            direction = 1;
            px -= speed;
        } else if (direction == 1) {
            px -= speed;
        } else {
            px += speed;
        }
        if (!hovered)
            px = 0;
    }
    QPainter painter(this);
    painter.drawText(QPoint(px, halfFontSize + py), text());
}

void MarqueeLabel::resizeEvent(QResizeEvent* event)
{
    updateCoordinates();
    QLabel::resizeEvent(event);
}
