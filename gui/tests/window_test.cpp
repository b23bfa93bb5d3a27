// The real main window under a private X server of the size given on the command line.
#include "gui/clickablelabel.h"
#include "gui/mainwindow.h"
#include "gui/marqueelabel.h"
#include "gui/messagebox.h"
#include "gui/overlaywidget.h"
#include "gui/tests/form_table.h"
#include "gui/tests/gui_test_env.h"
#include "gui/transparentlabel.h"
#include "testsupport/process.h"
#include "ui_mainwindow.h"
#include "ui_messagebox.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSet>
#include <QToolBar>
#include <QStackedWidget>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>
#include <QWindow>
#include <QScreen>
#include <QHash>
#include <QAbstractItemView>

#include <algorithm>
#include <functional>
#include <memory>

using testsupport::Argv;

namespace {

QRect edges(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// Place and size of a window as the X server holds them (xwininfo), not as Qt believes.
QRect xGeometry(WId id)
{
    const auto result = testsupport::runProcess({"xwininfo", "-id", std::to_string(id)});
    int x = 0, y = 0, w = -1, h = -1;
    for (const QString& line : QString::fromStdString(result.out).split('\n')) {
        const QStringList parts = line.trimmed().split(':');
        if (parts.size() != 2)
            continue;
        const int value = parts[1].trimmed().toInt();
        if (parts[0] == "Absolute upper-left X")
            x = value;
        else if (parts[0] == "Absolute upper-left Y")
            y = value;
        else if (parts[0] == "Width")
            w = value;
        else if (parts[0] == "Height")
            h = value;
    }
    return QRect(x, y, w, h);
}

bool hasCall(const std::vector<Argv>& calls, const Argv& wanted)
{
    for (const Argv& call : calls)
        if (call == wanted)
            return true;
    return false;
}

const char* const kLockedWidgets[] = {
    "btnOperatingModeEncode", "btnOperatingModeDecode", "comboScreenResolution", "comboDisplayMode",
    "btnNoVideoSrcBehaviourStandard", "btnNoVideoSrcBehaviourBack", "btnNoVideoSrcBehaviourCustom",
    "btnDanteAudioEnable", "btnDanteAudioDisable", "lineEditScreenName", "btnIPConfigurationDhcp",
    "btnIPConfigurationStatic", "lineEditIPAddress", "lineEditIPSubnet", "lineEditIPGateway", "lineEditPIN",
    "btnPINShow"};

const char* const kLowerRows[] = {
    "lblNetworkTitle_setting", "lblScreenNameTitle_setting", "lineEditScreenName", "lblIPConfigurationTitle_setting",
    "btnIPConfigurationDhcp", "btnIPConfigurationStatic", "lblIPAddressTitle_setting", "lineEditIPAddress",
    "lblIPSubnetTitle_setting", "lineEditIPSubnet", "lblIPGatewayTitle_setting", "lineEditIPGateway",
    "lblSecurityTitle_setting", "btnSecurityEnabled", "btnSecurityDisabled", "lblPINTitle_setting", "lineEditPIN",
    "btnPINShow"};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
public:
    const int W = guitest::env().width;
    const int H = guitest::env().height;
    const bool small = W <= 1920;
    std::unique_ptr<MainWindow> window;

    // The form's settings page, drawn for 3840 x 2160, fits the screen as it is.
    bool formFits() const { return W >= 3840 && H >= 2160; }

    // The metric set's favourites grid (three tiles a row, two rows, the dots) fits the
    // screen, its tiles clear of the top buttons.
    bool gridFits() const
    {
        const int J = small ? 384 : 768, I = small ? 216 : 432, G = small ? 5 : 10, F = small ? 22 : 44;
        const int P = small ? 32 : 64, K = small ? 15 : 30;
        const int M = small ? 31 : 62, L = small ? 60 : 120;
        return 3 * (J + 2 * G) + 4 * F <= W && P + 2 * (I + 2 * G) + 2 * F + 2 * K <= H &&
               P + 2 * (I + 2 * G) + 2 * F <= H - 2 * (M + L);
    }

    template <typename T = QWidget>
    T* widget(const char* name)
    {
        T* found = window->findChild<T*>(name);
        if (found == nullptr)
            qFatal("no widget %s", name);
        return found;
    }

    // Runs act on the PIN dialog as soon as it is shown modally.
    void whenDialogShows(std::function<void(MessageBox*)> act)
    {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [poll, act] {
            auto* box = qobject_cast<MessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            poll->stop();
            poll->deleteLater();
            act(box);
        });
        poll->start(10);
    }

    void openStatusPage()
    {
        QTest::keyRelease(window.get(), Qt::Key_1);
        QCOMPARE(window->ui->stackedWidget->currentIndex(), 1);
    }

