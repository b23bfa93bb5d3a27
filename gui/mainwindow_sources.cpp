// NDI discovery, the source rows, favourites and the favourite tiles.
#include "common/helpers.h"
#include "common/source_list.h"
#include "gui/clickablelabel.h"
#include "gui/mainwindow.h"
#include "gui/marqueelabel.h"
#include "gui/ndisourcefinder.h"
#include "gui/overlaywidget.h"
#include "gui/popups.h"
#include "gui/transparentlabel.h"
#include "ui_mainwindow.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QPropertyAnimation>
#include <QSettings>

#include <algorithm>
#include <string>
#include <vector>

namespace {

bool smallScreen()
{
    return screen_width <= 1920;
}

QString starStyle(bool favourite)
{
    return favourite ? "QLabel{border-image:url(:/icons/small_favourite_active);}"
                       "QLabel:hover{border-image:url(:/icons/small_favourite_active);}"
                     : "QLabel{border-image:url(:/icons/small_favourite_unactive);}"
                       "QLabel:hover{border-image:url(:/icons/small_favourite_hover);}";
}

QString nameStyle(bool favourite)
{
    const QString size = QString::number(smallScreen() ? 24 : 48);
    // A tooltip is a window of its own: without a background of its own it shows whatever
    // lies below it. The side bar's background under the white text.
    const QString tip = "QToolTip{color:#ffffff;background-color:#222222;border:1px;border-radius:5px;font:bold 30px "
                        "Lato;opacity:255;} ";
    if (favourite)
        return tip + "QLabel{color:#22b24c;font-family:Lato;font-weight:bold;font-size:" + size +
               "px;}QLabel:hover{color:#22b24c;}";
    return tip + "QLabel{color:#707070;font-family:Lato;font-weight:bold;font-size:" + size +
           "px;}QLabel:hover{color:#ffffff;}";
}

// The listed names and addresses as the finder's records, for the one source-list writer.
void writeSourceLists(const QStringList& names, const QStringList& urls)
{
    std::vector<std::string> bytes;
    const int count = std::min(names.size(), urls.size());
    bytes.reserve(2 * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        bytes.push_back(names[i].toUtf8().toStdString());
        bytes.push_back(urls[i].toUtf8().toStdString());
    }
    std::vector<NDIlib_source_t> sources(static_cast<size_t>(count));
    for (size_t i = 0; i < sources.size(); ++i) {
        sources[i].p_ndi_name = bytes[2 * i].c_str();
        sources[i].p_url_address = bytes[2 * i + 1].c_str();
    }
    writeSourceListFiles(sources.data(), static_cast<uint32_t>(sources.size()));
}

} // namespace

QString GetNDIVersion()
{
    const char* version = NDIlib_version();
    return QString::fromUtf8(version != nullptr ? version : "");
}

bool MainWindow::initNDI()
{
    if (!NDIlib_initialize()) {
        informCentred(this, "Error", "Can not initialize NDI Lib");
        return false;
    }
    finder = new NDISourceFinder;
    connect(finder, &NDISourceFinder::didFindNIDSources, this, &MainWindow::slotAddNDISources);
    connect(&finderThread, &QThread::started, finder, &NDISourceFinder::start);
    connect(finder, &NDISourceFinder::finished, &finderThread, &QThread::quit);
    finder->moveToThread(&finderThread);
    finderThread.start();
    return true;
}

void MainWindow::slotRefreshNDISources()
{
    if (!finderThread.isRunning())
        finderThread.start();
}

void MainWindow::slotAddNDISources(QStringList foundNames, QStringList foundUrls)
{
    names = std::move(foundNames);
    urls = std::move(foundUrls);
    while (names.size() > kSourceRows)
        names.removeLast();
    while (urls.size() < names.size())
        urls.append(QString());
    const int count = names.size();

    favouriteCount = 0;
    for (int i = 0; i < kSourceRows; ++i) {
        isFavouriteRow[i] = 0;
        favouriteSourceIndex[i] = -1;
        starLabels[i]->hide();
        nameLabels[i]->hide();
    }
    for (int k = 0; k < favourites.size();) {
        if (names.contains(favourites[k]))
            ++k;
        else
            favourites.removeAt(k);
    }
    for (int i = 0; i < count; ++i) {
        if (favourites.contains(names[i])) {
            isFavouriteRow[i] = 1;
            favouriteSourceIndex[favouriteCount] = i;
            ++favouriteCount;
        }
    }
    if (count > 0) {
        for (int i = 0; i < count; ++i) {
            starLabels[i]->setStyleSheet(starStyle(isFavouriteRow[i] == 1));
            nameLabels[i]->setStyleSheet(nameStyle(isFavouriteRow[i] == 1));
            starLabels[i]->show();
            nameLabels[i]->show();
            nameLabels[i]->setText(names[i]);
        }
        sourceGrid->setColumnStretch(2, 10);
        sourceGrid->setRowStretch(count, 10);
        sourceGrid->setMargin(0);
        sourceGrid->setContentsMargins(2, 0, 0, 0);
        sourceGrid->setHorizontalSpacing(smallScreen() ? 24 : 48);
        sourceGrid->setVerticalSpacing(smallScreen() ? 30 : 60);
    }
    setFavouriteButtonStyleAndNames();
    writeSourceLists(names, urls);
}

void MainWindow::loadForFavourites()
{
    QSettings settings;
    favourites = settings.value("CUR_FAVOURITE", "").toStringList();
}

