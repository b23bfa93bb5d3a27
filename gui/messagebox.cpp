#include "gui/messagebox.h"

#include "ui_messagebox.h"

namespace {

const char* const kEyeVisibleStyle =
    "             #btnShowPIN {                 background-color: #121212;                 border-radius: 8px;"
    "                 border-image:url(:/icons/pswd_eye_visible);             }             #btnShowPIN:hover {"
    "                 border-image:url(:/icons/pswd_eye_visible_hover);             }";
const char* const kEyeHiddenStyle =
    "             #btnShowPIN {                 background-color: #121212;                 border-radius: 8px;"
    "                 border-image:url(:/icons/pswd_eye_hidden);             }             #btnShowPIN:hover {"
    "                 border-image:url(:/icons/pswd_eye_hidden_hover);             }";

} // namespace

MessageBox::MessageBox(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_Dialog)
{
    // The pictures live in this static library; pull them in.
    Q_INIT_RESOURCE(resources);
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(ui->btnDlgOk, &QPushButton::released, this, &MessageBox::slotOkClicked);
    connect(ui->btnDlgCancel, &QPushButton::released, this, &MessageBox::slotCancelClicked);
    connect(ui->btnShowPIN, &QPushButton::released, this, &MessageBox::slotShowPIN);
    ui->lblMsgWarning->hide();
    enteredPIN = "";
    ui->lineEditPIN->setEchoMode(QLineEdit::Password);
    ui->lineEditPIN->setFocus();
}

MessageBox::~MessageBox()
{
    delete ui;
}

void MessageBox::slotOkClicked()
{
    enteredPIN = ui->lineEditPIN->text();
    if (enteredPIN == expectedPIN)
        accept();
    else
        ui->lblMsgWarning->show();
}

void MessageBox::slotCancelClicked()
{
    reject();
}

void MessageBox::slotShowPIN()
{
    if (ui->lineEditPIN->echoMode() == QLineEdit::Password) {
        ui->lineEditPIN->setEchoMode(QLineEdit::Normal);
        ui->btnShowPIN->setStyleSheet(kEyeVisibleStyle);
    } else {
        ui->lineEditPIN->setEchoMode(QLineEdit::Password);
        ui->btnShowPIN->setStyleSheet(kEyeHiddenStyle);
    }
}
