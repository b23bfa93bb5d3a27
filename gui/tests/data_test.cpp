// Status page, settings apply, the NDI finder, source rows, favourites and tiles, with
// the NDI stand-in, fake commands and a test root.
#include "gui/clickablelabel.h"
#include "gui/mainwindow.h"
#include "gui/marqueelabel.h"
#include "gui/ndisourcefinder.h"
#include "gui/overlaywidget.h"
#include "gui/tests/gui_test_env.h"
#include "gui/transparentlabel.h"
#include "testsupport/process.h"
#include "ui_mainwindow.h"

#include <ndi_standin.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHostInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTextDocument>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testsupport::Argv;

namespace {

testsupport::Sandbox& box()
{
    return *guitest::env().box;
}

bool hasCall(const std::string& command, const Argv& wanted)
{
    for (const Argv& call : box().calls(command))
        if (call == wanted)
            return true;
    return false;
}

// The bytes of a name that is not UTF-8 (a truncated sequence, a truncated four-byte
// sequence, an overlong form) and how a browser decodes them: one U+FFFD for each
// maximal ill-formed subpart.
constexpr int kIllFormedSource = 6;
const char* const kIllFormedHex = "43616de28220362028f09f9820c0af29";  // "Cam\xE2\x82 6 (\xF0\x9F\x98 \xC0\xAF)"

// Names the finder reports: ASCII, markup characters, non-ASCII and ill-formed bytes.
QString sourceName(int i)
{
    if (i == kIllFormedSource)
        return QString::fromUtf8("Cam\uFFFD 6 (\uFFFD \uFFFD\uFFFD)");
    if (i == 3)
        return "<B&W> (Caméra 4)";
    if (i == 5)
        return QString::fromUtf8("Ström-PC (Bühne \"5\")");
    return QString("HOST-%1 (Stream %2)").arg(i, 2, 10, QChar('0')).arg(i);
}

QString sourceUrl(int i)
{
    return QString("10.0.0.%1:5961").arg(i + 10);
}

// The finder sees a change of the list only this long after it was made: the twentieth
// source goes away, past the eighteen the window shows, so a later run delivers again.
constexpr int kLastSourceVanishesMs = 8000;

std::string scenarioWith(int count, bool lastVanishes = false)
{
    QString json = "{\"version\": \"Tarnvik NDI stand-in 5.0-standin\", \"sources\": [";
    for (int i = 0; i < count; ++i) {
        QString name = sourceName(i);
        name.replace("\\", "\\\\").replace("\"", "\\\"");
        const QString vanish =
            lastVanishes && i == count - 1 ? QString(", \"vanish_ms\": %1").arg(kLastSourceVanishesMs) : QString();
        const QString key = i == kIllFormedSource ? "name_hex" : "name";
        if (i == kIllFormedSource)
            name = kIllFormedHex;
        json += QString("%1{\"%2\": \"%3\", \"url\": \"%4\"%5}").arg(i ? ", " : "", key, name, sourceUrl(i), vanish);
    }
    json += "]}";
    return json.toUtf8().toStdString();
}

const char* const kXrandr =
    "Screen 0: minimum 8 x 8, current 1920 x 1080, maximum 32767 x 32767\n"
    "DP-1 disconnected (normal left inverted right x axis y axis)\n"
    "HDMI-1 connected primary 1920x1080+0+0 (normal left inverted right x axis y axis) 600mm x 340mm\n"
    "   1920x1080     60.00*+  50.00    59.94    59.94\n"
    "   1920x1080i    60.00    50.00\n"
    "   1280x720      60.00    50.00\n"
    "   3840x2160     30.00    25.00\n"
    "HDMI-2 disconnected (normal left inverted right x axis y axis)\n"
    "   3840x2160     60.00\n";

const char* const kCaptureCard =
    "Driver Info:\n"
    "\tDriver name      : MQ5280\n"
    "\tCard type        : MQ5280 HDMI capture\n"
    "Format Video Capture:\n"
    "\tWidth/Height      : 1920/1080\n"
    "Streaming Parameters Video Capture:\n"
    "\tFrames per second: 60.000 (60/1)\n";

} // namespace

class DataTest : public QObject {
    Q_OBJECT
public:
    std::unique_ptr<MainWindow> window;
    QElapsedTimer sinceStart;

    // Accepts the next modal message box; where it was placed goes to placed, if given.
    void answerMessageBox(QRect* placed = nullptr, QString* text = nullptr)
    {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [poll, placed, text] {
            if (auto* boxWidget = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                poll->stop();
                poll->deleteLater();
                if (placed != nullptr)
                    *placed = boxWidget->frameGeometry();
                if (text != nullptr)
                    *text = boxWidget->text();
                boxWidget->accept();
            }
        });
        poll->start(10);
    }

    void openStatus()
    {
        window->ui->stackedWidget->setCurrentIndex(0);
        window->slotClickedBtnSetting();
        QCOMPARE(window->ui->stackedWidget->currentIndex(), 1);
    }

    QStringList names(int count) const
    {
        QStringList out;
        for (int i = 0; i < count; ++i)
            out << sourceName(i);
        return out;
    }

    QStringList urls(int count) const
    {
        QStringList out;
        for (int i = 0; i < count; ++i)
            out << sourceUrl(i);
        return out;
    }

