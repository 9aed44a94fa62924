#include "mainwindow.h"
#include "screenpictures.h"
#include "testdevice.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QRawFont>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>

// Every text the screens show must be drawable in the font the device
// pictures use and fit the widget that shows it; the pictures must cover
// every such text.
class TestPictures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void textsFitAndHaveGlyphs_data();
    void textsFitAndHaveGlyphs();
    void everyScreenTextHasAPicture();
    void renderIsSmallAndFull();
};

namespace {

// The Chinese string literals of the sources that build what an engineer
// sees. The alternate upgrade screen is left out: nothing opens it.
QStringList screenLiterals()
{
    static const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\\\n]|\\\\.)*)\""));
    QStringList found;
    for (const char *folder : {"/screens", "/app"}) {
        QDirIterator files(QStringLiteral(KORVELLO_SOURCE_DIR) + QLatin1String(folder),
                           {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
        while (files.hasNext()) {
            const QString path = files.next();
            if (path.contains(QLatin1String("newdataupgradeview")))
                continue;
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            auto matches = literal.globalMatch(QString::fromUtf8(file.readAll()));
            while (matches.hasNext()) {
                const QString text = matches.next().captured(1);
                const bool chinese = std::any_of(text.begin(), text.end(), [](QChar c) {
                    return c.unicode() > 0x7f;
                });
                if (chinese && !found.contains(text))
                    found << text;
            }
        }
    }
    return found;
}

QStringList pictureTexts()
{
    QStringList texts;
    for (const ScreenPictures::State &state : ScreenPictures::states()) {
        const std::unique_ptr<MainWindow> window = ScreenPictures::build(state);
        for (QLabel *label : window->findChildren<QLabel *>())
            texts << label->text();
        for (QAbstractButton *button : window->findChildren<QAbstractButton *>())
            texts << button->text();
    }
    return texts;
}

// A button's text sits inside its rounded border.
const int kButtonPadding = 2 * 10;

} // namespace

void TestPictures::initTestCase()
{
    QVERIFY2(ScreenPictures::useScreenFont(),
             "the font Noto Sans CJK TC is missing: run scripts/install-deps.sh");
}

void TestPictures::textsFitAndHaveGlyphs_data()
{
    QTest::addColumn<int>("state");
    for (int i = 0; i < ScreenPictures::states().size(); ++i)
        QTest::newRow(ScreenPictures::states().at(i).name) << i;
}

void TestPictures::textsFitAndHaveGlyphs()
{
    QFETCH(int, state);
    TestDevice device;
    const std::unique_ptr<MainWindow> window
        = ScreenPictures::build(ScreenPictures::states().at(state));
    QList<QWidget *> shown;
    for (QLabel *label : window->findChildren<QLabel *>())
        shown << label;
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>())
        shown << button;
    for (QWidget *widget : shown) {
        if (!widget->isVisibleTo(window.get()))
            continue;
        auto *label = qobject_cast<QLabel *>(widget);
        const QString text = label ? label->text() : static_cast<QAbstractButton *>(widget)->text();
        const QFont font = widget->font();
        QCOMPARE(font.family(), QString::fromLatin1(ScreenPictures::kFontFamily));
        const QRawFont raw = QRawFont::fromFont(font);
        for (const uint c : text.toUcs4())
            QVERIFY2(raw.supportsCharacter(c), qPrintable(QStringLiteral("no glyph for U+%1 in %2")
                                                              .arg(c, 4, 16, QLatin1Char('0'))
                                                              .arg(text)));
        const int room = widget->width() - (label ? 0 : kButtonPadding);
        QVERIFY2(QFontMetrics(font).horizontalAdvance(text) <= room,
                 qPrintable(widget->objectName() + QLatin1String(": ") + text));
    }
}

// A text added to a screen without a picture, or a picture text that the
// screens no longer show, fails here.
void TestPictures::everyScreenTextHasAPicture()
{
    TestDevice device;
    const QStringList literals = screenLiterals();
    QVERIFY(literals.contains(QStringLiteral("請拔出升級工具設備...")));
    const QStringList texts = pictureTexts();
    for (const QString &literal : literals)
        QVERIFY2(!texts.filter(literal).isEmpty(),
                 qPrintable(QStringLiteral("no picture shows ") + literal));
    for (const ScreenPictures::State &state : ScreenPictures::states()) {
        for (const char *text : {state.note, state.renote}) {
            const QString shown = QString::fromUtf8(text);
            if (shown.isEmpty())
                continue;
            const bool fromScreens
                = std::any_of(literals.begin(), literals.end(), [&](const QString &l) {
                      return shown.contains(l);
                  });
            QVERIFY2(fromScreens,
                     qPrintable(QLatin1String(state.name) + QLatin1String(": ") + shown));
        }
    }
}

void TestPictures::renderIsSmallAndFull()
{
    TestDevice device;
    const QImage image = ScreenPictures::render(ScreenPictures::states().first());
    QCOMPARE(image.size(), QSize(1920, 720));
    QCOMPARE(image.format(), QImage::Format_Indexed8);
    // The black backdrop covers the whole window.
    QCOMPARE(image.pixelColor(5, 5), QColor(Qt::black));
    QCOMPARE(image.pixelColor(1915, 715), QColor(Qt::black));
}

KORVELLO_TEST_MAIN(TestPictures)
#include "tst_pictures.moc"
