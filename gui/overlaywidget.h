// Plain container of the favourites overlay and its tiles.
#pragma once

#include <QWidget>

class OverlayWidget : public QWidget {
    Q_OBJECT
public:
    explicit OverlayWidget(QWidget* parent = nullptr);
};
