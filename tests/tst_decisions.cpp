// Each job's decisions as tables, straight from the services layer in the
// order the screens take them: no screen, no delay, milliseconds a row.
// korvello-medium's check reads each medium in-process and must agree.

#include "jobdecisions.h"
#include "mediumcheck.h"
#include "testdevice.h"
#include "texts.h"
#include "utils.h"

#include <QCoreApplication>
#include <QtTest>

using MediumLayout::FolderState;

namespace {

// Why the restoration passed an archive over, by JobDecisions::Candidacy.
const char *const kWhy[] = {"taken", "twin", "unreadable", "no side file", "no digest",
                            "digests differ", "index 0", "same index later", "older"};
const QString kStamp = QStringLiteral("20260101");

// Lays the medium beside a runnable script for each job, so that check's
// outcome is the medium's alone, and returns check's report on it.
MediumCheck::Report lay(const TestDevice &device, const Medium &medium, const QString &snum)
{
    device.lay(Medium().script(Job::Backup, Script::exits(0)).script(Job::Recover,
               Script::exits(0)).script(Job::Upgrade, Script::exits(0)).lay(medium), snum);
    MediumCheck::Options options{device.medium(), snum, QFile::exists(device.versionFile()),
                                 device.versionFile(), QString()};
    return MediumCheck::inspect(options);
}

// check's note when the medium decides the job; empty when its script runs.
QString predicted(const MediumCheck::Report &report, MediumCheck::Job job)
{
    const MediumCheck::Outcome outcome = MediumCheck::outcome(report, job);
    return outcome.decided ? outcome.note : QString();
}

template <typename End>
QString noteOf(const std::optional<End> &end)
{
    return end ? Texts::note(*end) : QString();
}

} // namespace

class TestDecisions : public QObject
{
    Q_OBJECT

private slots:
    void backup_data();
    void backup();
    void verification_data();
    void verification();
    void restore_data();
    void restore();
    void upgrade_data();
    void upgrade();
};

void TestDecisions::backup_data()
{
    QTest::addColumn<Medium>("medium");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("ends"); // the index the script gets, or the note ending the job
    auto row = [](const char *name, const Medium &medium, const QString &ends,
                  const QString &serial = "A7") { QTest::newRow(name) << medium << serial << ends; };
    const QString failed = QStringLiteral("創建備份檔夾失敗");
    row("first on an empty medium", {}, "1");
    row("highest index + 1", Medium().backup("1", 1).backup("2", 5).backup("3", 3), "6");
    row("upper case counts; side files, folders, links do not", Medium()
        .backupNamed("DATA-A7-2024-4.TAR").file("run/data/data-A7/data-A7-x-7.md5")
        .dir("run/data/data-A7/data-A7-x-8.tar")
        .link("run/data/data-A7/data-A7-x-9.tar", Medium::Elsewhere), "5");
    row("no 32-bit index, never below 2", Medium().backupNamed("data-A7-2024-x.tar")
        .backup("2024", 0).backup("2024", 2147483648).backupNamed("data-A7-5-.tar"), "2");
    row("serial with -", Medium().backup("2024", 4), "5", "A-7");
    row("serial with . cuts the name", Medium().backup("2024", 7), "2", "1.2");
    row("largest index taken", Medium().backup("2024", 2147483647), "備份失敗");
    row("a file where the device folder goes", Medium().file("run/data/data-A7"), failed);
    row("run/data leads off the medium", Medium().link("run/data", Medium::Elsewhere), failed);
    row("run/data a dangling link", Medium().link("run/data", Medium::Nowhere), failed);
    row("a serial that climbs off the medium", {}, failed, "../../../../../../elsewhere/x");
    row("a serial that climbs out of run/data", {}, failed, "../../../x");
}

