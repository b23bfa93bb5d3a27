// The PIN dialog that guards the settings page.
#pragma once

#include <QDialog>
#include <QString>

class Ui_Dialog;

class MessageBox : public QDialog {
    Q_OBJECT
public:
    explicit MessageBox(QWidget* parent = nullptr);
    ~MessageBox() override;

    QString expectedPIN;
    QString enteredPIN;
    Ui_Dialog* ui;

public slots:
    void slotOkClicked();
    void slotCancelClicked();
    void slotShowPIN();
};
