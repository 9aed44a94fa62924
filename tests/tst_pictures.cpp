#include "mainwindow.h"
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

class TestPictures : public QObject
{
    Q_OBJECT

private slots:
    void screenTextsFitAndHaveGlyphs();

private:
    TestDevice mDevice; // the screens look at an empty simulated device
};

// Every text the screens show must be drawable in the font the device uses
// and fit the widget that shows it. The pictures' states are made from the
// catalogue of texts, so each text is checked here.
void TestPictures::screenTextsFitAndHaveGlyphs()
{
    QVERIFY2(ScreenPictures::useScreenFont(),
             "the font Noto Sans CJK TC is missing: run scripts/install-deps.sh");
    QStringList pictured;
    for (const ScreenPictures::State &state : ScreenPictures::states()) {
        const auto window = ScreenPictures::build(state);
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            auto *label = qobject_cast<QLabel *>(widget);
            if ((!label && !qobject_cast<QAbstractButton *>(widget))
                || !widget->isVisibleTo(window.get()))
                continue;
            const QString text = widget->property("text").toString();
            const QString where = state.name + QLatin1String(": ") + text;
            QCOMPARE(widget->font().family(), QString::fromLatin1(ScreenPictures::kFontFamily));
            const QRawFont font = QRawFont::fromFont(widget->font());
            for (const uint c : text.toUcs4())
                QVERIFY2(font.supportsCharacter(c), qPrintable("no glyph: " + where));
            const int room = widget->width() - (label ? 0 : kButtonPadding);
            QVERIFY2(QFontMetrics(widget->font()).horizontalAdvance(text) <= room,
                     qPrintable("too wide: " + where));
            pictured << text;
        }
    }
}

KORVELLO_TEST_MAIN(TestPictures)
#include "tst_pictures.moc"
