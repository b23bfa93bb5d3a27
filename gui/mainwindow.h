// The one window of decoder-ui: main page with the favourites overlay and the slide-in
// source list, and the status and settings page.
#pragma once

#include <array>

#include <QMainWindow>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>

class QGridLayout;
class QKeyEvent;
class QLabel;
class QMouseEvent;
class QPushButton;
class ClickableLabel;
class MarqueeLabel;
class NDISourceFinder;
class OverlayWidget;
class TransparentLabel;
class Ui_MainWindow;

// Size of the primary screen, set once by the window's constructor; 1920 px wide or less
// takes the small metric set.
extern int screen_width;
extern int screen_height;
// Style sheets of a selected (green) and an unselected choice button.
extern QString strBtnEnableStyle;
extern QString strBtnDisableStyle;

// Text of the NDI runtime's version.
QString GetNDIVersion();
// Hands a chosen source to the player: name and address files, then a player restart.
void display_video(QString name, QString url);
// Starts a command line detached (split as Qt splits it); the outcome is not looked at.
void startDetachedCommand(const QString& commandLine);

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kSourceRows = 18;
    static constexpr int kTiles = 6;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

    bool initNDI();
    void loadForFavourites();
    void saveForFavourites();
    void loadStateForSettings();
    void saveStateForSettings();
    void showSourceBar(QMouseEvent* event);
    void setPageOptionStyle();
    void disableSettings(bool disable);
    void setFavouriteButtonStyleAndNames();
    void selectPage();
    void selectedSource();
    void clickedSource();

signals:
    void favouriteIconClicked(int row);

public slots:
    void slotAddNDISources(QStringList foundNames, QStringList foundUrls);
    void slotRefreshNDISources();
    void slotFavouriteIconClicked(int row);
    void slotClickedBtnClose();
    void slotClickedBtnFavourite();
    void slotClickedBtnSrcList();
    void slotClickedSrc0();
    void slotClickedSrc1();
    void slotClickedSrc2();
    void slotClickedSrc3();
    void slotClickedSrc4();
    void slotClickedSrc5();
    void slotClickedPageOption0();
    void slotClickedPageOption1();
    void slotClickedPageOption2();
    void slotClickedBtnSetting();
    void slotClickedBtnCloseSetting();
    void slotClickedOperationModeEncode();
    void slotClickedOperationModeDecode();
    void slotClickedNoVideoSrcBehabiourStandard();
    void slotClickedNoVideoSrcBehabiourBack();
    void slotClickedNoVideoSrcBehabiourCustom();
    void slotClickedDanteAudioEnable();
    void slotClickedDanteAudioDisable();
    void slotClickedIPConfigurationDhcp();
    void slotClickedIPConfigurationStatic();
    void slotClickedPINShow();
    void slotClickedRestartDevice();
    void slotClickedRestartVideo();
    void slotClickedSecurityEnabled();
    void slotClickedSecurityDisabled();
    void showTooltipMain(QPoint pos, QString text);
    void hideTooltipMain();

protected:
    void keyReleaseEvent(QKeyEvent* event) override;

public:
    // Widgets and state, open to the pages' code and to the tests that drive the window.
    Ui_MainWindow* ui;
    NDISourceFinder* finder = nullptr;
    QTimer refreshTimer;
    QThread finderThread;
    QRect screenRect;
    int currentPage = 0;
    int clickedTile = -1;
    int focusedTile = 0;
    int chosenSlot = -1;
    int playingSource = -1;
    int isFavouriteRow[kSourceRows] = {};
    int favouriteCount = 0;
    int favouriteSourceIndex[kSourceRows];
    QStringList favourites;
    OverlayWidget* favouritesOverlay = nullptr;
    OverlayWidget** tiles = nullptr;
    QPushButton** tileButtons = nullptr;
    QRect* tileRects = nullptr;
    ClickableLabel** tileLabels = nullptr;
    int focusShown = 0;
    QPushButton* pageOptionButtons[3] = {};
    TransparentLabel** starLabels = nullptr;
    MarqueeLabel** nameLabels = nullptr;
    QLabel* tooltipLabel = nullptr;
    QGridLayout* sourceGrid = nullptr;
    int ipConfigFound = 0;
    int operationMode = 1;
    int noVideoSourceBehaviour = 0;
    int danteAudio = 0;
    int settingsLocked = 0;
    int ipConfigChosen = 0;
    // The user picked a screen mode since the status page filled the combo.
    bool screenModeChosen = false;

    // The GUI's own copies of the last source list drawn into the rows.
    QStringList names;
    QStringList urls;

    // A tile's face at rest and grown (the playing one), and its caption's font size: the
    // metric set's, or less where the screen cannot hold the grid of three by two.
    QRect tileFace;
    QRect tileFaceGrown;
    int tileCaptionSize = 0;

private:
    void layOutSmallSettings(const QString& fontText);
    void fitSettingsToScreen();
    void shrinkLargeSettings(double scale);
    std::array<std::array<QLabel*, 2>, 10> settingsStatusRows() const;
    void clickedTileSlot(int tile);
    void selectFavouritePage(int page);
};
