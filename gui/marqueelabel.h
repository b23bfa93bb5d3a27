// A label whose text, when wider than the label, scrolls back and forth while the
// pointer rests on it (the names of the source rows).
#pragma once

#include <QLabel>
#include <QPoint>
#include <QString>
#include <QTimer>

class MarqueeLabel : public QLabel {
    Q_OBJECT
public:
    explicit MarqueeLabel(QWidget* parent = nullptr);

    void setAlignment(Qt::Alignment alignment);
    int getSpeed() const { return speed; }
    void show();
    void updateCoordinates();

    // Current horizontal text offset, for whoever needs to know where the text is drawn.
    int offset() const { return px; }
    bool isHovered() const { return hovered; }

public slots:
    void setSpeed(int speed);
    void setDirection(int direction);
    void refreshLabel();

signals:
    void clicked();
    void showTooltip(QPoint pos, QString text);
    void hideTooltip();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int px = 0;
    int py = 15;
    QTimer timer;
    int alignment = Qt::AlignBottom;
    int speed = 1;
    int interval = 10;
    int direction = 0;
    int halfFontSize = 0;
    int textWidth = 0;
    bool hovered = false;
};