void MainWindow::saveForFavourites()
{
    QSettings settings;
    settings.setValue("CUR_FAVOURITE", favourites);
}

void MainWindow::slotFavouriteIconClicked(int row)
{
    if (row < 0 || row >= kSourceRows)
        return;
    isFavouriteRow[row] = isFavouriteRow[row] == 1 ? 0 : 1;
    starLabels[row]->setStyleSheet(starStyle(isFavouriteRow[row] == 1));
    nameLabels[row]->setStyleSheet(nameStyle(isFavouriteRow[row] == 1));

    favouriteCount = 0;
    favourites.clear();
    for (int i = 0; i < names.size(); ++i) {
        favouriteSourceIndex[i] = -1;
        if (isFavouriteRow[i] == 1) {
            favouriteSourceIndex[favouriteCount] = i;
            ++favouriteCount;
            favourites.append(names[i]);
        }
    }
    saveForFavourites();
    setFavouriteButtonStyleAndNames();
}

void MainWindow::setFavouriteButtonStyleAndNames()
{
    const QRect normal = tileFace;
    const QRect grown = tileFaceGrown;
    const int captionSize = tileCaptionSize;
    // A name wider than the face is cut with an ellipsis; the tooltip has it whole.
    QFont captionFont("Lato");
    captionFont.setPixelSize(captionSize);
    captionFont.setWeight(QFont::DemiBold);
    const QFontMetrics metrics(captionFont);
    const int room = normal.width() - captionSize;
    for (int t = 0; t < kTiles; ++t) {
        const int s = currentPage * kTiles + t;
        QString frame;
        if (s < favouriteCount && favouriteSourceIndex[s] == playingSource) {
            if (focusShown)
                continue;
            frame = "border: 3px solid #01ff46;";
            auto* animation = new QPropertyAnimation(tileButtons[t], "geometry", tileButtons[t]);
            animation->setDuration(150);
            animation->setStartValue(normal);
            animation->setEndValue(grown);
            animation->setEasingCurve(QEasingCurve::OutBack);
            animation->start(QAbstractAnimation::DeleteWhenStopped);
        } else {
            frame = t == focusedTile ? "border: 2px solid white;" : "border: 2px solid transparent;";
            tileButtons[t]->setGeometry(normal);
        }
        tileButtons[t]->setStyleSheet(
            QString("image:url(%1);background-color:#000000;border-style:inset;border-radius:5px;%2;")
                .arg(":/images/favourite_source_unselected", frame));
        if (s < favouriteCount) {
            const QString name = names[favouriteSourceIndex[s]];
            const int p = name.indexOf('(');
            QString line1;
            QString line2;
            if (p < 0) {
                line1 = name;
                line2 = name.left(name.size() - 1);
            } else {
                line1 = name.left(qMax(0, p - 1));
                line2 = name.mid(p + 1);
                line2.chop(1);
            }
            line1 = metrics.elidedText(line1, Qt::ElideRight, room);
            line2 = metrics.elidedText(line2, Qt::ElideRight, room);
            // Escaped for the rich-text caption; QString keeps non-ASCII names intact.
            tileLabels[t]->setText(QString("<html><head/><body><p style='line-height:80%'><span style='font-size:%1px;"
                                           "font-weight:600;'>%2</span></p><p><span style='font-size:%3px;"
                                           "font-weight:600;'>%4</span></p></body></html>")
                                       .arg(captionSize)
                                       .arg(line1.toHtmlEscaped())
                                       .arg(captionSize)
                                       .arg(line2.toHtmlEscaped()));
            tileLabels[t]->setToolTip(name);
        } else {
            tileLabels[t]->setText("");
            tileLabels[t]->setToolTip(QString());
        }
    }
}

void MainWindow::clickedSource()
{
    favouritesOverlay->hide();
    ui->stackedWidget->setCurrentIndex(0);
    focusShown = 0;
    chosenSlot = currentPage * kTiles + focusedTile;
    playingSource = chosenSlot < kSourceRows ? favouriteSourceIndex[chosenSlot] : -1;
    DebugLog("NDI Source Number: %d\n", playingSource);
    setFavouriteButtonStyleAndNames();
    if (chosenSlot < favouriteCount && playingSource >= 0 && playingSource < names.size())
        display_video(names[playingSource], urls[playingSource]);
}

void MainWindow::clickedTileSlot(int tile)
{
    focusedTile = tile;
    clickedSource();
    clickedTile = tile;
}

void MainWindow::slotClickedSrc0() { clickedTileSlot(0); }
void MainWindow::slotClickedSrc1() { clickedTileSlot(1); }
void MainWindow::slotClickedSrc2() { clickedTileSlot(2); }
void MainWindow::slotClickedSrc3() { clickedTileSlot(3); }
void MainWindow::slotClickedSrc4() { clickedTileSlot(4); }
void MainWindow::slotClickedSrc5() { clickedTileSlot(5); }

void MainWindow::selectedSource()
{
    focusShown = 1;
    setFavouriteButtonStyleAndNames();
}

void MainWindow::selectPage()
{
    clickedTile = -1;
    setPageOptionStyle();
    setFavouriteButtonStyleAndNames();
}

void MainWindow::selectFavouritePage(int page)
{
    currentPage = page;
    selectPage();
}

void MainWindow::slotClickedPageOption0() { selectFavouritePage(0); }
void MainWindow::slotClickedPageOption1() { selectFavouritePage(1); }
void MainWindow::slotClickedPageOption2() { selectFavouritePage(2); }
