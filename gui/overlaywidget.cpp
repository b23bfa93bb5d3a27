#include "gui/overlaywidget.h"

OverlayWidget::OverlayWidget(QWidget* parent)
    : QWidget(parent)
{
}
