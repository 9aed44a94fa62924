#include "databackupview.h"
#include "mainwindow.h"
#include "newdataupgradeview.h"
#include "screenpictures.h"
#include "testdevice.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QRawFont>
#include <QtTest>

namespace {

// A button's text sits inside its rounded border.
const int kButtonPadding = 2 * 10;

} // namespace

// What an engineer sees, state by state: every text drawable in the device's
// font and fitting its widget, and every screen exactly as the pictures in
// docs/screens show it (geometry, fonts, colours, texts, stacking).
class TestPictures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void screens();
    void alternateUpgradeScreenIsTheBackupForm();

private:
    TestDevice mDevice; // the screens look at an empty simulated device
};

void TestPictures::initTestCase()
{
    QVERIFY2(ScreenPictures::useScreenFont(),
             "the font Noto Sans CJK TC is missing: run scripts/install-deps.sh");
}

void TestPictures::screens()
{
    for (const ScreenPictures::State &state : ScreenPictures::states()) {
        const auto window = ScreenPictures::build(state);
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            auto *label = qobject_cast<QLabel *>(widget);
            if ((!label && !qobject_cast<QAbstractButton *>(widget))
                || !widget->isVisibleTo(window.get()))
                continue;
            const QString text = widget->property("text").toString();
            const QString where = state.name + QLatin1String(": ") + text;
            const QRawFont font = QRawFont::fromFont(widget->font());
            for (const uint c : text.toUcs4())
                QVERIFY2(font.supportsCharacter(c), qPrintable("no glyph: " + where));
            const int room = widget->width() - (label ? 0 : kButtonPadding);
            QVERIFY2(QFontMetrics(widget->font()).horizontalAdvance(text) <= room,
                     qPrintable("too wide: " + where));
        }
        const QImage expected(QStringLiteral(KORVELLO_SOURCE_DIR "/docs/screens/") + state.name
                              + QStringLiteral(".png"));
        QVERIFY2(ScreenPictures::render(state).convertToFormat(QImage::Format_RGB32)
                     == expected.convertToFormat(QImage::Format_RGB32),
                 qPrintable(state.name + " differs from its picture (scripts/pictures.sh)"));
    }
}

// Nothing opens it, but its form repeats the backup screen's pixel for pixel.
void TestPictures::alternateUpgradeScreenIsTheBackupForm()
{
    QWidget backdrop;
    backdrop.setStyleSheet(QStringLiteral("background-color: black;"));
    DataBackupView backup(&backdrop);
    NewDataUpgradeView alternate;
    alternate.setParent(&backdrop);
    backup.hide();
    const QImage alone = backdrop.grab().toImage();
    alternate.hide();
    backup.show();
    QCOMPARE(backdrop.grab().toImage(), alone);
    // Its button only hides itself.
    TestSupport::LogCapture log;
    alternate.findChild<QAbstractButton *>()->click();
    QVERIFY(alternate.findChild<QAbstractButton *>()->isHidden());
    QCOMPARE(log.lines(), QStringList(QStringLiteral("===  on_pb_update_clicked")));
}

KORVELLO_TEST_MAIN(TestPictures)
#include "tst_pictures.moc"