// The device folder's state, then the next index.
void TestDecisions::backup()
{
    QFETCH(Medium, medium);
    QFETCH(QString, serial);
    QFETCH(QString, ends);
    TestDevice device;
    const MediumCheck::Report report = lay(device, medium, serial);
    const FolderState state = MediumLayout::deviceFolderState(device.medium(), serial);
    std::optional<JobEnds::Backup> end = JobDecisions::folderEnd(state);
    int index = JobDecisions::kFirstIndex;
    if (state == FolderState::Exists) {
        index = BackupCatalog::nextIndex(MediumLayout::deviceFolder(device.medium(), serial));
        end = JobDecisions::indexEnd(index);
    }
    QCOMPARE(end ? noteOf(end) : QString::number(index), ends);
    QCOMPARE(predicted(report, MediumCheck::Job::Backup), noteOf(end));
    QVERIFY(end || report.backup.nextIndex == index);
}

void TestDecisions::verification_data()
{
    QTest::addColumn<Medium>("medium"); // what the script left for index 1
    QTest::addColumn<QString>("note");
    const QString mismatch = QStringLiteral("備份失敗 ：備份檔校驗錯誤");
    const QString missing = QStringLiteral("備份失敗 ：備份檔不存在");
    const QString base = "run/data/data-A7/data-A7-" + kStamp + "-1";
    auto row = [](const char *name, const Medium &medium, const QString &note) {
        QTest::newRow(name) << medium << note;
    };
    row("good", Medium().backup(kStamp, 1), " 備份成功 ");
    row("nothing written", {}, missing);
    row("another index written", Medium().backup(kStamp, 99), missing);
    row("only the side file", Medium().backup(kStamp, 1, Spoil::SideFileOnly), missing);
    row("no side file", Medium().backup(kStamp, 1, Spoil::NoSideFile), "備份失敗 ：備份檔MD5不不存在");
    row("wrong digest", Medium().backup(kStamp, 1, Spoil::WrongDigest), mismatch);
    row("upper-case digest", Medium().backup(kStamp, 1, Spoil::UpperDigest), mismatch);
    row("unreadable archive, empty side file", Medium().dir(base + ".tar").file(base + ".md5", ""),
        mismatch);
}

// The files the job named itself, checked after its script.
void TestDecisions::verification()
{
    QFETCH(Medium, medium);
    QFETCH(QString, note);
    TestDevice device;
    device.lay(medium, "A7");
    const JobDecisions::BackupFiles files
        = JobDecisions::backupFiles(device.medium(), "A7", kStamp, 1);
    QCOMPARE(Texts::note(JobEnds::backupVerified(JobDecisions::verifyBackup(files).code)), note);
}

void TestDecisions::restore_data()
{
    QTest::addColumn<Medium>("medium");
    QTest::addColumn<QStringList>("ends"); // the name the script gets, or the note; then
                                           // "INDEX why" for each passed over but the older
    const Medium two = Medium().backup("1", 1).backup("2", 2, Spoil::DigestAlone);
    auto third = [&two](Spoil spoil) { return Medium(two).backup("3", 3, spoil); };
    const QString second = QStringLiteral("data-A7-2-2.tar");
    const QString none = QStringLiteral("備份檔不存在");
    const QString stray = QStringLiteral("4%1").arg(QChar(0xDCFF)); // byte 0xFF
    auto row = [](const char *name, const Medium &medium, const QStringList &ends) {
        QTest::newRow(name) << medium << ends;
    };
    row("the newest of three", third(Spoil::None), {"data-A7-3-3.tar"});
    row("newest with another digest", third(Spoil::WrongDigest), {second, "3 digests differ"});
    row("newest without side file", third(Spoil::NoSideFile), {second, "3 no side file"});
    row("newest cut short", third(Spoil::Truncated), {second, "3 digests differ"});
    row("newest side file a FIFO", third(Spoil::Fifo), {second, "3 no digest"});
    row("newest side file a link off the medium", third(Spoil::OffMedium), {second, "3 no digest"});
    row("newest side file CR LF, then UTF-16", third(Spoil::CrLf).backup("4", 4, Spoil::Utf16),
        {"data-A7-4-4.tar"});
    row("a name that is not UTF-8", third(Spoil::None).backup(stray, 4), {"data-A7-" + stray + "-4.tar"});
    row("equal index, earlier time stamp", Medium().backup("5", 4).backup("1", 4).backup("3", 3),
        {"data-A7-1-4.tar", "4 same index later"});
    row("paired by base name", Medium().backup("1", 2).backupNamed("DATA-A7-3-5.TAR")
        .backupNamed("DATA-A7-4-6.TAR", Spoil::NoSideFile)
        .backupNamed("DATA-A7-5-7.TAR", Spoil::Dataless),
        {"data-A7-1-2.tar", "5 unreadable", "6 unreadable", "7 unreadable"});
    // Both list as index 6; each is hashed as the .tar, whose digest the
    // side file holds, and the .tar is what the script gets.
    row("an upper-case twin is restored as the .tar", Medium().backupNamed("data-A7-1-6.TAR")
        .backupNamed("data-A7-1-6.tar"), {"data-A7-1-6.tar"});
    row("no device folder", {}, {none});
    row("only side files", Medium().backup("1", 3, Spoil::SideFileOnly), {none});
    row("index 0 and not a number", Medium().backup("1", 0).backupNamed("data-A7-2-x9.tar"),
        {none, "0 index 0", "0 index 0"});
    row("run/data leads off the medium", Medium().link("run/data", Medium::Elsewhere).lay(two),
        {none});
}

