#include "gui/clickablelabel.h"

ClickableLabel::ClickableLabel(QWidget* parent, Qt::WindowFlags)
    : QLabel(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void ClickableLabel::mousePressEvent(QMouseEvent*)
{
    emit clicked();
}
