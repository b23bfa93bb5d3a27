// Buttons of the main page, page dots, option buttons, the settings lock and the key map.
#include "common/helpers.h"
#include "gui/mainwindow.h"
#include "gui/messagebox.h"
#include "gui/overlaywidget.h"
#include "gui/popups.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QEasingCurve>
#include <QKeyEvent>
#include <QPropertyAnimation>

void MainWindow::slotClickedBtnClose()
{
    DebugLog("quit app\n");
    QApplication::quit();
}

void MainWindow::slotClickedBtnFavourite()
{
    if (favouritesOverlay->isHidden())
        favouritesOverlay->show();
    else
        favouritesOverlay->hide();
}

void MainWindow::slotClickedBtnSrcList()
{
    favouritesOverlay->hide();
    const int W = screenRect.width();
    const int H = screenRect.height();
    const int S = screen_width <= 1920 ? 384 : 768;
    QFrame* bar = ui->frameSrcSideBar;
    auto* animation = new QPropertyAnimation(bar, "geometry", bar);
    animation->setEasingCurve(QEasingCurve::OutSine);
    animation->setDuration(250);
    animation->setStartValue(QRect(QPoint(W, 0), QPoint(W + S - 1, H - 1)));
    animation->setEndValue(QRect(QPoint(W - S, 0), QPoint(W - 1, H - 1)));
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    if (bar->isHidden()) {
        bar->show();
        activateWindow();
        bar->raise();
    } else {
        bar->hide();
    }
}

void MainWindow::setPageOptionStyle()
{
    for (QPushButton* dot : pageOptionButtons)
        dot->setStyleSheet("QPushButton{border-image:url(:/icons/dot_next_favourite);background-color:transparent;}"
                           "QPushButton:hover{border-image:url(:/icons/dot_next_favourite_hover);}");
    pageOptionButtons[currentPage]->setStyleSheet(
        "QPushButton{border-image:url(:/icons/dot_actual_favourite);background-color:transparent;}"
        "QPushButton:hover{border-image:url(:/icons/dot_actual_favourite);}");
}

void MainWindow::slotClickedOperationModeEncode()
{
    ui->btnOperatingModeEncode->setStyleSheet(strBtnEnableStyle);
    ui->btnOperatingModeDecode->setStyleSheet(strBtnDisableStyle);
    operationMode = 0;
    ui->lblCurOperatingMode->setText("Encode");
}

void MainWindow::slotClickedOperationModeDecode()
{
    ui->btnOperatingModeDecode->setStyleSheet(strBtnEnableStyle);
    ui->btnOperatingModeEncode->setStyleSheet(strBtnDisableStyle);
    operationMode = 1;
    ui->lblCurOperatingMode->setText("Decode");
}

void MainWindow::slotClickedNoVideoSrcBehabiourStandard()
{
    ui->btnNoVideoSrcBehaviourStandard->setStyleSheet(strBtnEnableStyle);
    ui->btnNoVideoSrcBehaviourBack->setStyleSheet(strBtnDisableStyle);
    ui->btnNoVideoSrcBehaviourCustom->setStyleSheet(strBtnDisableStyle);
    noVideoSourceBehaviour = 0;
}

void MainWindow::slotClickedNoVideoSrcBehabiourBack()
{
    ui->btnNoVideoSrcBehaviourBack->setStyleSheet(strBtnEnableStyle);
    ui->btnNoVideoSrcBehaviourStandard->setStyleSheet(strBtnDisableStyle);
    ui->btnNoVideoSrcBehaviourCustom->setStyleSheet(strBtnDisableStyle);
    noVideoSourceBehaviour = 1;
}

void MainWindow::slotClickedNoVideoSrcBehabiourCustom()
{
    ui->btnNoVideoSrcBehaviourCustom->setStyleSheet(strBtnEnableStyle);
    ui->btnNoVideoSrcBehaviourStandard->setStyleSheet(strBtnDisableStyle);
    ui->btnNoVideoSrcBehaviourBack->setStyleSheet(strBtnDisableStyle);
    noVideoSourceBehaviour = 2;
}

void MainWindow::slotClickedDanteAudioEnable()
{
    ui->btnDanteAudioEnable->setStyleSheet(strBtnEnableStyle);
    ui->btnDanteAudioDisable->setStyleSheet(strBtnDisableStyle);
    danteAudio = 0;
}

void MainWindow::slotClickedDanteAudioDisable()
{
    ui->btnDanteAudioDisable->setStyleSheet(strBtnEnableStyle);
    ui->btnDanteAudioEnable->setStyleSheet(strBtnDisableStyle);
    danteAudio = 1;
}

