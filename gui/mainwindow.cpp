// Construction of the main window: metric sets, styles, the widgets it makes, wiring and
// start-up; the event filter, the tooltip and the destruction.
#include "gui/mainwindow.h"

#include "common/helpers.h"
#include "gui/clickablelabel.h"
#include "gui/marqueelabel.h"
#include "gui/ndisourcefinder.h"
#include "gui/overlaywidget.h"
#include "gui/transparentlabel.h"
#include "ui_mainwindow.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalMapper>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cmath>

int screen_width = 0;
int screen_height = 0;
QString strBtnEnableStyle;
QString strBtnDisableStyle;

namespace {

// Qt's rectangle from inclusive edges.
QRect edges(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

struct Metrics {
    int margin;          // M
    int button;          // L
    int gap;             // K
    int logoRight;
    int logoBottom;
    int titleFont;
    int sideBar;         // J, also the inner tile width
    int listLeft;        // E
    int listTop;         // D
    int listWidth;       // C
    int listHeightLess;  // the list is H minus this high
    int tileInner;       // I
    int tileBorder;      // G
    int tileSpacing;     // F
    int dot;             // P, also the tile caption font size
    int nameWidth;
    int nameHeight;
    int star;
    int rowShift;
    int choiceFont;
    int choiceRadius;
    int choiceHover;
};

// A place or size of the form at the given scale, rounded.
int scaled(int length, double scale)
{
    return int(std::lround(length * scale));
}

// A length of a style sheet at the given scale, cut down (never rounded up, so a corner
// radius cannot outgrow its shrunk control); at least 1.
int shrunk(int length, double scale)
{
    return qMax(1, int(length * scale));
}

// The selected and the unselected choice button's style sheets.
void setChoiceStyles(int font, int radius, int hover)
{
    const QString fontText = "font-family:Lato;font-weight:bold;font-size:" + QString::number(font) + "px;";
    const QString corner = "border-radius:" + QString::number(radius) + "px;";
    const QString hoverBorder = "QPushButton:hover { border: " + QString::number(hover) + "px solid #ffffff; }";
    strBtnEnableStyle = "QPushButton {" + QString("color:#ffffff;") + "background-color:#22b24c;" + corner +
                        fontText + "}" + hoverBorder;
    strBtnDisableStyle = "QPushButton {" + QString("color:#707070;") + "background-color:#121212;" + corner +
                         fontText + "}" + hoverBorder;
}

constexpr Metrics kSmall{31, 60, 15, 278, 100, 27, 384, 43, 260, 326, 284, 216, 5, 22, 32, 205, 30, 25, 160, 24, 20, 2};
constexpr Metrics kLarge{62, 120, 30, 557, 201, 54, 768, 86, 420, 652, 469, 432, 10, 44, 64, 410, 60, 50, 340, 48, 40, 4};

// Scale of the large set's settings page on a screen of W x H: 1 where the form's page,
// drawn for 3840 x 2160, fits; less where it would run past the right or the bottom edge.
// Below the logo, which keeps its size, the page needs 1711 of the form's pixels: 48 above
// the frames, 1601 for the status rows and the restart buttons, 62 below.
double largeSettingsScale(int W, int H)
{
    // Never below a quarter: on a screen that small nothing fits anyway.
    return std::max(0.25, std::min({1.0, W / 3840.0, (H - kLarge.logoBottom - 1) / 1711.0}));
}

const char* const kScrollStyle =
    "QScrollArea{border-style:inset;}"
    "QScrollBar:vertical{background:#121212;width:44px;border-radius:22px;}"
    "QScrollBar::handle:vertical{background:#282828;border-radius:18px;max-width:36px;margin:4px 4px 4px 4px;}"
    "QScrollBar::add-line:vertical,QScrollBar::sub-line:vertical{height:0px;}"
    "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical{height:0px;}";

} // namespace

// The status rows of the settings page, title and value, top to bottom.
std::array<std::array<QLabel*, 2>, 10> MainWindow::settingsStatusRows() const
{
    return {{
        {{ui->lblCurScreenNameTitle_setting, ui->lblCurScreenName}},
        {{ui->lblCurIPAddressTitle_setting, ui->lblCurIPAddress}},
        {{ui->lblCurIPConfigurationTitle_setting, ui->lblCurIPConfiguration}},
        {{ui->lblCurOperatingModeTitle_setting, ui->lblCurOperatingMode}},
        {{ui->lblCurScreenResolutionTitle_setting, ui->lblCurScreenResolution}},
        {{ui->lblCurNDIDecodeResolutionTitle_setting, ui->lblCurNDIDecodeResolution}},
        {{ui->lblCurNDIEncodeResolutionTitle_setting, ui->lblCurNDIEncodeResolution}},
        {{ui->lblCurSerialNumberTitle_setting, ui->lblCurSerialNumber}},
        {{ui->lblCurAppVersionTitle_setting, ui->lblCurAppVersion}},
        {{ui->lblCurNDILibVersionTitle_setting, ui->lblCurNDILibVersion}},
    }};
}

void MainWindow::layOutSmallSettings(const QString& fontText)
{
    const int W = screen_width;
    const int H = screen_height;
    const int t = (W - 1875) / 2;
    Ui_MainWindow* u = ui;

    u->lblLogoSetting->setGeometry(edges(kSmall.margin, kSmall.margin, kSmall.logoRight, kSmall.logoBottom));
    u->frmStatusSection_setting->setGeometry(edges(30, 125, 789, H - 31));
    u->frmSettingSection_setting->setGeometry(edges(820, 125, W - 31, H - 31));
    u->lblStatusSectionTitle_setting->setGeometry(edges(40, 40, 439, 79));
    u->lblSettingSectionTitle_setting->setGeometry(edges(40, 40, 439, 79));

    const auto statusRows = settingsStatusRows();
    for (int k = 0; k < 10; ++k) {
        statusRows[k][0]->setGeometry(edges(40, 110 + 55 * k, 439, 149 + 55 * k));
        statusRows[k][1]->setGeometry(edges(440, 110 + 55 * k, 684, 149 + 55 * k));
        statusRows[k][0]->setStyleSheet("color:#707070;" + fontText);
        statusRows[k][1]->setStyleSheet("color:#707070;" + fontText);
    }
    u->btnRestartDevice->setGeometry(edges(40, H - 291, 269, H - 252));
    u->btnRestartVideo->setGeometry(edges(40, H - 236, 269, H - 197));

    const int columns[3][2] = {{440, 609}, {t + 610, t + 779}, {2 * t + 780, 2 * t + 949}};
    auto title = [&](QLabel* label, int y) { label->setGeometry(edges(40, y, 439, y + 39)); };
    auto choice = [&](QWidget* button, int y, int column) {
        button->setGeometry(edges(columns[column][0], y, columns[column][1], y + 39));
    };
    auto wide = [&](QWidget* field, int y) { field->setGeometry(edges(440, y, W - 926, y + 39)); };

    title(u->lblOperationTitle_setting, 110);
    title(u->lblOperationModeTitle_setting, 165);
    choice(u->btnOperatingModeEncode, 165, 0);
    choice(u->btnOperatingModeDecode, 165, 1);
    title(u->lblScreenResolutionTitle_setting, 220);
    wide(u->comboScreenResolution, 220);
    title(u->lblDisplayModeTitle_setting, 275);
    wide(u->comboDisplayMode, 275);
    title(u->lblNoVideoSrcBehaviourTitle_setting, 330);
    choice(u->btnNoVideoSrcBehaviourStandard, 330, 0);
    choice(u->btnNoVideoSrcBehaviourBack, 330, 1);
    choice(u->btnNoVideoSrcBehaviourCustom, 330, 2);
    title(u->lblDanteAudioTitle_setting, 385);
    choice(u->btnDanteAudioEnable, 385, 0);
    choice(u->btnDanteAudioDisable, 385, 1);
    title(u->lblNetworkTitle_setting, 455);
    title(u->lblScreenNameTitle_setting, 510);
    wide(u->lineEditScreenName, 510);
    title(u->lblIPConfigurationTitle_setting, 565);
    choice(u->btnIPConfigurationDhcp, 565, 0);
    choice(u->btnIPConfigurationStatic, 565, 1);
    title(u->lblIPAddressTitle_setting, 620);
    wide(u->lineEditIPAddress, 620);
    title(u->lblIPSubnetTitle_setting, 675);
    wide(u->lineEditIPSubnet, 675);
    title(u->lblIPGatewayTitle_setting, 730);
    wide(u->lineEditIPGateway, 730);
    title(u->lblSecurityTitle_setting, 800);
    choice(u->btnSecurityEnabled, 800, 0);
    choice(u->btnSecurityDisabled, 800, 2);
    title(u->lblPINTitle_setting, 855);
    wide(u->lineEditPIN, 855);
    u->btnPINShow->setGeometry(edges(W - 975, 855, W - 936, 894));

    u->lblStatusSectionTitle_setting->setStyleSheet("color:#22b24c;" + fontText);
    u->lblSettingSectionTitle_setting->setStyleSheet("color:#22b24c;" + fontText);
    for (QLabel* group : {u->lblOperationTitle_setting, u->lblNetworkTitle_setting, u->lblSecurityTitle_setting})
        group->setStyleSheet("color:#c8c8c8;" + fontText);
    for (QLabel* label : {u->lblOperationModeTitle_setting, u->lblScreenResolutionTitle_setting,
                          u->lblDisplayModeTitle_setting, u->lblNoVideoSrcBehaviourTitle_setting,
                          u->lblDanteAudioTitle_setting, u->lblScreenNameTitle_setting,
                          u->lblIPConfigurationTitle_setting, u->lblIPAddressTitle_setting,
                          u->lblIPSubnetTitle_setting, u->lblIPGatewayTitle_setting, u->lblPINTitle_setting})
        label->setStyleSheet("color:#707070;" + fontText);
    const QString radius4 = "border-radius:" + QString::number(4) + "px;";
    const QString comboStyle = "QComboBox {" + QString("color:#505050;") + "background-color:#121212;" + radius4 +
                               fontText + "}" + "QComboBox::drop-down { width:" + QString::number(40) +
                               "px; height:" + QString::number(40) + "px; border-width: 0px;}" +
                               "QComboBox::down-arrow { width:" + QString::number(12) + "px; height:" +
                               QString::number(12) + ";image: url(:/icons/down_arrow);}";
    u->comboScreenResolution->setStyleSheet(comboStyle);
    u->comboDisplayMode->setStyleSheet(comboStyle);
    for (QWidget* edit : {static_cast<QWidget*>(u->lineEditScreenName), static_cast<QWidget*>(u->lineEditIPAddress),
                          static_cast<QWidget*>(u->lineEditIPSubnet), static_cast<QWidget*>(u->lineEditIPGateway),
                          static_cast<QWidget*>(u->lineEditPIN)})
        edit->setStyleSheet("background-color:#121212;" + radius4 + "color:#505050;" + fontText);
    for (QPushButton* button : {u->btnRestartDevice, u->btnRestartVideo, u->btnOperatingModeDecode,
                                u->btnNoVideoSrcBehaviourStandard, u->btnDanteAudioEnable,
                                u->btnIPConfigurationDhcp, u->btnSecurityDisabled})
        button->setStyleSheet(strBtnEnableStyle);
    for (QPushButton* button : {u->btnOperatingModeEncode, u->btnNoVideoSrcBehaviourBack,
                                u->btnNoVideoSrcBehaviourCustom, u->btnDanteAudioDisable,
                                u->btnIPConfigurationStatic, u->btnSecurityEnabled})
        button->setStyleSheet(strBtnDisableStyle);
}

// The small layout's columns come from the screen width and its rows from fixed places;
// below about 1874 x 946 they run into each other, past the frame or to negative widths.
// There the same rows and columns are spread over what the screen has: the frames side by
// side (or one above the other on a portrait screen), columns and row pitch clamped so
// that every control keeps a positive size and none covers another.
void MainWindow::fitSettingsToScreen()
{
    const int W = screen_width;
    const int H = screen_height;
    const bool narrow = W < 1874;
    const bool low = H < 946;
    if (!narrow && !low)
        return;
    Ui_MainWindow* u = ui;
    QFrame* statusFrame = u->frmStatusSection_setting;
    QFrame* settingsFrame = u->frmSettingSection_setting;

    // Frames: the page keeps its 30 px margins and the 30 px gap between them.
    const int top = 125;
    if (narrow && H > W) {
        const int statusHeight = qMin(812, (H - 31 - top - 30) / 2);
        statusFrame->setGeometry(edges(30, top, W - 31, top + statusHeight - 1));
        settingsFrame->setGeometry(edges(30, top + statusHeight + 30, W - 31, H - 31));
    } else if (narrow) {
        // Shared in the proportion the two frames have at 1920 px (760 : 1069).
        const int both = W - 91;
        const int statusWidth = both * 760 / 1829;
        statusFrame->setGeometry(edges(30, top, 30 + statusWidth - 1, H - 31));
        settingsFrame->setGeometry(edges(30 + statusWidth + 30, top, W - 31, H - 31));
    }
    const int SW = statusFrame->width();
    const int SH = statusFrame->height();
    const int FW = settingsFrame->width();
    const int FH = settingsFrame->height();

    // Status frame: ten rows from 110 down, the two restart buttons against the bottom.
    const int statusTitle = narrow ? qBound(120, SW * 55 / 100, 400) : 400;
    const int valueLeft = 40 + statusTitle;
    const int valueRight = narrow ? qMin(valueLeft + 244, SW - 21) : 684;
    const int pitch = qMin(55, (SH - 247) / 10);
    const int rowHeight = qMin(40, pitch - 4);
    const auto statusRows = settingsStatusRows();
    for (int k = 0; k < 10; ++k) {
        const int y = 110 + pitch * k;
        statusRows[k][0]->setGeometry(edges(40, y, valueLeft - 1, y + rowHeight - 1));
        statusRows[k][1]->setGeometry(edges(valueLeft, y, valueRight, y + rowHeight - 1));
    }
    const int restartRight = 40 + qMin(230, SW - 60) - 1;
    u->btnRestartDevice->setGeometry(edges(40, SH - 136, restartRight, SH - 97));
    u->btnRestartVideo->setGeometry(edges(40, SH - 81, restartRight, SH - 42));
    for (QLabel* title : {u->lblStatusSectionTitle_setting, u->lblSettingSectionTitle_setting}) {
        const int frameWidth = title->parentWidget()->width();
        title->setGeometry(edges(40, 40, 40 + qMin(400, frameWidth - 60) - 1, 79));
    }

    // Settings frame: a title column, then three button columns that the fields span.
    int titleRight = 439;
    int columns[3][2] = {{440, 609}, {632, 801}, {824, 993}};
    int fieldRight = 994;
    if (narrow) {
        // The title column as wide as its longest shown title, in the small set's font.
        QFont font("Lato");
        font.setBold(true);
        font.setPixelSize(24);
        const QFontMetrics metrics(font);
        int longest = 0;
        for (QLabel* title : settingsFrame->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            if (!title->isHidden() && title != u->lblSettingSectionTitle_setting)
                longest = qMax(longest, metrics.horizontalAdvance(title->text()));
        const int titleWidth = qBound(120, longest + 12, qMin(400, FW * 45 / 100));
        const int controls = FW - 40 - titleWidth - 20;
        const int gap = qBound(4, controls / 25, 22);
        const int button = qMin(170, (controls - 2 * gap) / 3);
        titleRight = 40 + titleWidth - 1;
        for (int c = 0; c < 3; ++c) {
            columns[c][0] = titleRight + 1 + c * (button + gap);
            columns[c][1] = columns[c][0] + button - 1;
        }
        fieldRight = columns[2][1];
    }
    // Rows keep their order and their places relative to each other, squeezed to the height.
    const double squeeze = qMin(1.0, (FH - 20 - 40 - 110) / 585.0);
    const int height = squeeze < 1.0 ? qMin(40, int(55 * squeeze) - 4) : 40;
    // Qt draws a corner radius beyond half the height square: rows lower than the radius
    // allows take a smaller one.
    if (2 * kSmall.choiceRadius > height) {
        const QString oldEnable = strBtnEnableStyle;
        const QString oldDisable = strBtnDisableStyle;
        setChoiceStyles(kSmall.choiceFont, height / 2, kSmall.choiceHover);
        for (QPushButton* button : u->stackedPageSetting->findChildren<QPushButton*>()) {
            if (button->styleSheet() == oldEnable)
                button->setStyleSheet(strBtnEnableStyle);
            else if (button->styleSheet() == oldDisable)
                button->setStyleSheet(strBtnDisableStyle);
        }
    }
    auto place = [&](QWidget* w, int left, int right) {
        if (!narrow) {
            left = w->x();
            right = w->geometry().right();
        }
        const int y = 110 + int((w->y() - 110) * squeeze);
        w->setGeometry(edges(left, y, right, y + height - 1));
    };
    for (QLabel* title : {u->lblOperationTitle_setting, u->lblOperationModeTitle_setting,
                          u->lblScreenResolutionTitle_setting, u->lblDisplayModeTitle_setting,
                          u->lblNoVideoSrcBehaviourTitle_setting, u->lblDanteAudioTitle_setting,
                          u->lblNetworkTitle_setting, u->lblScreenNameTitle_setting,
                          u->lblIPConfigurationTitle_setting, u->lblIPAddressTitle_setting,
                          u->lblIPSubnetTitle_setting, u->lblIPGatewayTitle_setting, u->lblSecurityTitle_setting,
                          u->lblPINTitle_setting})
        place(title, 40, titleRight);
    const struct {
        QPushButton* button;
        int column;
    } choices[] = {{u->btnOperatingModeEncode, 0},         {u->btnOperatingModeDecode, 1},
                   {u->btnNoVideoSrcBehaviourStandard, 0}, {u->btnNoVideoSrcBehaviourBack, 1},
                   {u->btnNoVideoSrcBehaviourCustom, 2},   {u->btnDanteAudioEnable, 0},
                   {u->btnDanteAudioDisable, 1},           {u->btnIPConfigurationDhcp, 0},
                   {u->btnIPConfigurationStatic, 1},       {u->btnSecurityEnabled, 0},
                   {u->btnSecurityDisabled, 2}};
    for (const auto& choice : choices)
        place(choice.button, columns[choice.column][0], columns[choice.column][1]);
    for (QWidget* field : {static_cast<QWidget*>(u->comboScreenResolution), static_cast<QWidget*>(u->comboDisplayMode),
                           static_cast<QWidget*>(u->lineEditScreenName), static_cast<QWidget*>(u->lineEditIPAddress),
                           static_cast<QWidget*>(u->lineEditIPSubnet), static_cast<QWidget*>(u->lineEditIPGateway),
                           static_cast<QWidget*>(u->lineEditPIN)})
        place(field, columns[0][0], fieldRight);
    // The eye sits over the right end of the PIN field, as on a wide screen.
    place(u->btnPINShow, fieldRight - 9 - height, fieldRight - 10);
}

// The large set's page on a screen that cannot hold the form's: every control of the two
// frames at its form place and size times scale, type and corner radii with it; the frames
// start below the logo and the top buttons, which keep their sizes, and reach the right and
// bottom margins; the restart buttons keep to the bottom of the status frame.
void MainWindow::shrinkLargeSettings(double scale)
{
    const int W = screen_width;
    const int H = screen_height;
    Ui_MainWindow* u = ui;
    QFrame* statusFrame = u->frmStatusSection_setting;
    QFrame* settingsFrame = u->frmSettingSection_setting;
    const int designHeight = statusFrame->height();
    auto scaledEdges = [scale](const QRect& r) {
        return edges(scaled(r.left(), scale), scaled(r.top(), scale), scaled(r.right() + 1, scale) - 1,
                     scaled(r.bottom() + 1, scale) - 1);
    };
    // Pixel lengths of a style sheet (type, radii, borders, the drop-down), scaled.
    static const QRegularExpression pixels("(\\d+)px");
    auto scaledSheet = [scale](QString sheet) {
        QString out;
        int last = 0;
        for (auto it = pixels.globalMatch(sheet); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            out += sheet.mid(last, match.capturedStart() - last);
            out += QString::number(shrunk(match.captured(1).toInt(), scale)) + "px";
            last = match.capturedEnd();
        }
        return out + sheet.mid(last);
    };

    const int top = kLarge.logoBottom + 1 + scaled(48, scale);
    const int bottom = H - scaled(62, scale);
    const QRect status = statusFrame->geometry();
    statusFrame->setGeometry(edges(scaled(status.left(), scale), top, scaled(status.right() + 1, scale) - 1, bottom));
    settingsFrame->setGeometry(edges(scaled(settingsFrame->x(), scale), top, W - scaled(62, scale), bottom));

    for (QFrame* frame : {statusFrame, settingsFrame}) {
        frame->setStyleSheet(scaledSheet(frame->styleSheet()));
        for (QWidget* w : frame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            QRect place = scaledEdges(w->geometry());
            if (w == u->btnRestartDevice || w == u->btnRestartVideo) {
                // As far above the frame's bottom as in the form, scaled.
                const int up = scaled(designHeight - w->y(), scale);
                place.moveTop(frame->height() - up);
            }
            w->setGeometry(place);
            w->setStyleSheet(scaledSheet(w->styleSheet()));
        }
    }
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    // The pictures live in this static library; pull them in.
    Q_INIT_RESOURCE(resources);
    for (int& index : favouriteSourceIndex)
        index = -1;

    initDebugSwitch();

    ui->setupUi(this);
    loadForFavourites();
    ui->menuBar->hide();
    ui->mainToolBar->hide();
    ui->statusBar->hide();
    ui->lblLogo->hide();

    screenRect = QGuiApplication::primaryScreen()->geometry();
    screen_width = screenRect.width();
    screen_height = screenRect.height();
    const bool small = screen_width <= 1920;
    const Metrics& m = small ? kSmall : kLarge;
    const int W = screen_width;
    const int H = screen_height;

    ui->lblLogo->setGeometry(edges(m.margin, m.margin, m.logoRight, m.logoBottom));
    ui->lblSrcListTitle->setGeometry(edges(m.listLeft, m.margin + m.button + 15, m.sideBar - 1, m.listTop - 56));
    ui->lblSrcListTitle->setStyleSheet("QLabel{color:rgb(255,255,255);font-family:Lato;font-weight:bold;font-size:" +
                                       QString::number(m.titleFont) + "px;}");
    ui->lineSrcListSeperator->setGeometry(
        edges(m.listLeft, m.listTop - 40, m.sideBar - m.listLeft - 1, m.listTop - 37));

    // The large set's settings page is the form's, drawn for 3840 x 2160; on a screen that
    // cannot hold it the page is shrunk as a whole, its type with it.
    const double settingsScale = small ? 1.0 : largeSettingsScale(W, H);
    const int choiceFont = shrunk(m.choiceFont, settingsScale);
    const int choiceRadius = shrunk(m.choiceRadius, settingsScale);
    const int choiceHover = shrunk(m.choiceHover, settingsScale);
    const QString fontText = "font-family:Lato;font-weight:bold;font-size:" + QString::number(choiceFont) + "px;";
    setChoiceStyles(choiceFont, choiceRadius, choiceHover);
    if (small)
        layOutSmallSettings(fontText);

    for (QWidget* hidden : {static_cast<QWidget*>(ui->lblDisplayModeTitle_setting),
                            static_cast<QWidget*>(ui->comboDisplayMode),
                            static_cast<QWidget*>(ui->lblNoVideoSrcBehaviourTitle_setting),
                            static_cast<QWidget*>(ui->btnNoVideoSrcBehaviourStandard),
                            static_cast<QWidget*>(ui->btnNoVideoSrcBehaviourBack),
                            static_cast<QWidget*>(ui->btnNoVideoSrcBehaviourCustom),
                            static_cast<QWidget*>(ui->lblDanteAudioTitle_setting),
                            static_cast<QWidget*>(ui->btnDanteAudioEnable),
                            static_cast<QWidget*>(ui->btnDanteAudioDisable)})
        hidden->hide();
    for (QWidget* lower : {static_cast<QWidget*>(ui->lblNetworkTitle_setting),
                           static_cast<QWidget*>(ui->lblScreenNameTitle_setting),
                           static_cast<QWidget*>(ui->lineEditScreenName),
                           static_cast<QWidget*>(ui->lblIPConfigurationTitle_setting),
                           static_cast<QWidget*>(ui->btnIPConfigurationDhcp),
                           static_cast<QWidget*>(ui->btnIPConfigurationStatic),
                           static_cast<QWidget*>(ui->lblIPAddressTitle_setting),
                           static_cast<QWidget*>(ui->lineEditIPAddress),
                           static_cast<QWidget*>(ui->lblIPSubnetTitle_setting),
                           static_cast<QWidget*>(ui->lineEditIPSubnet),
                           static_cast<QWidget*>(ui->lblIPGatewayTitle_setting),
                           static_cast<QWidget*>(ui->lineEditIPGateway),
                           static_cast<QWidget*>(ui->lblSecurityTitle_setting),
                           static_cast<QWidget*>(ui->btnSecurityEnabled),
                           static_cast<QWidget*>(ui->btnSecurityDisabled),
                           static_cast<QWidget*>(ui->lblPINTitle_setting),
                           static_cast<QWidget*>(ui->lineEditPIN), static_cast<QWidget*>(ui->btnPINShow)})
        lower->move(lower->x(), lower->y() - m.rowShift);

    if (small)
        fitSettingsToScreen();
    else if (settingsScale < 1.0)
        shrinkLargeSettings(settingsScale);
    // The drop-down lists are windows of their own, outside the combo boxes' style sheets:
    // without these they draw their text on whatever lies below them.
    // The list's own delegate, so that its items take these colours and not the box's.
    for (QComboBox* combo : {ui->comboScreenResolution, ui->comboDisplayMode}) {
        combo->setItemDelegate(new QStyledItemDelegate(combo));
        combo->view()->window()->setStyleSheet(
            "QFrame{background-color:#121212;border:none;}"
            "QAbstractItemView{background-color:#121212;color:#ffffff;selection-background-color:#22b24c;"
            "selection-color:#ffffff;outline:0;" +
            fontText + "}QAbstractItemView::item{padding:4px 8px;}");
    }

    loadStateForSettings();

    ui->stackedWidget->setGeometry(screenRect);
    ui->lblForMouse->setGeometry(screenRect);
    ui->lblVideoWindow->setGeometry(screenRect);
    ui->stackedWidget->setCurrentIndex(0);
    const bool landscape = W > H;
    if (!small)
        ui->lblVideoWindow->setStyleSheet(landscape ? "border-image:url(:/images/bg_3840x2160) 0 0 0 0 stretch stretch;"
                                                    : "border-image:url(:/images/bg_2160x3840) 0 0 0 0 stretch stretch;");
    else
        ui->lblVideoWindow->setStyleSheet(landscape ? "border-image:url(:/images/bg_1920x1080) 0 0 0 0 stretch stretch;"
                                                    : "border-image:url(:/images/bg_1080x1920) 0 0 0 0 stretch stretch;");

    const int L = m.button;
    const int M = m.margin;
    const int K = m.gap;
    ui->btnSrcList->setGeometry(W - L - M, M, L, L);
    ui->btnSrcListSetting->setGeometry(W - L - M, M, L, L);
    ui->btnFavourite->setGeometry(W - 2 * L - M - K, M, L, L);
    ui->btnFavouriteSetting->setGeometry(W - 2 * L - M - K, M, L, L);
    ui->btnSetting->setGeometry(W - 3 * L - M - 2 * K, M, L, L);
    ui->btnCloseSetting->setGeometry(W - 3 * L - M - 2 * K, M, L, L);
    ui->btnCloseFavourite->setGeometry(M, M, L, L);
    ui->btnClose->hide();
    ui->frameSrcSideBar->hide();

    const int J = m.sideBar;
    // The grid of six tiles, three a row; shrunk as a whole where the screen is narrower than
    // the metric set's grid or too low to keep it clear of the top buttons (a portrait
    // screen, a large-set screen under 2540 x 1420), so that every tile stays on the screen
    // and leaves the buttons free.
    int tileInnerWidth = J;
    int tileInnerHeight = m.tileInner;
    int G = m.tileBorder;
    int F = m.tileSpacing;
    int P = m.dot;
    int gridMargin = K;
    {
        const int TW = J + 2 * G;
        const int TH = m.tileInner + 2 * G;
        const double fit = std::max(
            0.1, std::min({1.0, double(W) / (3 * TW + 4 * F), double(H - 2 * (M + L)) / (P + 2 * TH + 2 * F)}));
        if (fit < 1.0) {
            tileInnerWidth = int(J * fit);
            tileInnerHeight = tileInnerWidth * m.tileInner / J;
            G = qMax(1, int(G * fit));
            F = int(F * fit);
            P = qMax(1, int(P * fit));
            gridMargin = int(K * fit);
        }
    }
    const int TW = tileInnerWidth + 2 * G;
    const int TH = tileInnerHeight + 2 * G;
    tileFace = QRect(G, G, tileInnerWidth, tileInnerHeight);
    tileFaceGrown = QRect(0, 0, TW, TH);
    tileCaptionSize = P;
    favouritesOverlay = new OverlayWidget(this);
    favouritesOverlay->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const int overlayWidth = 3 * TW + 4 * F;
    const int overlayHeight = P + 2 * TH + 2 * F + 2 * gridMargin;
    favouritesOverlay->setGeometry((W - (3 * TW + 2 * F)) / 2 - F, (H - overlayHeight) / 2, overlayWidth,
                                   overlayHeight);
    favouritesOverlay->hide();
    // The tiles' tooltips (a cut name in full) on the page's dark, not the window's grey.
    favouritesOverlay->setStyleSheet("QToolTip{color:#ffffff;background-color:#222222;border:1px solid #707070;"
                                     "font:bold " +
                                     QString::number(small ? 30 : 60) + "px Lato;}");
    // Full screen is only a wish to a window manager; without one the window would keep
    // the form's size. Cover the screen ourselves.
    setGeometry(screenRect);
    showFullScreen();

    tooltipLabel = new QLabel(this);
    tooltipLabel->setFont(QFont("Lato", 20, QFont::Bold));
    tooltipLabel->setText("");
    tooltipLabel->setStyleSheet("border-radius:10px;color:#ffffff;background:rgba(0,255,0,50);");
    tooltipLabel->setAlignment(Qt::AlignCenter);
    tooltipLabel->hide();

    tiles = new OverlayWidget*[kTiles];
    tileButtons = new QPushButton*[kTiles];
    tileRects = new QRect[kTiles];
    tileLabels = new ClickableLabel*[kTiles];
    auto* tileGrid = new QGridLayout;
    tileGrid->setContentsMargins(F - 1, gridMargin, F - 1, gridMargin);
    tileGrid->setSpacing(F);
    for (int i = 0; i < kTiles; ++i) {
        const int column = i % 3;
        const int row = i / 3;
        tiles[i] = new OverlayWidget;
        const int left = (tileInnerWidth + F) * column + F;
        const int top = (F + TH) * row + gridMargin;
        tileRects[i] = edges(left, top, left + TW, top + TH);
        tiles[i]->setGeometry(tileRects[i]);
        tileButtons[i] = new QPushButton(tiles[i]);
        tileButtons[i]->setFocusPolicy(Qt::NoFocus);
        tileLabels[i] = new ClickableLabel(tiles[i]);
        // The caption sits in the lower part of the face, below the picture, on its black.
        tileLabels[i]->setContentsMargins(0, 0, 0, 2 * G);
        tileLabels[i]->setFixedSize(TW, TH);
        tileLabels[i]->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        tileLabels[i]->setIndent(0);
        tileLabels[i]->setStyleSheet("QLabel{color:#707070;font-family:Lato;font-size:" + QString::number(P) +
                                     "px;}QLabel:hover{color:#ffffff;}");
        tileGrid->addWidget(tiles[i], row, column);
    }

    auto* dots = new OverlayWidget(favouritesOverlay);
    dots->setFixedSize(3 * TW + 2 * F, P);
    auto* dotRow = new QHBoxLayout(dots);
    dotRow->setContentsMargins(0, 0, 0, 0);
    dotRow->setSpacing(120);
    dotRow->addStretch();
    for (QPushButton*& dot : pageOptionButtons) {
        dot = new QPushButton;
        dot->setFocusPolicy(Qt::NoFocus);
        dot->setFixedSize(P, P);
        dotRow->addWidget(dot);
    }
    dotRow->addStretch();
    tileGrid->addWidget(dots, 2, 0, 1, 3);
    favouritesOverlay->setLayout(tileGrid);

    ui->frameSrcSideBar->setGeometry(edges(W - J, 0, W - 1, H - 1));
    ui->scrollAreaSources->setGeometry(
        edges(m.listLeft, m.listTop, m.listLeft + m.listWidth - 1, m.listTop + (H - m.listHeightLess) - 1));
    ui->scrollAreaSources->setStyleSheet(kScrollStyle);

    for (int i = 0; i < kSourceRows; ++i) {
        isFavouriteRow[i] = 0;
        favouriteSourceIndex[i] = -1;
    }
    favouriteCount = 0;
    starLabels = new TransparentLabel*[kSourceRows]();
    nameLabels = new MarqueeLabel*[kSourceRows]();

    auto* rows = new QWidget;
    ui->scrollAreaSources->setWidget(rows);
    sourceGrid = new QGridLayout(rows);
    for (int i = 0; i < kSourceRows; ++i) {
        starLabels[i] = new TransparentLabel(rows);
        starLabels[i]->setFixedSize(m.star, m.star);
        starLabels[i]->setStyleSheet("");
        nameLabels[i] = new MarqueeLabel(rows);
        nameLabels[i]->setFixedSize(m.nameWidth, m.nameHeight);
        nameLabels[i]->setStyleSheet("");
        sourceGrid->addWidget(starLabels[i], i, 0);
        sourceGrid->addWidget(nameLabels[i], i, 1);
        starLabels[i]->hide();
        nameLabels[i]->hide();
        nameLabels[i]->setText("");
    }

    auto* mapper = new QSignalMapper(this);
    // mappedInt is Qt 5.15's name of mapped(int).
    connect(mapper, &QSignalMapper::mappedInt, this, &MainWindow::favouriteIconClicked);
    for (int i = 0; i < kSourceRows; ++i) {
        connect(starLabels[i], &TransparentLabel::clicked, mapper, qOverload<>(&QSignalMapper::map));
        mapper->setMapping(starLabels[i], i);
        connect(nameLabels[i], &MarqueeLabel::clicked, mapper, qOverload<>(&QSignalMapper::map));
        mapper->setMapping(nameLabels[i], i);
        connect(nameLabels[i], &MarqueeLabel::showTooltip, this, &MainWindow::showTooltipMain);
        connect(nameLabels[i], &MarqueeLabel::hideTooltip, this, &MainWindow::hideTooltipMain);
    }
    connect(this, &MainWindow::favouriteIconClicked, this, &MainWindow::slotFavouriteIconClicked);

    initNDI();
    refreshTimer.start(20000);
    connect(&refreshTimer, &QTimer::timeout, this, &MainWindow::slotRefreshNDISources);

    connect(ui->btnClose, &QPushButton::released, this, &MainWindow::slotClickedBtnClose);
    connect(ui->btnFavourite, &QPushButton::released, this, &MainWindow::slotClickedBtnFavourite);
    connect(ui->btnFavouriteSetting, &QPushButton::released, this, &MainWindow::slotClickedBtnFavourite);
    connect(ui->btnSetting, &QPushButton::released, this, &MainWindow::slotClickedBtnSetting);
    connect(ui->btnSrcList, &QPushButton::released, this, &MainWindow::slotClickedBtnSrcList);
    connect(ui->btnCloseFavourite, &QPushButton::released, this, &MainWindow::slotClickedBtnSrcList);
    connect(ui->btnSrcListSetting, &QPushButton::released, this, &MainWindow::slotClickedBtnSrcList);
    connect(ui->btnCloseSetting, &QPushButton::released, this, &MainWindow::slotClickedBtnCloseSetting);
    void (MainWindow::*const tileSlots[kTiles])() = {
        &MainWindow::slotClickedSrc0, &MainWindow::slotClickedSrc1, &MainWindow::slotClickedSrc2,
        &MainWindow::slotClickedSrc3, &MainWindow::slotClickedSrc4, &MainWindow::slotClickedSrc5};
    for (int i = 0; i < kTiles; ++i) {
        connect(tileButtons[i], &QPushButton::released, this, tileSlots[i]);
        connect(tileLabels[i], &ClickableLabel::clicked, this, tileSlots[i]);
    }
    connect(pageOptionButtons[0], &QPushButton::released, this, &MainWindow::slotClickedPageOption0);
    connect(pageOptionButtons[1], &QPushButton::released, this, &MainWindow::slotClickedPageOption1);
    connect(pageOptionButtons[2], &QPushButton::released, this, &MainWindow::slotClickedPageOption2);
    connect(ui->btnOperatingModeEncode, &QPushButton::released, this, &MainWindow::slotClickedOperationModeEncode);
    connect(ui->btnOperatingModeDecode, &QPushButton::released, this, &MainWindow::slotClickedOperationModeDecode);
    connect(ui->btnNoVideoSrcBehaviourStandard, &QPushButton::released, this,
            &MainWindow::slotClickedNoVideoSrcBehabiourStandard);
    connect(ui->btnNoVideoSrcBehaviourBack, &QPushButton::released, this,
            &MainWindow::slotClickedNoVideoSrcBehabiourBack);
    connect(ui->btnNoVideoSrcBehaviourCustom, &QPushButton::released, this,
            &MainWindow::slotClickedNoVideoSrcBehabiourCustom);
    connect(ui->btnIPConfigurationDhcp, &QPushButton::released, this, &MainWindow::slotClickedIPConfigurationDhcp);
    connect(ui->btnIPConfigurationStatic, &QPushButton::released, this,
            &MainWindow::slotClickedIPConfigurationStatic);
    connect(ui->btnDanteAudioEnable, &QPushButton::released, this, &MainWindow::slotClickedDanteAudioEnable);
    connect(ui->btnDanteAudioDisable, &QPushButton::released, this, &MainWindow::slotClickedDanteAudioDisable);
    connect(ui->comboScreenResolution, qOverload<int>(&QComboBox::activated), this,
            [this](int) { screenModeChosen = true; });
    connect(ui->btnPINShow, &QPushButton::released, this, &MainWindow::slotClickedPINShow);
    connect(ui->btnRestartDevice, &QPushButton::released, this, &MainWindow::slotClickedRestartDevice);
    connect(ui->btnRestartVideo, &QPushButton::released, this, &MainWindow::slotClickedRestartVideo);
    connect(ui->btnSecurityEnabled, &QPushButton::released, this, &MainWindow::slotClickedSecurityEnabled);
    connect(ui->btnSecurityDisabled, &QPushButton::released, this, &MainWindow::slotClickedSecurityDisabled);

    ui->lblVideoWindow->installEventFilter(this);
    ui->lblForMouse->installEventFilter(this);
    ui->lblVideoWindow->setMouseTracking(true);
    ui->lblForMouse->setMouseTracking(true);

    playingSource = -1;
    currentPage = 0;
    clickedTile = -1;
    focusedTile = 0;
    chosenSlot = -1;
    selectedSource();
    selectPage();

    startDetachedCommand("systemctl restart TarnvikRunner");
}

MainWindow::~MainWindow()
{
    // Destroying a running QThread aborts the program: end the discovery run and wait.
    refreshTimer.stop();
    if (finder != nullptr)
        finder->stop();
    finderThread.quit();
    finderThread.wait();
    delete finder;
    delete ui;
    delete[] tiles;
    delete[] tileButtons;
    delete[] tileRects;
    delete[] tileLabels;
    delete[] starLabels;
    delete[] nameLabels;
}

bool MainWindow::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::MouseMove)
        showSourceBar(static_cast<QMouseEvent*>(event));
    return false;
}

void MainWindow::showSourceBar(QMouseEvent*)
{
}

void MainWindow::showTooltipMain(QPoint pos, QString text)
{
    int x = pos.x() + ui->scrollAreaSources->x() + ui->frameSrcSideBar->x();
    const int y = pos.y() + ui->scrollAreaSources->y() + ui->frameSrcSideBar->y();
    const int w = QFontMetrics(tooltipLabel->font()).horizontalAdvance(text);
    const int right = geometry().right();
    if (x + w > right)
        x -= x + w - right + 50;
    tooltipLabel->setGeometry(edges(x, y, x + w + 9, y + tooltipLabel->font().pointSize() + 19));
    tooltipLabel->setText(text);
    tooltipLabel->show();
}

void MainWindow::hideTooltipMain()
{
    tooltipLabel->hide();
}

void startDetachedCommand(const QString& commandLine)
{
    QStringList parts = QProcess::splitCommand(commandLine);
    if (parts.isEmpty())
        return;
    const QString program = parts.takeFirst();
    QProcess::startDetached(program, parts);
}