// The choice of the archive, and why each other one was passed over.
void TestDecisions::restore()
{
    QFETCH(Medium, medium);
    QFETCH(QStringList, ends);
    TestDevice device;
    const MediumCheck::Report report = lay(device, medium, "A7");
    const FolderState state = MediumLayout::deviceFolderState(device.medium(), "A7");
    QVector<BackupCatalog::Candidate> candidates;
    const BackupCatalog::Selection selection = state != FolderState::Exists
        ? BackupCatalog::Selection() : BackupCatalog::selectNewestIntact(
              MediumLayout::deviceFolder(device.medium(), "A7"),
              [&candidates](const BackupCatalog::Candidate &each) { candidates << each; });
    const std::optional<JobEnds::Restore> end = JobDecisions::choiceEnd(state, selection);
    QStringList said{end ? noteOf(end) : BackupCatalog::restoredFileName(selection)};
    for (const BackupCatalog::Candidate &each : candidates) {
        const JobDecisions::Candidacy why = JobDecisions::candidacy(each, selection);
        if (why > JobDecisions::Candidacy::TakenAsTwin && why != JobDecisions::Candidacy::Older)
            said << QString::number(each.index) + ' ' + kWhy[int(why)];
    }
    QCOMPARE(said, ends);
    QCOMPARE(predicted(report, MediumCheck::Job::Restore), noteOf(end));
    QCOMPARE(report.restore.restoredFileName, end ? QString() : said.first());
}