void MainWindow::slotClickedIPConfigurationDhcp()
{
    ui->btnIPConfigurationDhcp->setStyleSheet(strBtnEnableStyle);
    ui->btnIPConfigurationStatic->setStyleSheet(strBtnDisableStyle);
    ipConfigChosen = 0;
}

void MainWindow::slotClickedIPConfigurationStatic()
{
    ui->btnIPConfigurationStatic->setStyleSheet(strBtnEnableStyle);
    ui->btnIPConfigurationDhcp->setStyleSheet(strBtnDisableStyle);
    ipConfigChosen = 1;
}

void MainWindow::slotClickedPINShow()
{
    if (ui->lineEditPIN->echoMode() == QLineEdit::Password) {
        ui->lineEditPIN->setEchoMode(QLineEdit::Normal);
        ui->btnPINShow->setStyleSheet("QPushButton{border-image:url(:/icons/pswd_eye_visible);background-color: "
                                      "#121212;border-radius: 8px;}QPushButton:hover{border-image:url(:/icons/"
                                      "pswd_eye_visible_hover)}");
    } else {
        ui->lineEditPIN->setEchoMode(QLineEdit::Password);
        ui->btnPINShow->setStyleSheet("QPushButton{border-image:url(:/icons/pswd_eye_hidden);background-color: "
                                      "#121212;border-radius: 8px;}QPushButton:hover{border-image:url(:/icons/"
                                      "pswd_eye_hidden_hover)}");
    }
}

void MainWindow::disableSettings(bool disable)
{
    QWidget* const locked[] = {
        ui->btnOperatingModeEncode,         ui->btnOperatingModeDecode,     ui->comboScreenResolution,
        ui->comboDisplayMode,               ui->btnNoVideoSrcBehaviourStandard, ui->btnNoVideoSrcBehaviourBack,
        ui->btnNoVideoSrcBehaviourCustom,   ui->btnDanteAudioEnable,        ui->btnDanteAudioDisable,
        ui->lineEditScreenName,             ui->btnIPConfigurationDhcp,     ui->btnIPConfigurationStatic,
        ui->lineEditIPAddress,              ui->lineEditIPSubnet,           ui->lineEditIPGateway,
        ui->lineEditPIN,                    ui->btnPINShow,
    };
    for (QWidget* widget : locked)
        widget->setDisabled(disable);
}

void MainWindow::slotClickedSecurityDisabled()
{
    if (settingsLocked == 1)
        return;
    ui->btnSecurityEnabled->setStyleSheet(strBtnDisableStyle);
    ui->btnSecurityDisabled->setStyleSheet(strBtnEnableStyle);
    disableSettings(true);
    settingsLocked = 1;
}

void MainWindow::slotClickedSecurityEnabled()
{
    if (settingsLocked == 0)
        return;
    MessageBox dialog(this);
    dialog.expectedPIN = ui->lineEditPIN->text();
    centreOnScreen(&dialog, this);
    dialog.exec();
    if (dialog.enteredPIN == ui->lineEditPIN->text()) {
        ui->btnSecurityEnabled->setStyleSheet(strBtnEnableStyle);
        ui->btnSecurityDisabled->setStyleSheet(strBtnDisableStyle);
        disableSettings(false);
        settingsLocked = 0;
    }
}

void MainWindow::keyReleaseEvent(QKeyEvent* event)
{
    const int page = ui->stackedWidget->currentIndex();
    switch (event->key()) {
    case Qt::Key_F1:
        QApplication::quit();
        break;
    case Qt::Key_1:
        if (page == 0)
            slotClickedBtnSetting();
        break;
    case Qt::Key_2:
        if (page == 0)
            slotClickedBtnFavourite();
        break;
    case Qt::Key_3:
        if (page == 0)
            slotClickedBtnSrcList();
        break;
    case Qt::Key_Home:
        if (page == 1)
            slotClickedBtnCloseSetting();
        break;
    case Qt::Key_Left:
        DebugLog("Pressed Left Key\n");
        if (!favouritesOverlay->isHidden()) {
            if (focusedTile != 0)
                --focusedTile;
            selectedSource();
        }
        break;
    case Qt::Key_Right:
        DebugLog("Pressed Right Key\n");
        if (!favouritesOverlay->isHidden()) {
            if (focusedTile != 5)
                ++focusedTile;
            selectedSource();
        }
        break;
    case Qt::Key_Return:
        if (!favouritesOverlay->isHidden() && clickedTile != focusedTile) {
            clickedTile = focusedTile;
            clickedSource();
        }
        break;
    default:
        break;
    }
}
