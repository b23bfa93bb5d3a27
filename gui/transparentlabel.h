// A label that paints a picture under its own style and text, and reports clicks
// (the stars of the source rows).
#pragma once

#include <QLabel>
#include <QString>

class TransparentLabel : public QLabel {
    Q_OBJECT
public:
    explicit TransparentLabel(QWidget* parent = nullptr);
    TransparentLabel(QWidget* parent, QString image);

    QString image;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