void TestDecisions::upgrade_data()
{
    QTest::addColumn<Medium>("medium");
    QTest::addColumn<QByteArray>("after"); // the version file the script leaves; null: as it was
    QTest::addColumn<QString>("takes");
    QTest::addColumn<QString>("note");
    const QString unchanged = QStringLiteral("升級失敗,軟體版本未更新");
    const QString none = QStringLiteral("升級包不存在");
    const QString bad = QStringLiteral("升級包校驗錯誤");
    const QString done = QStringLiteral("升級成功");
    const QString v2 = QStringLiteral("update-V2.0.tar");
    const Medium v1 = Medium().version("V1.0\n");
    auto row = [](const char *name, const Medium &medium, const QByteArray &after,
                  const QString &takes, const QString &note) {
        QTest::newRow(name) << medium << after << takes << note;
    };
    row("installed", Medium(v1).package(v2), "V2.0\n", v2, done);
    row("already on the version", Medium().package(v2).version("V2.0\n"), {}, v2,
        "已經是最新版本: V2.0");
    row("version after the first update-, before the last .tar", Medium()
        .package("update-V1-update-V2.tar.tar").version("V1-update-V2.tar\n"), {},
        "update-V1-update-V2.tar.tar", "已經是最新版本: V1-update-V2.tar");
    row("device newer, no ordering", Medium().package(v2).version("V3.0\n"), "V2.0\n", v2, done);
    row("version not rewritten", Medium(v1).package(v2), {}, v2, unchanged);
    row("version file without line feed", Medium(v1).package(v2), "V2.0", v2, unchanged);
    row("version in other case", Medium(v1).package(v2), "v2.0\n", v2, unchanged);
    row("no package folder", v1, {}, {}, none);
    row("only a side file", Medium(v1).package("update-V1.2.tar", Spoil::SideFileOnly), {}, {},
        none);
    row("names that do not match as a whole", Medium(v1).package("update-1.0.tar")
        .package("xupdate-V1.0.tar").package("update-V1.0.tar.gz"), {}, {}, none);
    row("name order, not version order", Medium(v1).package("update-V1.10.tar")
        .package("update-V1.9.tar"), "V1.9\n", "update-V1.9.tar", done);
    row("names ordered in lower case", Medium(v1).package("UPDATE-V3.TAR")
        .package("update-V1.tar"), {}, "UPDATE-V3.TAR", unchanged);
    row("folders and links are no packages", Medium(v1).package("update-V1.tar")
        .package("update-V3.tar", Spoil::Folder).package("update-V4.tar", Spoil::LinkedOff),
        "V1\n", "update-V1.tar", done);
    row("last one wrong, earlier one right", Medium(v1).package("update-V1.tar")
        .package("update-V2.tar", Spoil::WrongDigest), {}, "update-V2.tar", bad);
    row("upper-case digest", Medium(v1).package("update-V2.tar", Spoil::UpperDigest), {},
        "update-V2.tar", bad);
    row("side file a link off the medium", Medium(v1).package("update-V2.tar", Spoil::OffMedium),
        {}, "update-V2.tar", bad);
    row("run/upgrade leads off the medium", Medium(v1).link("run/upgrade", Medium::Elsewhere)
        .package("update-V2.tar"), {}, {}, none);
}

// The package, its checksum and the version before the script; after an
// exit code of 0, the version file read again.
void TestDecisions::upgrade()
{
    QFETCH(Medium, medium);
    QFETCH(QByteArray, after);
    QFETCH(QString, takes);
    QFETCH(QString, note);
    TestDevice device;
    const MediumCheck::Report report = lay(device, medium, "A7");
    const QString folder = MediumLayout::packageFolder(device.medium());
    const FolderState state = MediumLayout::folderState(device.medium(), folder);
    const QStringList listing
        = state == FolderState::Exists ? UpgradeCatalog::listPackages(folder) : QStringList();
    const QString taken = UpgradeCatalog::choosePackage(listing);
    const UpgradeCatalog::PackageCheck check = UpgradeCatalog::checkPackage(folder, taken);
    QString said = noteOf(JobDecisions::packageEnd(state, listing, taken.isEmpty() ? nullptr : &check));
    const QString installed = UpgradeCatalog::sameVersion(taken, Utils::ReadVersionFromFile());
    if (said.isEmpty() && !installed.isEmpty())
        said = Texts::note(JobEnds::Upgrade::AlreadyLatest, installed);
    QCOMPARE(predicted(report, MediumCheck::Job::Upgrade), said);
    QCOMPARE(report.upgrade.taken, taken);
    QCOMPARE(taken, takes);
    if (said.isEmpty() && !after.isNull())
        device.writeVersionFile(after);
    const QString named = UpgradeCatalog::sameVersion(taken, Utils::ReadVersionFromFile());
    QCOMPARE(said.isEmpty() ? noteOf(JobDecisions::upgradeEnd(0, !named.isEmpty())) : said, note);
}

int main(int argc, char *argv[])
{
    if (!TestSupport::prepareProcess())
        return 1;
    QCoreApplication app(argc, argv);
    TestDecisions test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_decisions.moc"
