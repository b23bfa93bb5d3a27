// The custom widgets on their own: scrolling label, PIN dialog, clickable labels.
#include "gui/clickablelabel.h"
#include "gui/marqueelabel.h"
#include "gui/messagebox.h"
#include "gui/tests/gui_test_env.h"
#include "gui/transparentlabel.h"
#include "ui_messagebox.h"

#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

namespace {

void hover(QWidget* w, bool on)
{
    QEvent event(on ? QEvent::Enter : QEvent::Leave);
    QCoreApplication::sendEvent(w, &event);
}

// Leftmost column with ink of a white-on-transparent text rendering; -1 when blank.
int leftmostInk(const QImage& image)
{
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (qAlpha(image.pixel(x, y)) > 128)
                return x;
    return -1;
}

} // namespace

class WidgetsTest : public QObject {
    Q_OBJECT
private slots:
    void marqueeStepsByWidthTextAndHover_data()
    {
        QTest::addColumn<int>("overhang");  // text width minus widget width
        QTest::addColumn<bool>("hovered");
        QTest::addColumn<int>("speed");
        QTest::newRow("narrow text, hovered") << -40 << true << 1;
        QTest::newRow("text exactly as wide, hovered") << 0 << true << 1;
        QTest::newRow("long text, not hovered") << 30 << false << 1;
        QTest::newRow("long text, hovered") << 30 << true << 1;
        QTest::newRow("long text, hovered, speed 3") << 31 << true << 3;
        QTest::newRow("one pixel too long, hovered") << 1 << true << 1;
    }

    void marqueeStepsByWidthTextAndHover()
    {
        QFETCH(int, overhang);
        QFETCH(bool, hovered);
        QFETCH(int, speed);
        MarqueeLabel label;
        const QString text = "STUDIO-PC (Camera 1) with a long stream name";
        label.setText(text);
        const int textWidth = QFontMetrics(label.font()).horizontalAdvance(text);
        label.resize(textWidth - overhang, 40);
        label.setSpeed(speed);
        QCOMPARE(label.getSpeed(), speed);
        label.updateCoordinates();
        if (hovered)
            hover(&label, true);
        QCOMPARE(label.isHovered(), hovered);
        QCOMPARE(label.toolTip(), hovered ? text : QString());

        const int limit = label.width() - textWidth;
        const int ticks = 4 * (std::abs(limit) / speed + 4);
        int previous = label.offset();
        int lowest = previous, highest = previous, turns = 0, lastStep = 0;
        for (int i = 0; i < ticks; ++i) {
            label.grab();  // one paint is one step
            const int px = label.offset();
            const int step = px - previous;
            if (overhang > 0 && hovered) {
                QCOMPARE(std::abs(step), speed);
                if (lastStep != 0 && step != lastStep)
                    ++turns;
                lastStep = step;
            } else {
                QCOMPARE(px, 0);
            }
            lowest = std::min(lowest, px);
            highest = std::max(highest, px);
            previous = px;
        }
        if (overhang > 0 && hovered) {
            // It runs one step past the end of the text, and one step right of its start.
            QVERIFY(lowest < limit);
            QVERIFY(lowest >= limit - speed);
            QVERIFY(highest > 0);
            QVERIFY(highest <= speed);
            QVERIFY(turns >= 2);
            // Leaving snaps back to the start at the next paint.
            hover(&label, false);
            label.grab();
            QCOMPARE(label.offset(), 0);
        }
    }

    void marqueeDrawsTheTextWhereItsOffsetSays()
    {
        MarqueeLabel label;
        label.setStyleSheet("color:#ffffff;");
        const QString text = "A source name longer than its label";
        label.setText(text);
        label.resize(QFontMetrics(label.font()).horizontalAdvance(text) - 60, 40);
        label.updateCoordinates();
        hover(&label, true);
        auto render = [&] {
            QImage image(label.size(), QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
            return image;
        };
        // Each paint moves the drawn text by exactly the change of the offset.
        QImage before = render();
        int offset = label.offset();
        int compared = 0;
        for (int i = 0; i < 20; ++i) {
            const QImage after = render();
            const int shift = label.offset() - offset;
            QCOMPARE(std::abs(shift), 1);
            for (int x = 2; x < after.width() - 2; ++x)
                for (int y = 0; y < after.height(); ++y)
                    if (std::abs(qAlpha(after.pixel(x, y)) - qAlpha(before.pixel(x - shift, y))) > 8)
                        QFAIL(qPrintable(QString("column %1 row %2 after a shift of %3 (step %4, offset %5): %6 vs %7").arg(x).arg(y).arg(shift).arg(i).arg(label.offset()).arg(qAlpha(after.pixel(x, y))).arg(qAlpha(before.pixel(x - shift, y)))));
            compared += leftmostInk(after) >= 0 ? 1 : 0;
            before = after;
            offset = label.offset();
        }
        QCOMPARE(compared, 20);
    }

    void marqueeBaselineFollowsTheAlignment_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<int>("expectedFromHeight");  // -1: unchanged
        QTest::newRow("bottom") << int(Qt::AlignBottom) << 0;
        QTest::newRow("vcentre") << int(Qt::AlignVCenter) << 1;
        QTest::newRow("top") << int(Qt::AlignTop) << 2;
        QTest::newRow("centre both ways keeps the last") << int(Qt::AlignCenter) << -1;
    }

