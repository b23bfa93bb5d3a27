// Settings store, applying the settings page, and the hand-over of a chosen source.
#include "common/fixed_path.h"
#include "common/helpers.h"
#include "common/shared_file.h"
#include "gui/mainwindow.h"
#include "gui/overlaywidget.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QHostInfo>
#include <QProcess>
#include <QSettings>
#include <QTextStream>

#include <cstdlib>
#include <string_view>
#include <unistd.h>

namespace {

QString fixedFile(const char* path)
{
    return QString::fromStdString(tarnvik::fixedPath(path));
}

// Through the programs' one writer of shared files: replaced whole by a rename where the
// directory lets this user create files, else rewritten in place (a file that the
// appliance provisioned writable in a directory of root's).
void replaceFile(const QString& path, const QByteArray& bytes)
{
    writeSharedFile(path.toStdString(), std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

QString firstWord(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QTextStream stream(&file);
    QString word;
    stream >> word;
    return word;
}

// One shell word: no text can leave the single quotes.
QString shellQuoted(QString text)
{
    return "'" + text.replace("'", "'\\''") + "'";
}

} // namespace

void display_video(QString name, QString url)
{
    replaceFile(fixedFile("/etc/tarnvik-source-name"), name.toUtf8());
    replaceFile(fixedFile("/etc/tarnvik-source-ip"), url.toUtf8());
    startDetachedCommand("systemctl restart TarnvikRunner");
}

void MainWindow::loadStateForSettings()
{
    if (firstWord(fixedFile("/etc/tarnvik-mode")) == "encode") {
        operationMode = 0;
        slotClickedOperationModeEncode();
    } else {
        operationMode = 1;
        slotClickedOperationModeDecode();
    }
    QSettings settings;
    ui->comboDisplayMode->setCurrentText(settings.value("CUR_DISPLAY_MODE", "Follow HDMI input").toString());
    const int noVideo = settings.value("CUR_NO_VIDEO_SOURCE_BEHAVIOUR", 0).toInt();
    if (noVideo == 0)
        slotClickedNoVideoSrcBehabiourStandard();
    else if (noVideo == 1)
        slotClickedNoVideoSrcBehabiourBack();
    else
        slotClickedNoVideoSrcBehabiourCustom();
    if (settings.value("CUR_DANTE_AUDIO", 0).toInt() == 0)
        slotClickedDanteAudioEnable();
    else
        slotClickedDanteAudioDisable();
    ui->lineEditPIN->setText(settings.value("CUR_PIN", "quorvel").toString());
}

void MainWindow::saveStateForSettings()
{
    {
        QSettings settings;
        settings.setValue("CUR_OPERATION_MODE", operationMode);
        settings.setValue("CUR_DISPLAY_MODE", ui->comboDisplayMode->currentText());
        settings.setValue("CUR_NO_VIDEO_SOURCE_BEHAVIOUR", noVideoSourceBehaviour);
        settings.setValue("CUR_DANTE_AUDIO", danteAudio);
        settings.setValue("CUR_PIN", ui->lineEditPIN->text());
    }
    replaceFile(fixedFile("/etc/tarnvik-mode"), operationMode == 1 ? "decode" : "encode");
}

void MainWindow::slotClickedBtnCloseSetting()
{
    favouritesOverlay->hide();
    if (QHostInfo::localHostName() != ui->lineEditScreenName->text())
        QProcess::execute("hostnamectl", {"set-hostname", ui->lineEditScreenName->text()});

    if (ipConfigChosen != ipConfigFound) {
        const bool root = geteuid() == 0;
        const QString kind = root ? "root" : "non-root";
        if (root) {
            DebugLog("\n sudo or root \n");
            DebugLog("\n sudo or root \n");
        } else {
            DebugLog("\n non-root&sudo \n");
            DebugLog("\n non-root&ssudo \n");
        }
        QString command;
        if (ipConfigChosen == 0)
            command = fixedFile("/bin/tarnvik-set-dhcp") + " " + shellQuoted(kind);
        else
            command = fixedFile("/bin/tarnvik-set-staticip") + " " + shellQuoted(kind) + " " +
                      shellQuoted(ui->lineEditIPAddress->text()) + " " + shellQuoted(ui->lineEditIPSubnet->text()) +
                      " " + shellQuoted(ui->lineEditIPGateway->text());
        [[maybe_unused]] int ignored = std::system(command.toUtf8().constData());
        if (!root)
            ignored = std::system("pkexec systemctl restart networking");
    }

    ui->stackedWidget->setCurrentIndex(0);
    saveStateForSettings();
    startDetachedCommand("systemctl restart TarnvikRunner");

    // Only a mode the user picked since the status page filled the combo is applied: the
    // combo cannot show every mode the screen may run.
    if (screenModeChosen && ui->comboScreenResolution->currentText() != ui->lblCurScreenResolution->text()) {
        const QStringList parts = ui->comboScreenResolution->currentText().split("p");
        if (parts.size() >= 2) {
            QProcess xrandr;
            xrandr.start("xrandr", {"-s", parts[0], "-r", parts[1]});
            xrandr.waitForFinished(30000);
            xrandr.close();
            startDetachedCommand("systemctl restart TarnvikMain");
        }
    }
    screenModeChosen = false;
}

void MainWindow::slotClickedRestartVideo()
{
    startDetachedCommand("systemctl restart TarnvikMain");
}

void MainWindow::slotClickedRestartDevice()
{
    startDetachedCommand("reboot");
}
