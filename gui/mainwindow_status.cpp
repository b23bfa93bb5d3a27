// The status page: every opening gathers the values afresh, fills the page and locks
// the settings.
#include "common/fixed_path.h"
#include "gui/mainwindow.h"
#include "gui/overlaywidget.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

namespace {

// Standard output as UTF-8 up to its first zero byte; the exit status is not looked at.
QString runCommand(QProcess& process, const QString& program, const QStringList& arguments, bool readError)
{
    process.start(program, arguments, QIODevice::ReadOnly);
    process.waitForFinished(-1);
    QByteArray out = process.readAllStandardOutput();
    if (readError)
        process.readAllStandardError();
    const int zero = out.indexOf('\0');
    if (zero >= 0)
        out.truncate(zero);
    return QString::fromUtf8(out);
}

} // namespace

void MainWindow::slotClickedBtnSetting()
{
    const QString hostName = QHostInfo::localHostName();

    QString address;
    for (const QHostAddress& entry : QNetworkInterface::allAddresses())
        if (entry.protocol() == QAbstractSocket::IPv4Protocol && !entry.isLoopback())
            address = entry.toString();

    QString hardwareAddress;
    QString netmask;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (entry.ip().toString() == address) {
                hardwareAddress = interface.hardwareAddress();
                netmask = entry.netmask().toString();
                break;
            }
        }
    }

    QProcess process;
    QString gateway;
    const QStringList route =
        runCommand(process, "ip", {"route", "show"}, true).split(QRegularExpression(" |\n"), Qt::KeepEmptyParts);
    if (route.size() >= 3)
        gateway = route[2];

    QStringList modes;
    QString currentMode;
    const QStringList lines = runCommand(process, "xrandr", {"-q"}, true).split("\n", Qt::KeepEmptyParts);
    int first = -1;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].simplified().contains(" connected ")) {
            first = i;
            break;
        }
    }
    if (first >= 0) {
        for (int i = first + 1; i < lines.size(); ++i) {
            if (lines[i].contains("connected"))
                break;
            QString line = lines[i];
            line.remove("+");
            line.remove(".00");
            const QStringList parts = line.simplified().split(" ");
            const QString size = parts[0];
            if (!(size.contains("3840x") || size.contains("1920x")) || parts.size() < 2)
                continue;
            for (int k = 1; k < parts.size(); ++k) {
                QString rate = parts[k];
                if (rate.contains("*")) {
                    rate.remove("*");
                    currentMode = QString("%1p%2").arg(size, rate);
                }
                const QString item = QString("%1p%2").arg(size, rate);
                if (modes.isEmpty() || modes.last() != item)
                    modes.append(item);
            }
        }
    }
    ui->comboScreenResolution->clear();
    ui->comboScreenResolution->insertItems(0, modes);
    ui->comboScreenResolution->setCurrentText(currentMode);
    screenModeChosen = false;

    QString ipConfiguration;
    if (runCommand(process, "cat", {QString::fromStdString(tarnvik::fixedPath("/etc/network/interfaces"))}, false)
            .contains("inet static")) {
        ipConfiguration = "STATIC";
        ui->btnIPConfigurationDhcp->setStyleSheet(strBtnDisableStyle);
        ui->btnIPConfigurationStatic->setStyleSheet(strBtnEnableStyle);
        ipConfigChosen = 1;
        ipConfigFound = 1;
    } else {
        ipConfiguration = "DHCP";
        ui->btnIPConfigurationDhcp->setStyleSheet(strBtnEnableStyle);
        ui->btnIPConfigurationStatic->setStyleSheet(strBtnDisableStyle);
        ipConfigChosen = 0;
        ipConfigFound = 0;
    }

    QString capture;
    const QString card = runCommand(process, "v4l2-ctl", {"-DVI", "--get-parm"}, false);
    if (card.contains("Failed") || !card.contains("MQ5280")) {
        capture = "Not found capture card";
    } else {
        QString packed = card;
        packed.remove(QRegularExpression(" |\t"));
        const QStringList parts = packed.split(QRegularExpression(":|\n"), Qt::KeepEmptyParts);
        auto after = [&](const QString& label) {
            const int at = parts.indexOf(label) + 1;
            return at < parts.size() ? parts[at] : QString();
        };
        const QString size = after("Width/Height").replace("/", "x");
        QString rate = after("Framespersecond");
        const int bracket = rate.indexOf('(');
        if (bracket >= 0)
            rate.truncate(bracket);
        capture = rate == "invalid" ? QString("No signal") : size + "p" + rate;
    }

    QString decode;
    {
        QFile file(QString::fromStdString(tarnvik::fixedPath("/etc/tarnvik_avinfo.json")));
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            const int prefix = 32;
            const int suffix = 2;
            if (bytes.size() > prefix + suffix)
                decode = QString::fromUtf8(bytes.mid(prefix, bytes.size() - prefix - suffix));
        }
    }

    if (ui->lblCurOperatingMode->text().compare("Decode", Qt::CaseInsensitive) == 0)
        capture = "-";
    else
        decode = "-";

    QString version = GetNDIVersion();
    version = version.mid(version.lastIndexOf(' ') + 1);

    ui->lblCurScreenName->setText(hostName);
    ui->lineEditScreenName->setText(hostName);
    ui->lblCurIPAddress->setText(address);
    ui->lblCurIPConfiguration->setText(ipConfiguration);
    ui->lineEditIPAddress->setText(address);
    ui->lineEditIPSubnet->setText(netmask);
    ui->lineEditIPGateway->setText(gateway);
    ui->lblCurSerialNumber->setText(hardwareAddress);

    QString firmware;
    {
        QFile file(QString::fromStdString(tarnvik::fixedPath("/etc/tarnvik-firmware-version")));
        if (file.open(QIODevice::ReadOnly)) {
            QTextStream stream(&file);
            stream >> firmware;
        }
    }
    ui->lblCurAppVersion->setText(firmware);

    ui->lblCurScreenResolution->setText(currentMode);
    ui->lblCurNDIDecodeResolution->setText(decode);
    ui->lblCurNDIEncodeResolution->setText(capture);
    ui->lblCurNDILibVersion->setText(version);

    slotClickedSecurityDisabled();
    favouritesOverlay->hide();
    ui->stackedWidget->setCurrentIndex(1);
}