    void backToMainPage()
    {
        window->ui->stackedWidget->setCurrentIndex(0);
        window->favouritesOverlay->hide();
        window->ui->frameSrcSideBar->hide();
    }

private slots:
    void initTestCase()
    {
        guitest::env().box->clearCalls();
        window = std::make_unique<MainWindow>();
        window->setWindowTitle("Tarnvik");
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get(), 30000));
    }

    void cleanupTestCase()
    {
        window.reset();
    }

    void formHasEveryObjectWithItsClassParentAndText()
    {
        QMainWindow host;
        Ui_MainWindow form;
        form.setupUi(&host);
        QCOMPARE(host.objectName(), QString("MainWindow"));
        QCOMPARE(host.windowTitle(), QString("MainWindow"));
        QCOMPARE(host.styleSheet(), QString("background-color:rgb(128, 128, 128);"));
        QCOMPARE(host.size(), QSize(3840, 2160));
        for (const FormEntry& entry : kFormEntries) {
            QWidget* w = entry.name == QString("MainWindow") ? &host : host.findChild<QWidget*>(entry.name);
            QVERIFY2(w != nullptr, entry.name);
            QCOMPARE(QString(w->metaObject()->className()), QString(entry.className));
            QVERIFY2(w->parentWidget() != nullptr, entry.name);
            QCOMPARE(w->parentWidget()->objectName(), QString(entry.parent));
            if (entry.text == nullptr)
                continue;
            QString text;
            if (auto* label = qobject_cast<QLabel*>(w))
                text = label->text();
            else if (auto* button = qobject_cast<QPushButton*>(w))
                text = button->text();
            else if (auto* edit = qobject_cast<QLineEdit*>(w))
                text = edit->text();
            else if (auto* combo = qobject_cast<QComboBox*>(w)) {
                QCOMPARE(combo->count(), 1);
                text = combo->itemText(0);
            }
            QCOMPARE(text, QString(entry.text));
        }
        // The scroll area's content widget sits in its viewport.
        QCOMPARE(form.scrollAreaSources->widget(), form.scrollAreaWidgetContents);
        QVERIFY(form.scrollAreaSources->widgetResizable());
        QCOMPARE(form.stackedWidget->widget(0), form.stackedPageMain);
        QCOMPARE(form.stackedWidget->widget(1), form.stackedPageSetting);
        // Right after set-up the SETTINGS page is the current one.
        QCOMPARE(form.stackedWidget->currentIndex(), 1);
        for (QPushButton* button : host.findChildren<QPushButton*>())
            QVERIFY2(button->focusPolicy() == Qt::NoFocus, qPrintable(button->objectName()));
        QCOMPARE(form.lineEditPIN->echoMode(), QLineEdit::Password);
        QCOMPARE(form.lblSrcListTitle->font().family(), QString("Lato"));
        QCOMPARE(form.lblSrcListTitle->font().pointSize(), 25);
        QCOMPARE(form.lblSrcListTitle->font().weight(), 75);
    }

    void formStylesFollowTheirFamilies()
    {
        QMainWindow host;
        Ui_MainWindow form;
        form.setupUi(&host);
        // Compared without white space: the families fix the declarations, not their layout.
        auto squeezed = [](QString text) { return text.remove(QRegularExpression("\\s")); };
        auto style = [&](const char* name) {
            QWidget* w = host.findChild<QWidget*>(name);
            if (w == nullptr)
                qFatal("no widget %s", name);
            return squeezed(w->styleSheet());
        };
        auto expectParts = [&](const char* name, const QStringList& parts) {
            const QString sheet = style(name);
            for (const QString& part : parts)
                QVERIFY2(sheet.contains(squeezed(part)), qPrintable(QString(name) + " lacks " + part));
        };
        const QString lineEdit = "background-color: #121212;\nborder-radius: 8px;\ncolor:#505050;\nfont-family:Lato;\n"
                                 "font-weight:bold;\nfont-size:48px;";
        for (const char* name : {"lineEditScreenName", "lineEditIPAddress", "lineEditIPSubnet", "lineEditPIN",
                                 "lineEditIPGateway"})
            QCOMPARE(host.findChild<QWidget*>(name)->styleSheet(), lineEdit);
        for (const char* name : {"frmStatusSection_setting", "frmSettingSection_setting"})
            QCOMPARE(host.findChild<QWidget*>(name)->styleSheet(), QString("background-color:#222222;\nborder-radius: 16px;"));
        QCOMPARE(form.frameSrcSideBar->styleSheet(), QString("background-color:#222222;\nborder-style:inset;"));
        expectParts("stackedWidget", {"background-color:rgb(70, 70, 70)"});
        expectParts("stackedPageMain", {"background-color:rgb(0,0,128)"});
        expectParts("stackedPageSetting", {"background-color:rgb(18,18,18)"});
        expectParts("lblForMouse", {"background-color:#000000"});
        expectParts("lblVideoWindow", {"background-color:rgb(255,0,0)"});

        // A: icon buttons, translucent picture and the full one on hover.
        const struct {
            const char* name;
            const char* picture;
        } icons[] = {{"btnClose", "close_icon_x"},         {"btnCloseSetting", "close_icon_x"},
                     {"btnCloseFavourite", "close_icon_x"}, {"btnFavourite", "favourite_sources"},
                     {"btnFavouriteSetting", "favourite_sources"}, {"btnSetting", "screen_setting"},
                     {"btnSrcList", "sources_list"},       {"btnSrcListSetting", "sources_list"}};
        for (const auto& icon : icons) {
            const QString selector = icon.name == QString("btnCloseFavourite") ? "QPushButton" : QString("#") + icon.name;
            expectParts(icon.name, {selector + "{", "background-color:transparent", "border:none",
                                    QString("border-image:url(:/icons/%1_translucent)").arg(icon.picture),
                                    selector + ":hover{border-image:url(:/icons/" + icon.picture + ")"});
            auto* button = host.findChild<QPushButton*>(icon.name);
            QVERIFY(!button->isFlat());
            QVERIFY(button->minimumWidth() >= 60 && button->minimumHeight() >= 60);
            QVERIFY(button->maximumWidth() <= 120 && button->maximumHeight() <= 120);
        }
        // B: logos.
        for (const char* name : {"lblLogo", "lblLogoSetting"})
            expectParts(name, {"background-color:transparent", "border:none",
                               "border-image:url(:/icons/tarnvik_logo_translucent)"});
        // D and E: section titles green, titles and values grey, group titles light grey.
        const QStringList bold48 = {"font-family:Lato", "font-weight:bold", "font-size:48px"};
        for (const char* name : {"lblStatusSectionTitle_setting", "lblSettingSectionTitle_setting"})
            expectParts(name, QStringList{"color:#22b24c"} + bold48);
        for (const char* name : {"lblOperationTitle_setting", "lblNetworkTitle_setting", "lblSecurityTitle_setting"})
            expectParts(name, QStringList{"color:#c8c8c8"} + bold48);
        for (QLabel* label : host.findChildren<QLabel*>()) {
            const QString name = label->objectName();
            const bool inSection = label->parentWidget() == form.frmStatusSection_setting ||
                                   label->parentWidget() == form.frmSettingSection_setting;
            if (!inSection || name.startsWith("lblStatusSection") || name.startsWith("lblSettingSection") ||
                name == "lblOperationTitle_setting" || name == "lblNetworkTitle_setting" ||
                name == "lblSecurityTitle_setting")
                continue;
            expectParts(qPrintable(name), QStringList{"color:#707070"} + bold48);
        }
        // F: option and restart buttons, selected or unselected at design time.
        const QStringList both = QStringList{"border-radius:40px", ":hover{border:4px solid #ffffff"} + bold48;
        for (const char* name : {"btnRestartDevice", "btnRestartVideo", "btnOperatingModeDecode",
                                 "btnNoVideoSrcBehaviourStandard", "btnDanteAudioEnable", "btnIPConfigurationDhcp",
                                 "btnSecurityDisabled"})
            expectParts(name, QStringList{"color:#ffffff", "background-color:#22b24c"} + both);
        for (const char* name : {"btnOperatingModeEncode", "btnNoVideoSrcBehaviourBack", "btnNoVideoSrcBehaviourCustom",
                                 "btnDanteAudioDisable", "btnIPConfigurationStatic", "btnSecurityEnabled"})
            expectParts(name, QStringList{"color:#505050", "background-color:#121212"} + both);
        // H: combo boxes.
        for (const char* name : {"comboScreenResolution", "comboDisplayMode"})
            expectParts(name, QStringList{"background-color:#121212", "border-radius:8px", "color:#505050",
                                          "::drop-down{width:80px;height:80px;border-width:0px",
                                          "::down-arrow{width:25px;height:25px;image:url(:/icons/down_arrow)"} +
                                  bold48);
        // I: the eye button.
        expectParts("btnPINShow", {"background-color:#121212", "border-radius:8px",
                                   "border-image:url(:/icons/pswd_eye_hidden)",
                                   ":hover{border-image:url(:/icons/pswd_eye_hidden_hover)"});
        // The source list.
        expectParts("lblSrcListTitle", {"color:rgb(255,255,255)"});
        expectParts("lineSrcListSeperator", {"rgb(112, 112, 112)"});
        QCOMPARE(form.lineSrcListSeperator->frameShape(), QFrame::HLine);
        QCOMPARE(form.lineSrcListSeperator->frameShadow(), QFrame::Sunken);
        expectParts("scrollAreaSources", {"border-style:inset", "QScrollBar:vertical{background:#121212;width:44px;border-radius:22px",
                                          "::handle:vertical{background:#282828;border-radius:18px;max-width:36px;margin:4px 4px 4px 4px",
                                          "::add-line:vertical,QScrollBar::sub-line:vertical{height:0px",
                                          "::add-page:vertical,QScrollBar::sub-page:vertical{height:0px"});
        for (QFrame* frame : {form.frmStatusSection_setting, form.frmSettingSection_setting, form.frameSrcSideBar}) {
            QCOMPARE(frame->frameShape(), QFrame::StyledPanel);
            QCOMPARE(frame->frameShadow(), QFrame::Raised);
        }
        QCOMPARE(host.toolBarArea(form.mainToolBar), Qt::TopToolBarArea);
    }

    void addressFieldsTakeOnlyWhatTheMaskAllows_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("address") << "192.168.1.20" << "192.168.1.20";
        QTest::newRow("four digits in a group") << "1921.168.1.1" << "192.1.168.11";
        QTest::newRow("letters") << "ab1.2c.3.4d" << "1.2.3.4";
        QTest::newRow("empty") << "" << "...";
    }

    void addressFieldsTakeOnlyWhatTheMaskAllows()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QMainWindow host;
        Ui_MainWindow form;
        form.setupUi(&host);
        for (QLineEdit* edit : {form.lineEditIPAddress, form.lineEditIPSubnet, form.lineEditIPGateway}) {
            QCOMPARE(edit->inputMask(), QString("000.000.000.000"));
            edit->clear();
            edit->setCursorPosition(0);
            QTest::keyClicks(edit, typed);
            QCOMPARE(edit->text(), shown);
        }
    }

    void pinDialogFormAndStacking()
    {
        MessageBox box;
        Ui_Dialog* d = box.ui;
        QCOMPARE(box.objectName(), QString("Dialog"));
        QCOMPARE(box.windowTitle(), QString("Dialog"));
        QCOMPARE(box.size(), QSize(600, 370));
        struct Row {
            QWidget* w;
            QWidget* parent;
            QRect rect;
        } rows[] = {
            {d->frame, &box, QRect(0, 0, 601, 80)},          {d->lblLogo, d->frame, QRect(30, 23, 124, 35)},
            {d->lblTitle, d->frame, QRect(200, 20, 291, 41)}, {d->btnDlgCancel, &box, QRect(160, 270, 200, 60)},
            {d->btnDlgOk, &box, QRect(380, 270, 200, 60)},   {d->lineEditPIN, &box, QRect(40, 150, 521, 60)},
            {d->btnShowPIN, &box, QRect(500, 150, 60, 60)},  {d->mainframe, &box, QRect(0, 0, 600, 370)},
            {d->lblMsgWarning, d->mainframe, QRect(90, 100, 441, 41)},
        };
        for (const Row& row : rows) {
            QCOMPARE(row.w->parentWidget(), row.parent);
            QCOMPARE(row.w->geometry(), row.rect);
        }
        QCOMPARE(d->lblTitle->text(), QString("Please enter PIN"));
        QCOMPARE(d->btnDlgCancel->text(), QString("Cancel"));
        QCOMPARE(d->btnDlgOk->text(), QString("OK"));
        QCOMPARE(d->lblMsgWarning->text(), QString("Please reenter the password..."));
        QVERIFY(d->btnDlgOk->isDefault());
        QVERIFY(d->btnDlgCancel->autoDefault());
        QVERIFY(d->lblMsgWarning->isHidden());
        QCOMPARE(d->lineEditPIN->echoMode(), QLineEdit::Password);
        // From the bottom: mainframe, frame, Cancel, OK, the field, the eye on top of it.
        const QObjectList order = box.children();
        QList<QWidget*> stack;
        for (QObject* child : order)
            if (auto* w = qobject_cast<QWidget*>(child))
                stack.append(w);
        const QList<QWidget*> expected = {d->mainframe, d->frame, d->btnDlgCancel, d->btnDlgOk, d->lineEditPIN,
                                          d->btnShowPIN};
        QCOMPARE(stack, expected);
        QCOMPARE(box.childAt(530, 180), static_cast<QWidget*>(d->btnShowPIN));
    }

    void startUpState()
    {
        QCOMPARE(window->ui->stackedWidget->currentIndex(), 0);
        QVERIFY(window->isFullScreen());
        QVERIFY(window->favouritesOverlay->isHidden());
        QVERIFY(window->ui->frameSrcSideBar->isHidden());
        QVERIFY(window->tooltipLabel->isHidden());
        QVERIFY(window->ui->btnClose->isHidden());
        QVERIFY(window->ui->lblLogo->isHidden());
        QVERIFY(window->ui->menuBar->isHidden());
        QVERIFY(window->ui->mainToolBar->isHidden());
        QVERIFY(window->ui->statusBar->isHidden());
        for (const char* name : {"lblDisplayModeTitle_setting", "comboDisplayMode", "lblNoVideoSrcBehaviourTitle_setting",
                                 "btnNoVideoSrcBehaviourStandard", "btnNoVideoSrcBehaviourBack",
                                 "btnNoVideoSrcBehaviourCustom", "lblDanteAudioTitle_setting", "btnDanteAudioEnable",
                                 "btnDanteAudioDisable"})
            QVERIFY2(widget(name)->isHidden(), name);
        for (int i = 0; i < MainWindow::kSourceRows; ++i) {
            QVERIFY(window->starLabels[i]->isHidden());
            QVERIFY(window->nameLabels[i]->isHidden() || !window->nameLabels[i]->text().isEmpty());
        }
        // No mode file and no stored settings: decode, standard, Dante on, the default PIN.
        QCOMPARE(window->operationMode, 1);
        QCOMPARE(window->ui->lblCurOperatingMode->text(), QString("Decode"));
        QCOMPARE(window->ui->lineEditPIN->text(), QString("quorvel"));
        QCOMPARE(window->settingsLocked, 0);
        QCOMPARE(window->currentPage, 0);
        QCOMPARE(window->clickedTile, -1);
        QCOMPARE(window->focusedTile, 0);
        QCOMPARE(window->chosenSlot, -1);
        QCOMPARE(window->playingSource, -1);
        QVERIFY(window->finderThread.isRunning() || window->finder != nullptr);
        QVERIFY(testsupport::waitFor([] {
            return hasCall(guitest::env().box->calls("systemctl"), Argv{"systemctl", "restart", "TarnvikRunner"});
        }));
    }

    void windowCoversTheScreenWithoutAWindowManager()
    {
        // The private X server runs no window manager: nothing but the program sizes it.
        QCOMPARE(window->geometry(), QRect(0, 0, W, H));
        QTRY_COMPARE_WITH_TIMEOUT(xGeometry(window->winId()), QRect(0, 0, W, H), 10000);
    }

    void pinDialogOpensInTheMiddleOfTheScreen()
    {
        window->slotClickedSecurityDisabled();
        QRect placed;
        QRect inServer;
        whenDialogShows([&](MessageBox* box) {
            placed = box->frameGeometry();
            const QRect wanted((W - 600) / 2, (H - 370) / 2, 600, 370);
            testsupport::waitFor([&] { return xGeometry(box->winId()) == wanted; }, std::chrono::seconds(10));
            inServer = xGeometry(box->winId());
            QTest::mouseClick(box->ui->btnDlgCancel, Qt::LeftButton);
        });
        window->slotClickedSecurityEnabled();
        QCOMPARE(placed, QRect((W - 600) / 2, (H - 370) / 2, 600, 370));
        QCOMPARE(inServer, placed);
        // Cancel without OK leaves the default PIN unmatched: still locked; unlock for what follows.
        QCOMPARE(window->settingsLocked, 1);
        window->disableSettings(false);
        window->settingsLocked = 0;
    }

    void backgroundPictureFollowsTheScreen()
    {
        QString picture;
        if (W > 1920)
            picture = W > H ? "bg_3840x2160" : "bg_2160x3840";
        else
            picture = W > H ? "bg_1920x1080" : "bg_1080x1920";
        QCOMPARE(window->ui->lblVideoWindow->styleSheet(),
                 "border-image:url(:/images/" + picture + ") 0 0 0 0 stretch stretch;");
        QCOMPARE(window->ui->lblVideoWindow->geometry(), QRect(0, 0, W, H));
        QCOMPARE(window->ui->stackedWidget->geometry(), QRect(0, 0, W, H));
        QCOMPARE(window->ui->lblForMouse->geometry(), QRect(0, 0, W, H));
        QVERIFY(window->ui->lblVideoWindow->hasMouseTracking());
        QVERIFY(window->ui->lblForMouse->hasMouseTracking());
    }

    void mainPageGeometryFollowsTheMetricSet()
    {
        // Values of the two metric sets, written out (not taken from the window's code).
        const int M = small ? 31 : 62, L = small ? 60 : 120, K = small ? 15 : 30;
        const int J = small ? 384 : 768, E = small ? 43 : 86, D = small ? 260 : 420, C = small ? 326 : 652;
        const int listH = small ? H - 284 : H - 469;
        const int G = small ? 5 : 10, F = small ? 22 : 44, P = small ? 32 : 64, I = small ? 216 : 432;
        const int TW = J + 2 * G, TH = I + 2 * G;
        struct Row {
            QWidget* w;
            QRect rect;
        } rows[] = {
            {window->ui->lblLogo, small ? edges(31, 31, 278, 100) : edges(62, 62, 557, 201)},
            {window->ui->lblSrcListTitle, edges(E, M + L + 15, J - 1, D - 56)},
            {window->ui->lineSrcListSeperator, edges(E, D - 40, J - E - 1, D - 37)},
            {window->ui->frameSrcSideBar, edges(W - J, 0, W - 1, H - 1)},
            {window->ui->scrollAreaSources, edges(E, D, E + C - 1, D + listH - 1)},
            {window->ui->btnSrcList, QRect(W - L - M, M, L, L)},
            {window->ui->btnSrcListSetting, QRect(W - L - M, M, L, L)},
            {window->ui->btnFavourite, QRect(W - 2 * L - M - K, M, L, L)},
            {window->ui->btnFavouriteSetting, QRect(W - 2 * L - M - K, M, L, L)},
            {window->ui->btnSetting, QRect(W - 3 * L - M - 2 * K, M, L, L)},
            {window->ui->btnCloseSetting, QRect(W - 3 * L - M - 2 * K, M, L, L)},
            {window->ui->btnCloseFavourite, QRect(M, M, L, L)},
            {window->favouritesOverlay, QRect((W - (3 * TW + 2 * F)) / 2 - F, (H - (P + 2 * TH + 2 * F + 2 * K)) / 2,
                                              3 * TW + 4 * F, P + 2 * TH + 2 * F + 2 * K)},
        };
        // Where the grid does not fit, favouritesGridFitsTheScreen checks what replaces it.
        for (const Row& row : rows)
            if (gridFits() || row.w != window->favouritesOverlay)
                QCOMPARE(row.w->geometry(), row.rect);
        if (gridFits())
            QCOMPARE(window->favouritesOverlay->geometry(), small ? QRect((W - 1226) / 2 - 22, (H - 558) / 2, 1270, 558)
                                                                  : QRect((W - 2452) / 2 - 44, (H - 1116) / 2, 2540, 1116));
        QCOMPARE(window->ui->lblSrcListTitle->styleSheet(),
                 QString("QLabel{color:rgb(255,255,255);font-family:Lato;font-weight:bold;font-size:%1px;}")
                     .arg(small ? 27 : 54));
        QCOMPARE(window->favouritesOverlay->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        for (int i = 0; i < MainWindow::kSourceRows; ++i) {
            QCOMPARE(window->nameLabels[i]->size(), small ? QSize(205, 30) : QSize(410, 60));
            QCOMPARE(window->starLabels[i]->size(), small ? QSize(25, 25) : QSize(50, 50));
            QCOMPARE(window->nameLabels[i]->parentWidget(), window->ui->scrollAreaSources->widget());
        }
        for (int i = 0; gridFits() && i < MainWindow::kTiles; ++i) {
            const int left = (J + F) * (i % 3) + F, top = (F + TH) * (i / 3) + K;
            QCOMPARE(window->tileRects[i], edges(left, top, left + TW, top + TH));
            QCOMPARE(window->tileLabels[i]->size(), QSize(TW, TH));
            QCOMPARE(window->tileLabels[i]->parentWidget(), window->tiles[i]);
            QCOMPARE(window->tileButtons[i]->parentWidget(), window->tiles[i]);
            QCOMPARE(window->tileButtons[i]->focusPolicy(), Qt::NoFocus);
            QCOMPARE(window->tileButtons[i]->geometry(), small ? QRect(5, 5, 384, 216) : QRect(10, 10, 768, 432));
        }
        for (QPushButton* dot : window->pageOptionButtons) {
            if (gridFits())
                QCOMPARE(dot->size(), QSize(P, P));
            QCOMPARE(dot->focusPolicy(), Qt::NoFocus);
        }
        QVERIFY(window->pageOptionButtons[0]->styleSheet().contains("dot_actual_favourite"));
        QVERIFY(window->pageOptionButtons[1]->styleSheet().contains("dot_next_favourite"));
        QCOMPARE(window->tooltipLabel->font().family(), QString("Lato"));
        QCOMPARE(window->tooltipLabel->font().pointSize(), 20);
    }

    void favouritesGridFitsTheScreen()
    {
        backToMainPage();
        window->favouritesOverlay->show();
        window->favouritesOverlay->raise();
        QCoreApplication::processEvents();
        const QRect screen(0, 0, W, H);
        auto onScreen = [this](QWidget* w) { return QRect(w->mapTo(window.get(), QPoint(0, 0)), w->size()); };
        auto text = [](const QRect& r) {
            return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
        };
        QVERIFY2(screen.contains(window->favouritesOverlay->geometry()), qPrintable(text(window->favouritesOverlay->geometry())));
        // Six tiles and three dots, each whole on the screen and clear of the others; every
        // face a picture of 16:9 inside its tile, and the caption too.
        QList<QRect> placed;
        for (int t = 0; t < MainWindow::kTiles; ++t) {
            const QRect tile = onScreen(window->tiles[t]);
            const QRect face = window->tileButtons[t]->geometry();
            QVERIFY2(tile.width() > 0 && tile.height() > 0 && screen.contains(tile), qPrintable(text(tile)));
            QVERIFY2(QRect(QPoint(0, 0), tile.size()).contains(face), qPrintable(text(face)));
            QVERIFY2(std::abs(face.width() * 9 - face.height() * 16) < 16, qPrintable(text(face)));
            QVERIFY(QRect(QPoint(0, 0), tile.size()).contains(window->tileLabels[t]->geometry()));
            placed.append(tile);
        }
        for (QPushButton* dot : window->pageOptionButtons) {
            const QRect place = onScreen(dot);
            QVERIFY2(dot->width() > 0 && screen.contains(place), qPrintable(text(place)));
            placed.append(place);
        }
        for (int a = 0; a < placed.size(); ++a)
            for (int b = a + 1; b < placed.size(); ++b)
                QVERIFY2(!placed[a].intersects(placed[b]), qPrintable(text(placed[a]) + " covers " + text(placed[b])));
        // The top buttons stay free to click while the overlay is shown.
        for (QWidget* button : {window->ui->btnSetting, window->ui->btnFavourite, window->ui->btnSrcList})
            for (const QRect& place : placed)
                QVERIFY2(!place.intersects(button->geometry()),
                         qPrintable(text(place) + " covers " + button->objectName()));
        // Read back from the X server: each tile's picture shows on the screen as the tile draws it.
        QTest::qWait(200);
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shot.size(), QSize(W, H));
        for (int t = 0; t < MainWindow::kTiles; ++t) {
            QPushButton* face = window->tileButtons[t];
            const QImage drawn = face->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QPoint origin = face->mapTo(window.get(), QPoint(0, 0));
            int picture = 0, shown = 0;
            // Inside the face's frame: black, or the picture's grey.
            for (int y = 4; y < face->height() - 4; ++y)
                for (int x = 4; x < face->width() - 4; ++x) {
                    if (qGray(drawn.pixel(x, y)) <= 24)
                        continue;
                    ++picture;
                    const QPoint at = origin + QPoint(x, y);
                    shown += screen.contains(at) && shot.pixel(at) == drawn.pixel(x, y);
                }
            QVERIFY2(picture > 500, qPrintable(QString::number(picture)));
            QVERIFY2(shown == picture, qPrintable(QString("tile %1: %2 of %3").arg(t).arg(shown).arg(picture)));
        }
        window->favouritesOverlay->hide();
    }

    void settingsPageGeometryFollowsTheMetricSet()
    {
        if (!small && !formFits()) {
            // The form's page does not fit: settingsPageFitsTheScreen checks what replaces it;
            // the choice buttons' look is the large set's, its sizes shrunk with the page.
            QVERIFY(strBtnEnableStyle.startsWith("QPushButton {color:#ffffff;background-color:#22b24c;border-radius:"));
            QVERIFY(strBtnDisableStyle.startsWith("QPushButton {color:#707070;background-color:#121212;border-radius:"));
            return;
        }
        if (!small) {
            // Large screens keep the form's places, the lower rows moved up by 340 px.
            QMainWindow host;
            Ui_MainWindow form;
            form.setupUi(&host);
            for (const char* name : kLowerRows) {
                QWidget* design = host.findChild<QWidget*>(name);
                QCOMPARE(widget(name)->geometry(), design->geometry().translated(0, -340));
            }
            for (const char* name : {"frmStatusSection_setting", "frmSettingSection_setting", "btnRestartDevice",
                                     "comboScreenResolution", "btnOperatingModeEncode", "lblCurScreenName"})
                QCOMPARE(widget(name)->geometry(), host.findChild<QWidget*>(name)->geometry());
            QCOMPARE(strBtnEnableStyle, QString("QPushButton {color:#ffffff;background-color:#22b24c;border-radius:40px;"
                                                "font-family:Lato;font-weight:bold;font-size:48px;}"
                                                "QPushButton:hover { border: 4px solid #ffffff; }"));
            return;
        }
        const int t = (W - 1875) / 2;
        if (W == 1280)
            QCOMPARE(t, -297);
        struct Row {
            const char* name;
            QRect rect;
        } rows[] = {
            {"lblLogoSetting", edges(31, 31, 278, 100)},
            {"frmStatusSection_setting", edges(30, 125, 789, H - 31)},
            {"frmSettingSection_setting", edges(820, 125, W - 31, H - 31)},
            {"lblStatusSectionTitle_setting", edges(40, 40, 439, 79)},
            {"lblSettingSectionTitle_setting", edges(40, 40, 439, 79)},
            {"lblCurScreenNameTitle_setting", edges(40, 110, 439, 149)},
            {"lblCurScreenName", edges(440, 110, 684, 149)},
            {"lblCurNDIEncodeResolution", edges(440, 440, 684, 479)},
            {"lblCurNDILibVersionTitle_setting", edges(40, 605, 439, 644)},
            {"lblCurNDILibVersion", edges(440, 605, 684, 644)},
            {"btnRestartDevice", edges(40, H - 291, 269, H - 252)},
            {"btnRestartVideo", edges(40, H - 236, 269, H - 197)},
            {"lblOperationTitle_setting", edges(40, 110, 439, 149)},
            {"btnOperatingModeEncode", edges(440, 165, 609, 204)},
            {"btnOperatingModeDecode", edges(t + 610, 165, t + 779, 204)},
            {"comboScreenResolution", edges(440, 220, W - 926, 259)},
            {"btnNoVideoSrcBehaviourCustom", edges(2 * t + 780, 330, 2 * t + 949, 369)},
            {"lblNetworkTitle_setting", edges(40, 295, 439, 334)},
            {"lineEditScreenName", edges(440, 350, W - 926, 389)},
            {"btnIPConfigurationStatic", edges(t + 610, 405, t + 779, 444)},
            {"lineEditIPAddress", edges(440, 460, W - 926, 499)},
            {"lineEditIPGateway", edges(440, 570, W - 926, 609)},
            {"btnSecurityEnabled", edges(440, 640, 609, 679)},
            {"btnSecurityDisabled", edges(2 * t + 780, 640, 2 * t + 949, 679)},
            {"lineEditPIN", edges(440, 695, W - 926, 734)},
            {"btnPINShow", edges(W - 975, 695, W - 936, 734)},
        };
        // Where the small layout fits the screen it is taken as it is; on narrower or lower
        // screens settingsPageFitsTheScreen checks what replaces it.
        const bool fits = W >= 1874 && H >= 946;
        for (const Row& row : rows) {
            if (!fits && row.name != QString("lblLogoSetting"))
                continue;
            QCOMPARE(widget(row.name)->geometry(), row.rect);
        }
        const QString font = "font-family:Lato;font-weight:bold;font-size:24px;";
        // Rows lower than 40 px take a corner radius of half their height.
        const QString corner = fits ? "20" : QRegularExpression("border-radius:(\\d+)px")
                                                 .match(strBtnEnableStyle)
                                                 .captured(1);
        QVERIFY(corner.toInt() > 0 && corner.toInt() <= 20);
        QCOMPARE(strBtnEnableStyle, "QPushButton {color:#ffffff;background-color:#22b24c;border-radius:" + corner +
                                        "px;" + font + "}QPushButton:hover { border: 2px solid #ffffff; }");
        QCOMPARE(strBtnDisableStyle, "QPushButton {color:#707070;background-color:#121212;border-radius:" + corner +
                                         "px;" + font + "}QPushButton:hover { border: 2px solid #ffffff; }");
        QCOMPARE(widget("lblStatusSectionTitle_setting")->styleSheet(), "color:#22b24c;" + font);
        QCOMPARE(widget("lblCurIPAddress")->styleSheet(), "color:#707070;" + font);
        QCOMPARE(widget("lblSecurityTitle_setting")->styleSheet(), "color:#c8c8c8;" + font);
        QCOMPARE(widget("lblPINTitle_setting")->styleSheet(), "color:#707070;" + font);
        QCOMPARE(widget("lineEditIPSubnet")->styleSheet(),
                 "background-color:#121212;border-radius:4px;color:#505050;" + font);
        QCOMPARE(widget("comboScreenResolution")->styleSheet(),
                 "QComboBox {color:#505050;background-color:#121212;border-radius:4px;" + font +
                     "}QComboBox::drop-down { width:40px; height:40px; border-width: 0px;}"
                     "QComboBox::down-arrow { width:12px; height:12;image: url(:/icons/down_arrow);}");
        QCOMPARE(widget("btnRestartVideo")->styleSheet(), strBtnEnableStyle);
    }

    void settingsPageFitsTheScreen()
    {
        QWidget* page = window->ui->stackedPageSetting;
        window->ui->stackedWidget->setCurrentIndex(1);
        QCOMPARE(page->geometry(), QRect(0, 0, W, H));
        // Every shown widget of the page: a size of its own, inside its parent, clear of its
        // shown siblings (the eye lies over the PIN field on purpose), its text room enough.
        QList<QWidget*> shown;
        for (QWidget* w : page->findChildren<QWidget*>())
            if (w->isVisibleTo(page) && w->parentWidget() != nullptr && !w->isWindow() &&
                !w->parentWidget()->inherits("QComboBox") && !w->inherits("QComboBoxPrivateContainer"))
                shown.append(w);
        QVERIFY(shown.size() > 40);
        auto named = [](QWidget* w) { return w->objectName() + " in " + w->parentWidget()->objectName(); };
        const QSet<QString> layoutFree = {"stackedPageSetting", "frmStatusSection_setting", "frmSettingSection_setting"};
        for (QWidget* w : shown) {
            if (!layoutFree.contains(w->parentWidget()->objectName()))
                continue;  // inner parts of a control, laid out by the control
            QVERIFY2(w->width() > 0 && w->height() > 0, qPrintable(named(w)));
            QVERIFY2(QRect(QPoint(0, 0), w->parentWidget()->size()).contains(w->geometry()),
                     qPrintable(named(w) + QString(" at %1,%2 %3x%4 in %5x%6")
                                                        .arg(w->x()).arg(w->y()).arg(w->width()).arg(w->height())
                                                        .arg(w->parentWidget()->width()).arg(w->parentWidget()->height())));
            w->ensurePolished();
            const QFontMetrics metrics(w->font());
            if (auto* button = qobject_cast<QPushButton*>(w); button != nullptr && !button->text().isEmpty()) {
                QVERIFY2(metrics.horizontalAdvance(button->text()) + 8 <= button->width(), qPrintable(named(w)));
                // Qt draws a corner radius beyond half the height square: the pill look is lost.
                static const QRegularExpression radius("border-radius:\\s*(\\d+)px");
                const int r = radius.match(button->styleSheet()).captured(1).toInt();
                QVERIFY2(2 * r <= button->height(), qPrintable(named(w) + QString(" radius %1 height %2").arg(r).arg(button->height())));
            }
            // The titles of the controls too; the status values are read, not used, and may clip.
            if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && label->parentWidget() == window->ui->frmSettingSection_setting)
                QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width(), qPrintable(named(w)));
            if (w->inherits("QLineEdit") || w->inherits("QComboBox"))
                QVERIFY2(metrics.horizontalAdvance("255.255.255.255") + 16 <= w->width(), qPrintable(named(w)));
            for (QWidget* other : shown) {
                if (other == w || other->parentWidget() != w->parentWidget())
                    continue;
                const QSet<QString> pair = {w->objectName(), other->objectName()};
                if (pair == QSet<QString>{"lineEditPIN", "btnPINShow"})
                    continue;
                QVERIFY2(!w->geometry().intersects(other->geometry()),
                         qPrintable(named(w) + " covers " + other->objectName()));
            }
        }
        // The eye keeps to the right end of the PIN field (10 px from it on the small set's
        // page, 19 on the form's).
        const QRect eye = window->ui->btnPINShow->geometry();
        const QRect pin = window->ui->lineEditPIN->geometry();
        QVERIFY(pin.contains(eye));
        if (small)
            QCOMPARE(eye.right(), pin.right() - 10);
        else
            QVERIFY2(pin.right() - eye.right() < eye.width() / 2, qPrintable(QString::number(pin.right() - eye.right())));
        window->ui->stackedWidget->setCurrentIndex(0);
    }

    void optionButtonsSelectOneOfTheirGroup_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("others");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("value");
        QTest::newRow("encode") << "btnOperatingModeEncode" << QStringList{"btnOperatingModeDecode"} << "operationMode"
                                << 0;
        QTest::newRow("decode") << "btnOperatingModeDecode" << QStringList{"btnOperatingModeEncode"} << "operationMode"
                                << 1;
        QTest::newRow("back") << "btnNoVideoSrcBehaviourBack"
                              << QStringList{"btnNoVideoSrcBehaviourStandard", "btnNoVideoSrcBehaviourCustom"}
                              << "noVideoSourceBehaviour" << 1;
        QTest::newRow("custom") << "btnNoVideoSrcBehaviourCustom"
                                << QStringList{"btnNoVideoSrcBehaviourStandard", "btnNoVideoSrcBehaviourBack"}
                                << "noVideoSourceBehaviour" << 2;
        QTest::newRow("standard") << "btnNoVideoSrcBehaviourStandard"
                                  << QStringList{"btnNoVideoSrcBehaviourBack", "btnNoVideoSrcBehaviourCustom"}
                                  << "noVideoSourceBehaviour" << 0;
        QTest::newRow("dante off") << "btnDanteAudioDisable" << QStringList{"btnDanteAudioEnable"} << "danteAudio" << 1;
        QTest::newRow("dante on") << "btnDanteAudioEnable" << QStringList{"btnDanteAudioDisable"} << "danteAudio" << 0;
        QTest::newRow("static") << "btnIPConfigurationStatic" << QStringList{"btnIPConfigurationDhcp"}
                                << "ipConfigChosen" << 1;
        QTest::newRow("dhcp") << "btnIPConfigurationDhcp" << QStringList{"btnIPConfigurationStatic"}
                              << "ipConfigChosen" << 0;
    }

    void optionButtonsSelectOneOfTheirGroup()
    {
        QFETCH(QString, chosen);
        QFETCH(QStringList, others);
        QFETCH(QString, field);
        QFETCH(int, value);
        int* const fields[] = {&window->operationMode, &window->noVideoSourceBehaviour, &window->danteAudio,
                               &window->ipConfigChosen};
        const QStringList fieldNames = {"operationMode", "noVideoSourceBehaviour", "danteAudio", "ipConfigChosen"};
        int* recorded = fields[fieldNames.indexOf(field)];
        // Start from a state that only the button's own slot can turn into the expected one.
        window->disableSettings(false);
        *recorded = -7;
        widget(qPrintable(chosen))->setStyleSheet("before");
        for (const QString& other : others)
            widget(qPrintable(other))->setStyleSheet("before");
        window->ui->lblCurOperatingMode->setText("before");
        // Through the button itself, as a user would; nothing else calls the slot.
        QTest::mouseClick(widget(qPrintable(chosen)), Qt::LeftButton);
        QCOMPARE(widget(qPrintable(chosen))->styleSheet(), strBtnEnableStyle);
        for (const QString& other : others)
            QCOMPARE(widget(qPrintable(other))->styleSheet(), strBtnDisableStyle);
        QCOMPARE(*recorded, value);
        if (field == "operationMode")
            QCOMPARE(window->ui->lblCurOperatingMode->text(), QString(value == 0 ? "Encode" : "Decode"));
        else
            QCOMPARE(window->ui->lblCurOperatingMode->text(), QString("before"));
        window->ui->lblCurOperatingMode->setText(window->operationMode == 0 ? "Encode" : "Decode");
    }

    void pinFieldShowsAndHidesItsText()
    {
        QLineEdit* pin = window->ui->lineEditPIN;
        QCOMPARE(pin->echoMode(), QLineEdit::Password);
        QTest::mouseClick(window->ui->btnPINShow, Qt::LeftButton);
        QCOMPARE(pin->echoMode(), QLineEdit::Normal);
        QVERIFY(window->ui->btnPINShow->styleSheet().startsWith("QPushButton{border-image:url(:/icons/pswd_eye_visible);"));
        QTest::mouseClick(window->ui->btnPINShow, Qt::LeftButton);
        QCOMPARE(pin->echoMode(), QLineEdit::Password);
        QCOMPARE(window->ui->btnPINShow->styleSheet(),
                 QString("QPushButton{border-image:url(:/icons/pswd_eye_hidden);background-color: #121212;"
                         "border-radius: 8px;}QPushButton:hover{border-image:url(:/icons/pswd_eye_hidden_hover)}"));
    }

    void mainPageKeys()
    {
        backToMainPage();
        QTest::keyRelease(window.get(), Qt::Key_2);
        QVERIFY(!window->favouritesOverlay->isHidden());
        QTest::keyRelease(window.get(), Qt::Key_2);
        QVERIFY(window->favouritesOverlay->isHidden());
        QTest::keyRelease(window.get(), Qt::Key_2);
        // The side bar hides the overlay.
        QTest::keyRelease(window.get(), Qt::Key_3);
        QVERIFY(window->favouritesOverlay->isHidden());
        QVERIFY(!window->ui->frameSrcSideBar->isHidden());
        QTest::keyRelease(window.get(), Qt::Key_3);
        QVERIFY(window->ui->frameSrcSideBar->isHidden());
        // Home does nothing on the main page.
        QTest::keyRelease(window.get(), Qt::Key_Home);
        QCOMPARE(window->ui->stackedWidget->currentIndex(), 0);
        openStatusPage();
        // 1, 2 and 3 do nothing on the settings page.
        QTest::keyRelease(window.get(), Qt::Key_2);
        QTest::keyRelease(window.get(), Qt::Key_3);
        QTest::keyRelease(window.get(), Qt::Key_1);
        QVERIFY(window->favouritesOverlay->isHidden());
        QVERIFY(window->ui->frameSrcSideBar->isHidden());
        QCOMPARE(window->ui->stackedWidget->currentIndex(), 1);
        guitest::env().box->clearCalls();
        QTest::keyRelease(window.get(), Qt::Key_Home);
        QCOMPARE(window->ui->stackedWidget->currentIndex(), 0);
        QVERIFY(testsupport::waitFor([] {
            return hasCall(guitest::env().box->calls("systemctl"), Argv{"systemctl", "restart", "TarnvikRunner"});
        }));
    }

    void sideBarSlidesInToTheRightEdge()
    {
        backToMainPage();
        const int S = small ? 384 : 768;
        QFrame* bar = window->ui->frameSrcSideBar;
        QTest::keyRelease(window.get(), Qt::Key_3);
        QVERIFY(bar->isVisible());
        auto* animation = bar->findChild<QPropertyAnimation*>();
        QVERIFY(animation != nullptr);
        QCOMPARE(animation->propertyName(), QByteArray("geometry"));
        QCOMPARE(animation->duration(), 250);
        QCOMPARE(animation->easingCurve().type(), QEasingCurve::OutSine);
        QCOMPARE(animation->startValue().toRect(), edges(W, 0, W + S - 1, H - 1));
        QCOMPARE(animation->endValue().toRect(), edges(W - S, 0, W - 1, H - 1));
        QTRY_COMPARE_WITH_TIMEOUT(bar->findChild<QPropertyAnimation*>(), static_cast<QPropertyAnimation*>(nullptr), 30000);
        QCOMPARE(bar->geometry(), edges(W - S, 0, W - 1, H - 1));
        QTest::keyRelease(window.get(), Qt::Key_3);
        QVERIFY(bar->isHidden());
    }

    void overlayKeysMoveTheFocusAndChoose()
    {
        backToMainPage();
        window->focusedTile = 0;
        window->clickedTile = -1;
        // Arrow keys with the overlay hidden change nothing.
        QTest::keyRelease(window.get(), Qt::Key_Right);
        QCOMPARE(window->focusedTile, 0);
        QTest::keyRelease(window.get(), Qt::Key_2);
        QVERIFY(!window->favouritesOverlay->isHidden());
        QTest::keyRelease(window.get(), Qt::Key_Left);
        QCOMPARE(window->focusedTile, 0);
        const int expected[] = {1, 2, 3, 4, 5, 5};
        for (int want : expected) {
            QTest::keyRelease(window.get(), Qt::Key_Right);
            QCOMPARE(window->focusedTile, want);
            QCOMPARE(window->focusShown, 1);
            for (int t = 0; t < MainWindow::kTiles; ++t)
                QCOMPARE(window->tileButtons[t]->styleSheet().contains("2px solid white"), t == want);
        }
        QTest::keyRelease(window.get(), Qt::Key_Left);
        QCOMPARE(window->focusedTile, 4);
        // The keypad's Enter is not Return.
        QTest::keyRelease(window.get(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(window->clickedTile, -1);
        QVERIFY(!window->favouritesOverlay->isHidden());
        QTest::keyRelease(window.get(), Qt::Key_Return);
        QCOMPARE(window->clickedTile, 4);
        QCOMPARE(window->chosenSlot, 4);
        QCOMPARE(window->focusShown, 0);
        QVERIFY(window->favouritesOverlay->isHidden());
        // Return on the tile already chosen does not choose it again.
        window->favouritesOverlay->show();
        QTest::keyRelease(window.get(), Qt::Key_Return);
        QVERIFY(!window->favouritesOverlay->isHidden());
        window->favouritesOverlay->hide();
    }

    void lockDisablesTheSeventeenWidgets()
    {
        window->slotClickedSecurityDisabled();
        backToMainPage();
        openStatusPage();
        QCOMPARE(window->settingsLocked, 1);
        for (const char* name : kLockedWidgets)
            QVERIFY2(!widget(name)->isEnabled(), name);
        for (const char* name : {"btnCloseSetting", "btnRestartDevice", "btnRestartVideo", "btnSecurityEnabled",
                                 "btnSecurityDisabled", "btnSrcListSetting", "btnFavouriteSetting"})
            QVERIFY2(widget(name)->isEnabled(), name);
        QCOMPARE(window->ui->btnSecurityDisabled->styleSheet(), strBtnEnableStyle);
        QCOMPARE(window->ui->btnSecurityEnabled->styleSheet(), strBtnDisableStyle);
        // Opening the page again keeps the lock and does not restyle.
        window->ui->btnSecurityDisabled->setStyleSheet("marker");
        backToMainPage();
        openStatusPage();
        QCOMPARE(window->ui->btnSecurityDisabled->styleSheet(), QString("marker"));
        QCOMPARE(window->settingsLocked, 1);
        window->ui->btnSecurityDisabled->setStyleSheet(strBtnEnableStyle);
    }

    void wrongPinKeepsTheDialogOpenRightPinUnlocks()
    {
        QCOMPARE(window->settingsLocked, 1);
        const QString pin = window->ui->lineEditPIN->text();
        bool sawWarning = false;
        bool stayedOpen = false;
        whenDialogShows([&](MessageBox* box) {
            QVERIFY(box->ui->lblMsgWarning->isHidden());
            QCOMPARE(box->expectedPIN, pin);
            QTest::keyClicks(box->ui->lineEditPIN, "wrong");
            QTest::mouseClick(box->ui->btnDlgOk, Qt::LeftButton);
            sawWarning = !box->ui->lblMsgWarning->isHidden();
            stayedOpen = box->isVisible();
            box->ui->lineEditPIN->clear();
            QTest::keyClicks(box->ui->lineEditPIN, pin);
            QTest::mouseClick(box->ui->btnDlgOk, Qt::LeftButton);
        });
        QTest::mouseClick(window->ui->btnSecurityEnabled, Qt::LeftButton);
        QVERIFY(sawWarning);
        QVERIFY(stayedOpen);
        QCOMPARE(window->settingsLocked, 0);
        for (const char* name : kLockedWidgets)
            QVERIFY2(widget(name)->isEnabled(), name);
        QCOMPARE(window->ui->btnSecurityEnabled->styleSheet(), strBtnEnableStyle);
        QCOMPARE(window->ui->btnSecurityDisabled->styleSheet(), strBtnDisableStyle);
        // Unlocked: the button asks nothing.
        window->slotClickedSecurityEnabled();
        QCOMPARE(window->settingsLocked, 0);
    }

    void cancelAfterAWrongPinStaysLocked()
    {
        window->slotClickedSecurityDisabled();
        whenDialogShows([](MessageBox* box) {
            QTest::keyClicks(box->ui->lineEditPIN, "nope");
            QTest::mouseClick(box->ui->btnDlgOk, Qt::LeftButton);
            QTest::mouseClick(box->ui->btnDlgCancel, Qt::LeftButton);
        });
        window->slotClickedSecurityEnabled();
        QCOMPARE(window->settingsLocked, 1);
        QVERIFY(!window->ui->lineEditPIN->isEnabled());
    }

    void emptyPinAndCancelUnlocks()
    {
        const QString pin = window->ui->lineEditPIN->text();
        window->ui->lineEditPIN->setText("");
        whenDialogShows([](MessageBox* box) { QTest::mouseClick(box->ui->btnDlgCancel, Qt::LeftButton); });
        window->slotClickedSecurityEnabled();
        QCOMPARE(window->settingsLocked, 0);
        window->ui->lineEditPIN->setText(pin);
    }

    void tooltipStaysInsideTheWindow_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<QString>("text");
        QTest::newRow("fits") << 10 << "Short";
        QTest::newRow("past the right edge") << 300 << QString("A very long source name that runs on").repeated(3);
    }

    void tooltipStaysInsideTheWindow()
    {
        QFETCH(int, x);
        QFETCH(QString, text);
        window->ui->frameSrcSideBar->setGeometry(edges(W - (small ? 384 : 768), 0, W - 1, H - 1));
        window->showTooltipMain(QPoint(x, 7), text);
        QLabel* tip = window->tooltipLabel;
        QVERIFY(tip->isVisible());
        const int w = QFontMetrics(tip->font()).horizontalAdvance(text);
        int left = x + window->ui->scrollAreaSources->x() + window->ui->frameSrcSideBar->x();
        const int right = window->geometry().right();
        if (left + w > right)
            QCOMPARE(tip->x() + w, right - 50);
        else
            QCOMPARE(tip->x(), left);
        QCOMPARE(tip->y(), 7 + window->ui->scrollAreaSources->y());
        QCOMPARE(tip->size(), QSize(w + 10, tip->font().pointSize() + 20));
        QCOMPARE(tip->text(), text);
        window->hideTooltipMain();
        QVERIFY(tip->isHidden());
    }

    void mouseMovesOverTheVideoAreSeenButNotSwallowed()
    {
        backToMainPage();
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QVERIFY(!window->eventFilter(window->ui->lblVideoWindow, &move));
        QVERIFY(!window->eventFilter(window->ui->lblForMouse, &move));
        QCOMPARE(window->ui->stackedWidget->currentIndex(), 0);
    }

    void tileCaptionsStayOnTheFaceClearOfThePicture()
    {
        const QString shortName = "STUDIO-PC (Camera 1)";
        const QString longName = "A-VERY-LONG-MACHINE-NAME-FOR-THE-STUDIO (Program output with a long stream name)";
        window->refreshTimer.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!window->finderThread.isRunning(), 30000);
        QCoreApplication::sendPostedEvents();
        window->favourites = QStringList{shortName, longName};
        window->currentPage = 0;
        window->playingSource = -1;
        window->focusShown = 1;
        window->focusedTile = 5;
        window->slotAddNDISources({shortName, longName}, {"10.0.0.2:5961", "10.0.0.3:5961"});
        QCOMPARE(window->favouriteCount, 2);
        backToMainPage();
        window->favouritesOverlay->show();
        QCoreApplication::processEvents();
        // The metric set's face, or where the grid is shrunk the one face of all tiles.
        const QRect face = !gridFits() ? window->tileButtons[5]->geometry()
                           : small     ? QRect(5, 5, 384, 216)
                                       : QRect(10, 10, 768, 432);
        for (int t = 0; t < 2; ++t) {
            ClickableLabel* caption = window->tileLabels[t];
            QCOMPARE(window->tileButtons[t]->geometry(), face);
            // The tile drawn with and without its caption: what differs is the caption's ink.
            const QString text = caption->text();
            const QImage with = window->tiles[t]->grab().toImage().convertToFormat(QImage::Format_RGB32);
            caption->setText("");
            const QImage without = window->tiles[t]->grab().toImage().convertToFormat(QImage::Format_RGB32);
            caption->setText(text);
            QCOMPARE(with.size(), without.size());
            int ink = 0, offFace = 0, onPicture = 0, brightest = 0;
            for (int y = 0; y < with.height(); ++y)
                for (int x = 0; x < with.width(); ++x) {
                    if (with.pixel(x, y) == without.pixel(x, y))
                        continue;
                    ++ink;
                    offFace += !face.adjusted(2, 2, -2, -2).contains(x, y);
                    // The face is black where nothing is drawn; the picture is grey.
                    onPicture += qGray(without.pixel(x, y)) > 24;
                    brightest = std::max(brightest, qGray(with.pixel(x, y)));
                }
            QVERIFY2(ink > 200, qPrintable(QString::number(ink)));
            QCOMPARE(offFace, 0);
            QCOMPARE(onPicture, 0);
            QVERIFY(brightest >= 0x60);
        }
        // The long name is cut on the face and given whole in the tooltip.
        QTextDocument doc;
        doc.setHtml(window->tileLabels[1]->text());
        QVERIFY(doc.toPlainText().startsWith("A-VERY-LONG"));
        QVERIFY(doc.toPlainText().contains(QChar(0x2026)));
        QCOMPARE(window->tileLabels[1]->toolTip(), longName);
        QCOMPARE(window->tileLabels[0]->toolTip(), shortName);
        QCOMPARE(window->tileLabels[2]->toolTip(), QString());
        window->favouritesOverlay->hide();
    }

    void popupsDrawTheirOwnOpaqueBackground()
    {
        // A loud backdrop under every popup: whatever of it shows through was not drawn.
        const QColor loud(255, 0, 255);
        QWidget backdrop(nullptr, Qt::FramelessWindowHint);
        backdrop.setAutoFillBackground(true);
        QPalette palette = backdrop.palette();
        palette.setColor(QPalette::Window, loud);
        backdrop.setPalette(palette);
        backdrop.setGeometry(0, 0, W, H);
        backdrop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));

        // Colours of what the X server shows in rect, most frequent first.
        auto colours = [](const QRect& rect) {
            QTest::qWait(200);
            const QImage shot = QGuiApplication::primaryScreen()
                                    ->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
                                    .toImage();
            QHash<QRgb, int> counts;
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x)
                    ++counts[shot.pixel(x, y) & 0xffffff];
            return counts;
        };
        auto mostFrequent = [](const QHash<QRgb, int>& counts) {
            QRgb best = 0;
            for (auto it = counts.begin(); it != counts.end(); ++it)
                if (it.value() > counts.value(best))
                    best = it.key();
            return best;
        };

        // The tooltip of a long source name, as its row shows it on hover.
        const QString longName = "A-VERY-LONG-MACHINE-NAME-FOR-THE-STUDIO (Program output with a long stream name)";
        window->refreshTimer.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!window->finderThread.isRunning(), 30000);
        QCoreApplication::sendPostedEvents();
        window->slotAddNDISources({longName}, {"10.0.0.9:5961"});
        MarqueeLabel* row = window->nameLabels[0];
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(row, &enter);
        QCOMPARE(row->toolTip(), longName);
        QToolTip::showText(QPoint(W / 8, H / 8), row->toolTip(), row);
        QWidget* tip = nullptr;
        QTRY_VERIFY((tip = [] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->inherits("QTipLabel") && top->isVisible())
                    return top;
            return static_cast<QWidget*>(nullptr);
        }()) != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(tip));
        // Opaque also where a compositor would honour a window opacity.
        const auto opacity = testsupport::runProcess(
            {"xprop", "-id", std::to_string(tip->windowHandle()->winId()), "_NET_WM_WINDOW_OPACITY"});
        QVERIFY2(opacity.out.find("not found") != std::string::npos || opacity.out.find("4294967295") != std::string::npos,
                 (opacity.out + opacity.err).c_str());
        const QHash<QRgb, int> tipColours = colours(tip->frameGeometry());
        QCOMPARE(tipColours.value(loud.rgb() & 0xffffff), 0);
        QCOMPARE(mostFrequent(tipColours), QRgb(0x222222));
        QVERIFY(tipColours.value(0xffffff) > 50);
        QVERIFY(tip->isVisible());
        QToolTip::hideText();
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(row, &leave);

        // The screen-mode drop-down list.
        QComboBox* combo = window->ui->comboScreenResolution;
        combo->clear();
        combo->addItems({"1920x1080p60", "1920x1080p50", "3840x2160p30"});
        combo->setEnabled(true);
        window->ui->stackedWidget->setCurrentIndex(1);
        combo->showPopup();
        QWidget* list = combo->view()->window();
        QTRY_VERIFY(list->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(list));
        const QHash<QRgb, int> listColours = colours(list->frameGeometry());
        QCOMPARE(listColours.value(loud.rgb() & 0xffffff), 0);
        QVERIFY(listColours.value(0x121212) > list->width() * list->height() / 2);
        QVERIFY(listColours.value(0xffffff) > 50);
        combo->hidePopup();
        window->ui->stackedWidget->setCurrentIndex(0);
    }

    void f1EndsTheEventLoop()
    {
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(20000);
        QTimer::singleShot(0, window.get(), [this] { QTest::keyRelease(window.get(), Qt::Key_F1); });
        QCOMPARE(QCoreApplication::exec(), 0);
        guard.stop();
    }
};

int main(int argc, char** argv)
{
    const std::string scenario = R"json({"sources": [
        {"name": "STUDIO-PC (Camera 1)", "url": "10.0.0.2:5961"},
        {"name": "EDIT-BAY (Program)", "url": "10.0.0.3:5961"}]})json";
    return guitest::run(argc, argv, scenario, [] { return new WindowTest; });
}

#include "window_test.moc"