private slots:
    void initTestCase()
    {
        mkdir(box().path("/srv/tarnvik-web-ui-resources").c_str(), 0755);
        mkdir(box().path("/etc/network").c_str(), 0755);
        sinceStart.start();
        window = std::make_unique<MainWindow>();
        window->show();
    }

    void cleanupTestCase()
    {
        window.reset();
    }

    void finderDeliversEighteenOfTwentySources()
    {
        QTRY_COMPARE_WITH_TIMEOUT(window->names.size(), 18, 60000);
        // No later run may redraw the rows under the tests that follow: stop the timer, let a
        // run it may have started end, and deliver what that run sent.
        window->refreshTimer.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!window->finderThread.isRunning(), 30000);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(window->names, names(18));
        QCOMPARE(window->urls, urls(18));
        for (int i = 0; i < MainWindow::kSourceRows; ++i) {
            QVERIFY(!window->nameLabels[i]->isHidden());
            QVERIFY(!window->starLabels[i]->isHidden());
            QCOMPARE(window->nameLabels[i]->text(), sourceName(i));
        }
        QTRY_VERIFY(box().exists("/etc/tarnvik_ndi_src.json"));

        // source-scout, the other writer, given the same eighteen sources.
        const std::string scoutRoot = box().path("/scout");
        mkdir(scoutRoot.c_str(), 0755);
        for (const char* dir : {"/etc", "/srv", "/srv/tarnvik-web-ui-resources", "/tmp"})
            mkdir((scoutRoot + dir).c_str(), 0755);
        box().writeFile("/scout/scenario.json", scenarioWith(18));
        const auto scout = testsupport::runProcess(
            {testsupport::binaryPath("tools/source-scout")},
            {{"TARNVIK_ROOT", scoutRoot}, {"TARNVIK_NDI_SCENARIO", box().path("/scout/scenario.json")},
             {"TARNVIK_NDI_LOG", ""}});
        QCOMPARE(scout.exitCode, 0);
        QCOMPARE(box().readFile("/etc/tarnvik_ndi_src.json"), box().readFile("/scout/etc/tarnvik_ndi_src.json"));
        QCOMPARE(box().readFile("/srv/tarnvik-web-ui-resources/decoder-src.html"),
                 box().readFile("/scout/srv/tarnvik-web-ui-resources/decoder-src.html"));
    }

    void statusPageShowsTheFixtures_data()
    {
        QTest::addColumn<bool>("encode");
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("interfaces");
        QTest::addColumn<QString>("avinfo");
        QTest::addColumn<QString>("decodeText");
        QTest::addColumn<QString>("encodeText");
        QTest::addColumn<QString>("ipConfig");
        QTest::newRow("decode, dhcp") << false << "Failed to open /dev/video0" << "iface eth0 inet dhcp\n"
                                      << "{\"dashboard_vid_input\":\"Decode: 1080p59.94\"}" << "1080p59.94" << "-"
                                      << "DHCP";
        QTest::newRow("encode, static") << true << kCaptureCard
                                        << "iface eth0 inet static\n  address 10.1.1.5\n"
                                        << "{\"dashboard_vid_input\":\"Decode: 1080p59.94\"}" << "-"
                                        << "1920x1080p60.000" << "STATIC";
        QTest::newRow("encode, no signal") << true << QString(kCaptureCard).replace("60.000 (60/1)", "invalid")
                                           << "" << "" << "-" << "No signal" << "DHCP";
        QTest::newRow("encode, other card") << true << "Driver name : XY1000\n" << "" << "" << "-"
                                            << "Not found capture card" << "DHCP";
        QTest::newRow("decode, short av-info") << false << "" << "" << "{\"dashboard_vid_input\":\"Decode: \"}"
                                               << "" << "-" << "DHCP";
    }

    void statusPageShowsTheFixtures()
    {
        QFETCH(bool, encode);
        QFETCH(QString, card);
        QFETCH(QString, interfaces);
        QFETCH(QString, avinfo);
        QFETCH(QString, decodeText);
        QFETCH(QString, encodeText);
        QFETCH(QString, ipConfig);
        box().respond("ip", "default via 192.168.10.1 dev eth0 proto dhcp metric 100\n10.0.0.0/8 dev eth0\n");
        box().respond("xrandr", kXrandr);
        box().respond("v4l2-ctl", card.toStdString());
        box().writeFile("/etc/network/interfaces", interfaces.toStdString());
        box().writeFile("/etc/tarnvik_avinfo.json", avinfo.toStdString());
        box().writeFile("/etc/tarnvik-firmware-version", "1.2.0 build 7\n");
        if (encode)
            window->slotClickedOperationModeEncode();
        else
            window->slotClickedOperationModeDecode();
        box().clearCalls();
        openStatus();
        Ui_MainWindow* u = window->ui;
        QCOMPARE(u->lineEditIPGateway->text(), QString("192.168.10.1"));
        QStringList items;
        for (int i = 0; i < u->comboScreenResolution->count(); ++i)
            items << u->comboScreenResolution->itemText(i);
        QCOMPARE(items, (QStringList{"1920x1080p60", "1920x1080p50", "1920x1080p59.94", "1920x1080ip60",
                                     "1920x1080ip50", "3840x2160p30", "3840x2160p25"}));
        QCOMPARE(u->comboScreenResolution->currentText(), QString("1920x1080p60"));
        QCOMPARE(u->lblCurScreenResolution->text(), QString("1920x1080p60"));
        QCOMPARE(u->lblCurIPConfiguration->text(), ipConfig);
        QCOMPARE(window->ipConfigFound, ipConfig == "STATIC" ? 1 : 0);
        QCOMPARE(window->ipConfigChosen, window->ipConfigFound);
        QCOMPARE(u->btnIPConfigurationStatic->styleSheet(), ipConfig == "STATIC" ? strBtnEnableStyle : strBtnDisableStyle);
        QCOMPARE(u->lblCurNDIDecodeResolution->text(), decodeText);
        QCOMPARE(u->lblCurNDIEncodeResolution->text(), encodeText);
        QCOMPARE(u->lblCurAppVersion->text(), QString("1.2.0"));
        QCOMPARE(u->lblCurNDILibVersion->text(), QString("5.0-standin"));
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        QCOMPARE(u->lblCurScreenName->text(), QString::fromLocal8Bit(host));
        QCOMPARE(u->lineEditScreenName->text(), QString::fromLocal8Bit(host));
        QCOMPARE(window->settingsLocked, 1);
        QVERIFY(hasCall("ip", {"ip", "route", "show"}));
        QVERIFY(hasCall("xrandr", {"xrandr", "-q"}));
        QVERIFY(hasCall("v4l2-ctl", {"v4l2-ctl", "-DVI", "--get-parm"}));
    }

    void statusPageTakesTheNetworkValues()
    {
        // Only inside the private network namespace of in-netns.sh.
        const char* expected = std::getenv("TARNVIK_TEST_NETWORK");
        if (expected == nullptr)
            QSKIP("needs the network namespace of in-netns.sh");
        const QStringList want = QString(expected).split(' ');
        box().respond("ip", "default via 10.77.0.1 dev veth0\n");
        box().respond("xrandr", kXrandr);
        openStatus();
        QCOMPARE(window->ui->lblCurIPAddress->text(), want[0]);
        QCOMPARE(window->ui->lineEditIPAddress->text(), want[0]);
        QCOMPARE(window->ui->lineEditIPSubnet->text(), want[1]);
        QCOMPARE(window->ui->lblCurSerialNumber->text(), want[2]);
        QCOMPARE(window->ui->lineEditIPGateway->text(), QString("10.77.0.1"));
    }

    void statusPageWithoutUsableModes()
    {
        box().respond("xrandr", "Screen 0: minimum 8 x 8\nHDMI-1 connected 1280x720+0+0\n   1280x720  60.00*+\n");
        openStatus();
        QCOMPARE(window->ui->comboScreenResolution->count(), 0);
        QCOMPARE(window->ui->lblCurScreenResolution->text(), QString());
        box().respond("ip", "");
        box().respond("xrandr", kXrandr);
        openStatus();
        QCOMPARE(window->ui->lineEditIPGateway->text(), QString("..."));
    }

    void applyRunsOnlyWhatChanged_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("nothing") << "nothing";
        QTest::newRow("host name") << "host";
        QTest::newRow("dhcp to static") << "static";
        QTest::newRow("static to dhcp") << "dhcp";
        QTest::newRow("screen mode chosen") << "mode";
        QTest::newRow("address fields alone") << "address";
        QTest::newRow("encode") << "encode";
    }

    void applyRunsOnlyWhatChanged()
    {
        QFETCH(QString, change);
        box().respond("ip", "default via 192.168.10.1 dev eth0\n");
        box().respond("xrandr", kXrandr);
        box().writeFile("/etc/network/interfaces", change == "dhcp" ? "iface eth0 inet static\n" : "iface eth0 inet dhcp\n");
        window->slotClickedOperationModeDecode();
        openStatus();
        window->settingsLocked = 1;
        whenUnlocked();
        Ui_MainWindow* u = window->ui;
        if (change == "host")
            u->lineEditScreenName->setText("studio-screen-2");
        if (change == "static") {
            window->slotClickedIPConfigurationStatic();
            u->lineEditIPAddress->setText("10.1.2.3");
            u->lineEditIPSubnet->setText("255.255.0.0");
            u->lineEditIPGateway->setText("10.1.0.1");
        }
        if (change == "dhcp")
            window->slotClickedIPConfigurationDhcp();
        if (change == "address")
            u->lineEditIPAddress->setText("10.9.9.9");
        if (change == "mode") {
            u->comboScreenResolution->setFocus();
            QTest::keyClick(u->comboScreenResolution, Qt::Key_Down);
            QCOMPARE(u->comboScreenResolution->currentText(), QString("1920x1080p50"));
        }
        if (change == "encode")
            window->slotClickedOperationModeEncode();
        box().clearCalls();
        window->slotClickedBtnCloseSetting();
        QCOMPARE(window->ui->stackedWidget->currentIndex(), 0);
        QVERIFY(testsupport::waitFor([] { return hasCall("systemctl", {"systemctl", "restart", "TarnvikRunner"}); }));

        QCOMPARE(box().calls("hostnamectl").size(), size_t(change == "host" ? 1 : 0));
        if (change == "host")
            QVERIFY(hasCall("hostnamectl", {"hostnamectl", "set-hostname", "studio-screen-2"}));
        const auto staticCalls = box().calls("tarnvik-set-staticip");
        const auto dhcpCalls = box().calls("tarnvik-set-dhcp");
        QCOMPARE(staticCalls.size(), size_t(change == "static" ? 1 : 0));
        QCOMPARE(dhcpCalls.size(), size_t(change == "dhcp" ? 1 : 0));
        if (change == "static")
            QCOMPARE(staticCalls[0], (Argv{"tarnvik-set-staticip", "root", "10.1.2.3", "255.255.0.0", "10.1.0.1"}));
        if (change == "dhcp")
            QCOMPARE(dhcpCalls[0], (Argv{"tarnvik-set-dhcp", "root"}));
        // Running as root: the network restart through pkexec is not needed.
        QCOMPARE(box().calls("pkexec").size(), size_t(0));
        if (change == "mode") {
            QCOMPARE(box().calls("xrandr"), (std::vector<Argv>{{"xrandr", "-s", "1920x1080", "-r", "50"}}));
            QVERIFY(testsupport::waitFor([] { return hasCall("systemctl", {"systemctl", "restart", "TarnvikMain"}); }));
        } else {
            QCOMPARE(box().calls("xrandr").size(), size_t(0));
            QVERIFY(!hasCall("systemctl", {"systemctl", "restart", "TarnvikMain"}));
        }
        QCOMPARE(box().readFile("/etc/tarnvik-mode"), std::string(change == "encode" ? "encode" : "decode"));
        QSettings settings;
        QCOMPARE(settings.value("CUR_OPERATION_MODE").toInt(), change == "encode" ? 0 : 1);
        QCOMPARE(settings.value("CUR_PIN").toString(), window->ui->lineEditPIN->text());
        QCOMPARE(settings.value("CUR_DISPLAY_MODE").toString(), QString("Follow HDMI input"));
        QCOMPARE(settings.value("CUR_NO_VIDEO_SOURCE_BEHAVIOUR").toInt(), window->noVideoSourceBehaviour);
        QCOMPARE(settings.value("CUR_DANTE_AUDIO").toInt(), window->danteAudio);
    }

    void applyAsNonRootRestartsTheNetworkThroughPkexec()
    {
        // Run by the test decoder_ui_data_nonroot in a user namespace where we are not root.
        if (geteuid() == 0)
            QSKIP("needs a non-root user");
        box().respond("ip", "default via 192.168.10.1 dev eth0\n");
        box().respond("xrandr", kXrandr);
        box().writeFile("/etc/network/interfaces", "iface eth0 inet dhcp\n");
        openStatus();
        whenUnlocked();
        window->slotClickedIPConfigurationStatic();
        window->ui->lineEditIPAddress->setText("10.1.2.3");
        window->ui->lineEditIPSubnet->setText("255.255.0.0");
        window->ui->lineEditIPGateway->setText("10.1.0.1");
        box().clearCalls();
        window->slotClickedBtnCloseSetting();
        QVERIFY(testsupport::waitFor([] { return hasCall("systemctl", {"systemctl", "restart", "TarnvikRunner"}); }));
        std::vector<Argv> blocking;
        for (const Argv& call : box().calls())
            if (call[0] == "tarnvik-set-staticip" || call[0] == "pkexec" || call[0] == "tarnvik-set-dhcp")
                blocking.push_back(call);
        QCOMPARE(blocking, (std::vector<Argv>{{"tarnvik-set-staticip", "non-root", "10.1.2.3", "255.255.0.0", "10.1.0.1"},
                                              {"pkexec", "systemctl", "restart", "networking"}}));
    }

    void choicesReachProvisionedFilesAsNonRoot()
    {
        // Run by decoder_ui_data_nonroot, in a user namespace where this user is not root
        // and root has no id at all: etc/ and the page's directory are closed to it by their
        // permission bits, and the web interface provisioned the five files writable.
        if (geteuid() == 0)
            QSKIP("needs a non-root user");
        window->refreshTimer.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!window->finderThread.isRunning(), 60000);
        QCoreApplication::sendPostedEvents();
        box().respond("ip", "default via 192.168.10.1 dev eth0\n");
        box().respond("xrandr", kXrandr);
        box().writeFile("/etc/network/interfaces", "iface eth0 inet dhcp\n");
        const char* const paths[] = {"/etc/tarnvik-source-name", "/etc/tarnvik-source-ip", "/etc/tarnvik-mode",
                                     "/etc/tarnvik_ndi_src.json", "/srv/tarnvik-web-ui-resources/decoder-src.html"};
        std::vector<ino_t> inodes;
        for (const char* path : paths) {
            box().writeFile(path, "old");
            QCOMPARE(chmod(box().path(path).c_str(), 0666), 0);
            struct stat st {};
            QCOMPARE(stat(box().path(path).c_str(), &st), 0);
            inodes.push_back(st.st_ino);
        }
        const char* const closed[] = {"/etc", "/srv/tarnvik-web-ui-resources"};
        for (const char* dir : closed)
            QCOMPARE(chmod(box().path(dir).c_str(), 0555), 0);
        const int probe = open(box().path("/etc/probe").c_str(), O_WRONLY | O_CREAT, 0644);
        const int probeError = errno;
        if (probe >= 0)
            close(probe);
        QCOMPARE(probe, -1);
        QCOMPARE(probeError, EACCES);

        // A discovery run that sees a change, the star of source 3 and its tile, then leaving
        // the settings page.
        QTRY_VERIFY_WITH_TIMEOUT(sinceStart.elapsed() > kLastSourceVanishesMs + 500, 30000);
        window->favourites.clear();
        window->slotRefreshNDISources();
        QTRY_VERIFY_WITH_TIMEOUT(box().readFile("/etc/tarnvik_ndi_src.json") != "old", 60000);
        QTest::keyRelease(window.get(), Qt::Key_3);
        QTest::mouseClick(window->starLabels[3], Qt::LeftButton);
        QCOMPARE(window->favourites, QStringList{sourceName(3)});
        QTest::keyRelease(window.get(), Qt::Key_2);
        QVERIFY(!window->favouritesOverlay->isHidden());
        QTest::mouseClick(window->tileButtons[0], Qt::LeftButton);
        QCOMPARE(window->playingSource, 3);
        QTest::keyRelease(window.get(), Qt::Key_1);
        QCOMPARE(window->ui->stackedWidget->currentIndex(), 1);
        QTest::mouseClick(window->ui->btnCloseSetting, Qt::LeftButton);
        QCOMPARE(window->ui->stackedWidget->currentIndex(), 0);

        for (const char* dir : closed)
            QCOMPARE(chmod(box().path(dir).c_str(), 0755), 0);
        // The bytes as the file formats define them.
        QCOMPARE(box().readFile("/etc/tarnvik-source-name"), sourceName(3).toUtf8().toStdString());
        QCOMPARE(box().readFile("/etc/tarnvik-source-ip"), sourceUrl(3).toStdString());
        QCOMPARE(box().readFile("/etc/tarnvik-mode"), std::string("decode"));
        const std::string json = box().readFile("/etc/tarnvik_ndi_src.json");
        QVERIFY2(json.rfind("{\n\"HOST-00 (Stream 0)\": \"10.0.0.10:5961\",\n", 0) == 0, json.c_str());
        const std::string page = box().readFile("/srv/tarnvik-web-ui-resources/decoder-src.html");
        QVERIFY2(page.rfind("var DecoderSrc = [{ID:'HOST-00 (Stream 0)$#!T10.0.0.10:5961',Decoder:'HOST-00 (Stream 0)'},", 0) == 0,
                 page.c_str());
        // Written where they are: the same files, nothing left beside them.
        for (size_t i = 0; i < inodes.size(); ++i) {
            struct stat st {};
            QCOMPARE(stat(box().path(paths[i]).c_str(), &st), 0);
            QCOMPARE(st.st_ino, inodes[i]);
        }
        for (const char* dir : closed)
            for (const auto& entry : std::filesystem::directory_iterator(box().path(dir)))
                QVERIFY2(entry.path().filename().string().find(".XXX") == std::string::npos &&
                             entry.path().filename().string().find("~") == std::string::npos,
                         entry.path().c_str());
    }

    void screenModeNotInTheComboIsLeftAlone()
    {
        // The screen runs 1280x720, which the combo does not list: the label stays empty and
        // the combo shows its first item, yet nothing was chosen.
        box().respond("xrandr", "HDMI-1 connected 1280x720+0+0\n   1920x1080  60.00\n   1280x720  60.00*\n");
        openStatus();
        QVERIFY(window->ui->comboScreenResolution->currentText() != window->ui->lblCurScreenResolution->text());
        box().clearCalls();
        window->slotClickedBtnCloseSetting();
        QCOMPARE(box().calls("xrandr").size(), size_t(0));
        box().respond("xrandr", kXrandr);
    }

    void addressTextCannotLeaveItsQuotes()
    {
        box().writeFile("/etc/network/interfaces", "iface eth0 inet dhcp\n");
        openStatus();
        window->slotClickedIPConfigurationStatic();
        window->ui->lineEditIPAddress->setInputMask("");
        const QString hostile = "1.2.3.4'; touch " + QString::fromStdString(box().path("/tmp/owned")) + "; '";
        window->ui->lineEditIPAddress->setText(hostile);
        box().clearCalls();
        window->slotClickedBtnCloseSetting();
        window->ui->lineEditIPAddress->setInputMask("000.000.000.000");
        const auto calls = box().calls("tarnvik-set-staticip");
        QCOMPARE(calls.size(), size_t(1));
        QCOMPARE(QString::fromStdString(calls[0][2]), hostile);
        QVERIFY(!box().exists("/tmp/owned"));
    }

    void modeFileDecidesTheOperationMode_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("mode");
        QTest::newRow("missing") << "" << false << 1;
        QTest::newRow("encode") << "encode" << true << 0;
        QTest::newRow("encode and more") << "encode\nextra words" << true << 0;
        QTest::newRow("capital") << "Encode" << true << 1;
        QTest::newRow("decode") << "decode" << true << 1;
        QTest::newRow("empty") << "" << true << 1;
    }

    void modeFileDecidesTheOperationMode()
    {
        QFETCH(QString, content);
        QFETCH(bool, present);
        QFETCH(int, mode);
        if (present)
            box().writeFile("/etc/tarnvik-mode", content.toStdString());
        else
            std::remove(box().path("/etc/tarnvik-mode").c_str());
        window->loadStateForSettings();
        QCOMPARE(window->operationMode, mode);
        QCOMPARE(window->ui->lblCurOperatingMode->text(), QString(mode == 0 ? "Encode" : "Decode"));
    }

    void storedSettingsComeBack()
    {
        {
            QSettings settings;
            settings.setValue("CUR_PIN", "2468");
            settings.setValue("CUR_NO_VIDEO_SOURCE_BEHAVIOUR", 7);
            settings.setValue("CUR_DANTE_AUDIO", 1);
        }
        window->loadStateForSettings();
        QCOMPARE(window->ui->lineEditPIN->text(), QString("2468"));
        QCOMPARE(window->noVideoSourceBehaviour, 2);
        QCOMPARE(window->danteAudio, 1);
        QSettings().clear();
        window->loadStateForSettings();
        QCOMPARE(window->ui->lineEditPIN->text(), QString("quorvel"));
        QCOMPARE(window->noVideoSourceBehaviour, 0);
        QCOMPARE(window->danteAudio, 0);
    }

    void favouritesFollowSourceOrderAndArePruned()
    {
        window->favourites.clear();
        window->slotAddNDISources(names(6), urls(6));
        window->currentPage = 0;
        window->slotFavouriteIconClicked(2);
        window->slotFavouriteIconClicked(0);
        QCOMPARE(window->favourites, (QStringList{sourceName(0), sourceName(2)}));
        QCOMPARE(window->favouriteCount, 2);
        QCOMPARE(window->favouriteSourceIndex[0], 0);
        QCOMPARE(window->favouriteSourceIndex[1], 2);
        QCOMPARE(QSettings().value("CUR_FAVOURITE").toStringList(), window->favourites);
        QVERIFY(window->starLabels[0]->styleSheet().contains("small_favourite_active"));
        QVERIFY(window->starLabels[1]->styleSheet().contains("small_favourite_unactive"));
        QVERIFY(window->nameLabels[2]->styleSheet().contains("color:#22b24c"));
        QVERIFY(window->tileLabels[0]->text().contains(">HOST-00<"));
        QVERIFY(window->tileLabels[0]->text().contains(">Stream 0<"));
        QVERIFY(window->tileLabels[1]->text().contains(">HOST-02<"));
        QCOMPARE(window->tileLabels[2]->text(), QString());

        // Sources 0, 1 and 2 vanish: the two favourites that follow each other both go.
        QStringList fewer = names(6).mid(3);
        window->slotAddNDISources(fewer, urls(6).mid(3));
        QCOMPARE(window->favourites, QStringList());
        QCOMPARE(window->favouriteCount, 0);
        for (int i = 3; i < MainWindow::kSourceRows; ++i)
            QVERIFY(window->nameLabels[i]->isHidden());
        // Pruned in memory only: the store keeps them until the next toggle.
        QCOMPARE(QSettings().value("CUR_FAVOURITE").toStringList().size(), 2);
    }

    void captionsShowMarkupAndNonAsciiNamesAsTheyAre()
    {
        window->favourites = QStringList{sourceName(3), sourceName(5)};
        window->slotAddNDISources(names(6), urls(6));
        QCOMPARE(window->favouriteCount, 2);
        // What the rich-text caption shows, read back as plain text.
        QTextDocument doc;
        doc.setHtml(window->tileLabels[0]->text());
        QCOMPARE(doc.toPlainText(), QString("<B&W>\nCaméra 4"));
        doc.setHtml(window->tileLabels[1]->text());
        QCOMPARE(doc.toPlainText(), QString::fromUtf8("Ström-PC\nBühne \"5\""));
    }

    void filesAreReplacedWholeNotRewrittenInPlace()
    {
        // A reader that opened a file before the write still sees the old text in full: the
        // new text came through another file and a rename, never by truncating this one.
        const char* const paths[] = {"/etc/tarnvik-source-name", "/etc/tarnvik-source-ip", "/etc/tarnvik-mode",
                                     "/etc/tarnvik_ndi_src.json", "/srv/tarnvik-web-ui-resources/decoder-src.html"};
        std::vector<std::unique_ptr<QFile>> readers;
        for (const char* path : paths) {
            box().writeFile(path, std::string("old ") + path);
            readers.push_back(std::make_unique<QFile>(QString::fromStdString(box().path(path))));
            QVERIFY(readers.back()->open(QIODevice::ReadOnly));
        }
        display_video(sourceName(1), sourceUrl(1));
        window->operationMode = 1;
        window->saveStateForSettings();
        window->favourites.clear();
        window->slotAddNDISources(names(2), urls(2));
        for (size_t i = 0; i < readers.size(); ++i) {
            QCOMPARE(readers[i]->readAll().toStdString(), std::string("old ") + paths[i]);
            QVERIFY(box().readFile(paths[i]) != std::string("old ") + paths[i]);
        }
        QCOMPARE(box().readFile("/etc/tarnvik-source-name"), sourceName(1).toUtf8().toStdString());
        QCOMPARE(box().readFile("/etc/tarnvik-mode"), std::string("decode"));
    }

    void tileClickPlaysThatSourceEmptyTileNothing()
    {
        window->favourites = QStringList{sourceName(5)};
        window->slotAddNDISources(names(6), urls(6));
        std::remove(box().path("/etc/tarnvik-source-name").c_str());
        std::remove(box().path("/etc/tarnvik-source-ip").c_str());
        box().clearCalls();
        window->favouritesOverlay->show();
        QTest::mouseClick(window->tileButtons[0], Qt::LeftButton);
        QVERIFY(window->favouritesOverlay->isHidden());
        QCOMPARE(window->playingSource, 5);
        QCOMPARE(box().readFile("/etc/tarnvik-source-name"), sourceName(5).toUtf8().toStdString());
        QCOMPARE(box().readFile("/etc/tarnvik-source-ip"), sourceUrl(5).toStdString());
        QVERIFY(testsupport::waitFor([] { return hasCall("systemctl", {"systemctl", "restart", "TarnvikRunner"}); }));
        QVERIFY(window->tileButtons[0]->styleSheet().contains("border: 3px solid #01ff46;"));
        QTRY_COMPARE_WITH_TIMEOUT(window->tileButtons[0]->geometry(), QRect(0, 0, 394, 226), 30000);

        std::remove(box().path("/etc/tarnvik-source-name").c_str());
        box().clearCalls();
        window->slotClickedSrc4();
        QCOMPARE(window->playingSource, -1);
        QCOMPARE(window->clickedTile, 4);
        QVERIFY(!box().exists("/etc/tarnvik-source-name"));
        QVERIFY(!window->tileButtons[0]->styleSheet().contains("#01ff46"));
        QTest::qWait(200);
        QVERIFY(!hasCall("systemctl", {"systemctl", "restart", "TarnvikRunner"}));
    }

    void pageDotsChangeThePage()
    {
        window->slotClickedPageOption2();
        QCOMPARE(window->currentPage, 2);
        QCOMPARE(window->clickedTile, -1);
        QVERIFY(window->pageOptionButtons[2]->styleSheet().contains("dot_actual_favourite"));
        QVERIFY(window->pageOptionButtons[0]->styleSheet().contains("dot_next_favourite"));
        window->slotClickedPageOption0();
    }

    void restartButtons()
    {
        box().clearCalls();
        QTest::mouseClick(window->ui->btnRestartDevice, Qt::LeftButton);
        QTest::mouseClick(window->ui->btnRestartVideo, Qt::LeftButton);
        QVERIFY(testsupport::waitFor([] { return hasCall("reboot", {"reboot"}); }));
        QVERIFY(testsupport::waitFor([] { return hasCall("systemctl", {"systemctl", "restart", "TarnvikMain"}); }));
    }

    void finderThatCouldNotBeCreatedFindsNothing()
    {
        box().writeFile("/tmp/no-finder.json", R"json({"find_create": false})json");
        const std::string saved = std::getenv("TARNVIK_NDI_SCENARIO");
        setenv("TARNVIK_NDI_SCENARIO", box().path("/tmp/no-finder.json").c_str(), 1);
        ndi_standin_reset();
        answerMessageBox();
        NDISourceFinder lost;
        QVERIFY(lost.findInstance == nullptr);
        QSignalSpy finished(&lost, &NDISourceFinder::finished);
        QSignalSpy delivered(&lost, &NDISourceFinder::didFindNIDSources);
        lost.start();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(delivered.count(), 0);
        QVERIFY(!lost.found);
        setenv("TARNVIK_NDI_SCENARIO", saved.c_str(), 1);
        ndi_standin_reset();
    }

    void errorBoxesOpenInTheMiddleOfTheScreen_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("message");
        QTest::newRow("library") << R"json({"initialize": false})json" << "Can not initialize NDI Lib";
        QTest::newRow("finder") << R"json({"find_create": false})json" << "Can not create NDI finder";
    }

    void errorBoxesOpenInTheMiddleOfTheScreen()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, message);
        box().writeFile("/tmp/failing.json", scenario.toStdString());
        const std::string saved = std::getenv("TARNVIK_NDI_SCENARIO");
        setenv("TARNVIK_NDI_SCENARIO", box().path("/tmp/failing.json").c_str(), 1);
        ndi_standin_reset();
        QRect placed;
        QString shown;
        answerMessageBox(&placed, &shown);
        if (message.contains("Lib"))
            QVERIFY(!window->initNDI());
        else
            NDISourceFinder lost;
        setenv("TARNVIK_NDI_SCENARIO", saved.c_str(), 1);
        ndi_standin_reset();
        QCOMPARE(shown, message);
        const int W = guitest::env().width;
        const int H = guitest::env().height;
        QVERIFY(placed.isValid());
        QCOMPARE(placed.topLeft(), QPoint((W - placed.width()) / 2, (H - placed.height()) / 2));
    }

    void chosenSourceReachesARunningPlayer()
    {
        const std::string player = testsupport::binaryPath("player/decode-player");
        if (access(player.c_str(), X_OK) != 0)
            QSKIP("decode-player is not built");
        // The player's own stand-in world: the same names, silent, and its own call log.
        std::string sources;
        for (int i : {0, 3})
            sources += std::string(i ? ", " : "") + "{\"name\": \"" + sourceName(i).toUtf8().toStdString() +
                       "\", \"segments\": [{\"silence_ms\": 600000}]}";
        box().writeFile("/tmp/player-scenario.json", "{\"sources\": [" + sources + "]}");
        box().respond("xrandr", kXrandr);
        box().writeFile("/etc/tarnvik-source-name", sourceName(0).toUtf8().toStdString());
        const std::string playerLog = box().path("/tmp/player-ndi.log");
        testsupport::Process running({player, sourceName(0).toUtf8().toStdString()},
                                     {{"VXR_DEBUG_LEVEL", "1"},
                                      {"SDL_AUDIODRIVER", "disk"},
                                      {"SDL_DISKAUDIOFILE", box().path("/tmp/player-audio.raw")},
                                      {"TARNVIK_NDI_SCENARIO", box().path("/tmp/player-scenario.json")},
                                      {"TARNVIK_NDI_LOG", playerLog},
                                      {"ASAN_OPTIONS", "detect_leaks=0"}});
        auto playerSaid = [&running](const QString& text) {
            return testsupport::waitFor(
                [&] { return running.outSoFar().find(text.toUtf8().toStdString()) != std::string::npos; },
                std::chrono::seconds(60));
        };
        QVERIFY2(playerSaid("Channel 1 is connecting to " + sourceName(0) + "."), running.outSoFar().c_str());

        // The user picks the favourite tile of source 3.
        window->favourites = QStringList{sourceName(3)};
        window->slotAddNDISources(names(6), urls(6));
        window->favouritesOverlay->show();
        QTest::mouseClick(window->tileButtons[0], Qt::LeftButton);
        QCOMPARE(window->playingSource, 3);

        QVERIFY2(playerSaid("Changed source name: " + sourceName(3) + "\n"), running.outSoFar().c_str());
        QVERIFY2(playerSaid("Channel 1 is connecting to " + sourceName(3) + "."), running.outSoFar().c_str());
        const std::string wanted = "NDIlib_recv_create_v4 source=\"" + sourceName(3).toUtf8().toStdString() + "\"";
        QVERIFY(testsupport::waitFor([&] { return box().readFile("/tmp/player-ndi.log").find(wanted) != std::string::npos; }));
        running.signal(SIGTERM);
        const auto result = running.wait(std::chrono::seconds(60));
        QVERIFY(!result.timedOut);
        QCOMPARE(result.exitCode, 0);
    }

private:
    void whenUnlocked()
    {
        window->slotClickedSecurityDisabled();
        window->settingsLocked = 0;
        window->disableSettings(false);
    }
};

int main(int argc, char** argv)
{
    return guitest::run(argc, argv, scenarioWith(20, true), [] { return new DataTest; });
}

#include "data_test.moc"