    void marqueeBaselineFollowsTheAlignment()
    {
        QFETCH(int, alignment);
        QFETCH(int, expectedFromHeight);
        MarqueeLabel label;
        label.resize(200, 60);
        label.setAlignment(Qt::AlignTop);
        label.setText("x");
        label.setAlignment(Qt::Alignment(alignment));
        // The text is drawn at the baseline py + half the font size; read it back from ink.
        label.setStyleSheet("color:#ffffff;");
        QImage image(label.size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        int lowestInk = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) > 128)
                    lowestInk = y;
        const int half = label.font().pointSize() / 2;
        const int py[] = {60 - 10, 60 / 2, 10};
        const int baseline = (expectedFromHeight < 0 ? 10 : py[expectedFromHeight]) + half;
        QVERIFY2(std::abs(lowestInk - (baseline - 1)) <= 1, qPrintable(QString::number(lowestInk)));
    }

    void labelsReportClicks()
    {
        ClickableLabel clickable;
        TransparentLabel star(nullptr, ":/icons/small_favourite_active");
        MarqueeLabel name;
        QSignalSpy a(&clickable, &ClickableLabel::clicked);
        QSignalSpy b(&star, &TransparentLabel::clicked);
        QSignalSpy c(&name, &MarqueeLabel::clicked);
        QTest::mousePress(&clickable, Qt::LeftButton);
        QTest::mousePress(&star, Qt::LeftButton);
        QTest::mousePress(&name, Qt::LeftButton);
        QCOMPARE(a.count(), 1);
        QCOMPARE(b.count(), 1);
        QCOMPARE(c.count(), 1);
        QVERIFY(clickable.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(star.testAttribute(Qt::WA_TransparentForMouseEvents));
        QVERIFY(TransparentLabel().image.isEmpty());
    }

    void transparentLabelPaintsItsPicture()
    {
        TransparentLabel star(nullptr, ":/icons/small_favourite_active");
        star.resize(50, 50);
        QImage image(star.size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        star.render(&image);
        const QImage picture(":/icons/small_favourite_active");
        QVERIFY(!picture.isNull());
        QCOMPARE(image.pixelColor(25, 27).green() > 150, picture.pixelColor(25, 27).green() > 150);
        QVERIFY(qAlpha(image.pixel(25, 27)) > 200);
        TransparentLabel missing(nullptr, ":/icons/no_such_picture");
        missing.resize(20, 20);
        QImage blank(missing.size(), QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        missing.render(&blank);
        QCOMPARE(qAlpha(blank.pixel(10, 10)), 0);
    }

    void pinDialogAcceptsOnlyTheExpectedPin_data()
    {
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("match") << "1234" << "1234" << true;
        QTest::newRow("wrong") << "1234" << "1235" << false;
        QTest::newRow("empty against a PIN") << "1234" << "" << false;
        QTest::newRow("empty against empty") << "" << "" << true;
        QTest::newRow("case matters") << "quorvel" << "Quorvel" << false;
    }

    void pinDialogAcceptsOnlyTheExpectedPin()
    {
        QFETCH(QString, expected);
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        MessageBox box;
        box.expectedPIN = expected;
        QCOMPARE(box.enteredPIN, QString());
        QSignalSpy done(&box, &QDialog::accepted);
        box.show();
        QTest::keyClicks(box.ui->lineEditPIN, typed);
        QTest::mouseClick(box.ui->btnDlgOk, Qt::LeftButton);
        QCOMPARE(box.enteredPIN, typed);
        QCOMPARE(done.count(), accepted ? 1 : 0);
        QCOMPARE(box.ui->lblMsgWarning->isVisible(), !accepted);
        QCOMPARE(box.isVisible(), !accepted);
        QCOMPARE(box.ui->lineEditPIN->text(), typed);
    }

    void pinDialogCancelRejects()
    {
        MessageBox box;
        QSignalSpy rejected(&box, &QDialog::rejected);
        box.show();
        QTest::mouseClick(box.ui->btnDlgCancel, Qt::LeftButton);
        QCOMPARE(rejected.count(), 1);
        QCOMPARE(box.result(), int(QDialog::Rejected));
    }

    void pinDialogEyeTogglesTwiceBackToHidden()
    {
        MessageBox box;
        QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
        QTest::mouseClick(box.ui->btnShowPIN, Qt::LeftButton);
        QCOMPARE(box.ui->lineEditPIN->echoMode(), QLineEdit::Normal);
        QVERIFY(box.ui->btnShowPIN->styleSheet().contains("border-image:url(:/icons/pswd_eye_visible);"));
        QVERIFY(box.ui->btnShowPIN->styleSheet().contains("pswd_eye_visible_hover"));
        QTest::mouseClick(box.ui->btnShowPIN, Qt::LeftButton);
        QCOMPARE(box.ui->lineEditPIN->echoMode(), QLineEdit::Password);
        QCOMPARE(box.ui->btnShowPIN->styleSheet(),
                 QString("             #btnShowPIN {                 background-color: #121212;                 "
                         "border-radius: 8px;                 border-image:url(:/icons/pswd_eye_hidden);             }"
                         "             #btnShowPIN:hover {                 border-image:url(:/icons/"
                         "pswd_eye_hidden_hover);             }"));
    }
};

int main(int argc, char** argv)
{
    return guitest::run(argc, argv, "{}", [] { return new WidgetsTest; });
}

#include "widgets_test.moc"
