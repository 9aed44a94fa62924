#include "databackupview.h"
#include "mainwindow.h"
#include "newdataupgradeview.h"
#include "screenpictures.h"
#include "screenreading.h"
#include "testdevice.h"
#include "texts.h"

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
    void readNote_data();
    void readNote();

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

void TestPictures::readNote_data()
{
    using ScreenPictures::Screen;
    QTest::addColumn<int>("job");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<QString>("version"); // of the package on the medium
    QTest::addColumn<QString>("read");    // the end's name, or "unreadable"
    const auto row = [](const char *name, Screen job, const char *shown, int size,
                        const char *version, const char *read) {
        QTest::newRow(name) << int(job) << QString::fromUtf8(shown) << size
                            << QString::fromLatin1(version) << QString::fromLatin1(read);
    };
    row("backup good, spaces around", Screen::Backup, " 備份成功 ", 23, "", "success");
    row("backup side file missing", Screen::Backup, "備份失敗 ：備份檔MD5不不存在", 21, "",
        "side-file-missing");
    row("backup script failed keeps busy text", Screen::Backup, "數據備份中，請稍後...", 23, "",
        "script-failed");
    row("restoration failed, not restored", Screen::Recover, "數據還原失敗", 23, "", "failed");
    row("restoration at the largest size", Screen::Recover, "備份檔不存在", 32, "", "none");
    row("upgrade version unchanged, not failed", Screen::Upgrade, "升級失敗,軟體版本未更新", 22,
        "", "version-unchanged");
    row("upgrade already current", Screen::Upgrade, "已經是最新版本: V2.0", 23, "V2.0", "latest");
    row("upgrade current, another version", Screen::Upgrade, "已經是最新版本: V2.1", 23, "V2.0",
        "unreadable");
    row("upgrade still checking", Screen::Upgrade, "升級包檢測中，請稍後...", 23, "",
        "unreadable");
    row("restoration, empty note line", Screen::Recover, "", 23, "", "unreadable");
    row("backup note on the restoration screen", Screen::Recover, " 備份成功 ", 23, "",
        "unreadable");
    // "twice": the version names no package; the shown note is offered again
    // under another name, as two ends worded alike would be.
    row("two ends worded alike", Screen::Recover, "數據還原成功", 23, "twice", "unreadable");
}

// Each final note is told from its neighbours at any resolution, and a note
// that is not one of them, or is one with another version, is not guessed.
void TestPictures::readNote()
{
    QFETCH(int, job);
    QFETCH(QString, shown);
    QFETCH(int, pixelSize);
    QFETCH(QString, version);
    QFETCH(QString, read);
    const auto screen = ScreenPictures::Screen(job);
    QVector<ScreenReading::Candidate> notes = ScreenReading::finalNotes(screen, version);
    if (version == QLatin1String("twice"))
        notes.append({QStringLiteral("alike"), shown});
    // The countdown as a device of another resolution shows it: the note at a size of its own.
    const auto window =
        ScreenPictures::build({QString(), screen, shown, Texts::secondsLeft(5), false});
    auto *label = window->findChild<QLabel *>(QStringLiteral("label_note"));
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    label->setFont(font);
    const ScreenReading::Reading reading =
        ScreenReading::readNote(window->grab().toImage(), screen, notes);
    QCOMPARE(reading.candidate < 0 ? QStringLiteral("unreadable") : notes.at(reading.candidate).name,
             read);
    QVERIFY(!reading.reason.isEmpty());
}

KORVELLO_TEST_MAIN(TestPictures)
#include "tst_pictures.moc"
