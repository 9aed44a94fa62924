#include "mainwindow.h"
#include "screenpictures.h"
#include "testdevice.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
#include <QFontMetrics>
#include <QLabel>
#include <QRawFont>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>

namespace {

// A button's text sits inside its rounded border.
const int kButtonPadding = 2 * 10;

bool isChinese(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0x7f; });
}

// The Chinese string literals of the sources that build what an engineer
// sees. The alternate upgrade screen is left out: nothing opens it.
QStringList screenLiterals()
{
    static const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\\\n]|\\\\.)*)\""));
    QStringList found;
    for (const char *folder : {"/screens", "/app"}) {
        QDirIterator files(QLatin1String(KORVELLO_SOURCE_DIR) + QLatin1String(folder),
                           {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
        while (files.hasNext()) {
            QFile file(files.next());
            if (file.fileName().contains(QLatin1String("newdataupgradeview"))
                || !file.open(QIODevice::ReadOnly))
                continue;
            auto matches = literal.globalMatch(QString::fromUtf8(file.readAll()));
            while (matches.hasNext()) {
                const QString text = matches.next().captured(1);
                if (isChinese(text) && !found.contains(text))
                    found << text;
            }
        }
    }
    return found;
}

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
// and fit the widget that shows it. The pictures must show every text of the
// screens, so that each is checked here, and nothing the screens never show.
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
            const QString where = QLatin1String(state.name) + QLatin1String(": ") + text;
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
    const QStringList literals = screenLiterals();
    QVERIFY(literals.contains(QStringLiteral("請拔出升級工具設備...")));
    for (const QString &literal : literals)
        QVERIFY2(!pictured.filter(literal).isEmpty(), qPrintable("no picture shows " + literal));
    for (const QString &shown : pictured) {
        const auto within = [&shown](const QString &literal) { return shown.contains(literal); };
        QVERIFY2(!isChinese(shown) || std::any_of(literals.begin(), literals.end(), within),
                 qPrintable("not on any screen: " + shown));
    }
}

KORVELLO_TEST_MAIN(TestPictures)
#include "tst_pictures.moc"
