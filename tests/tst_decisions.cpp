// Each job's decisions as one table, straight from the services layer in
// the order the screens take them: no screen, no delay, milliseconds a row.
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

enum Step { Numbering, Verification, Choice, Package };

// Why the restoration passed an archive over, by JobDecisions::Candidacy.
const char *const kWhy[] = {"taken", "twin", "unreadable", "no side file", "no digest",
                            "digests differ", "index 0", "same index later", "older"};
const QString kStamp = QStringLiteral("20260101");

// Said after a step's decision when check predicts another end (the note
// when the medium decides the job, none when its script runs) or `alsoAgrees` fails.
QStringList differs(const MediumCheck::Report &check, MediumCheck::Job job, const QString &note,
                    bool alsoAgrees)
{
    const MediumCheck::Outcome outcome = MediumCheck::outcome(check, job);
    const bool agrees = (outcome.decided ? outcome.note : QString()) == note && alsoAgrees;
    return agrees ? QStringList() : QStringList{"check differs"};
}

template <typename End>
QString noteOf(const std::optional<End> &end)
{
    return end ? Texts::note(*end) : QString();
}

// The device folder's state, then the next index: the index or the end.
QStringList numbering(const QString &medium, const QString &snum, const MediumCheck::Report &check)
{
    const FolderState state = MediumLayout::deviceFolderState(medium, snum);
    std::optional<JobEnds::Backup> end = JobDecisions::folderEnd(state);
    int index = JobDecisions::kFirstIndex;
    if (state == FolderState::Exists) {
        index = BackupCatalog::nextIndex(MediumLayout::deviceFolder(medium, snum));
        end = JobDecisions::indexEnd(index);
    }
    return QStringList{end ? noteOf(end) : QString::number(index)}
           + differs(check, MediumCheck::Job::Backup, noteOf(end),
                     end || check.backup.nextIndex == index);
}

// The files the backup named itself (index 1), checked after its script.
QStringList verification(const QString &medium)
{
    const JobDecisions::BackupCheck check
        = JobDecisions::verifyBackup(JobDecisions::backupFiles(medium, "A7", kStamp, 1));
    return {Texts::note(JobEnds::backupVerified(check.code))};
}

// The restored name or the end, then why each one but the older was passed over.
QStringList choice(const QString &medium, const MediumCheck::Report &check)
{
    const FolderState state = MediumLayout::deviceFolderState(medium, "A7");
    QVector<BackupCatalog::Candidate> candidates;
    const BackupCatalog::Selection selection = state != FolderState::Exists
        ? BackupCatalog::Selection() : BackupCatalog::selectNewestIntact(
              MediumLayout::deviceFolder(medium, "A7"),
              [&candidates](const BackupCatalog::Candidate &each) { candidates << each; });
    const std::optional<JobEnds::Restore> end = JobDecisions::choiceEnd(state, selection);
    const QString restored = end ? QString() : BackupCatalog::restoredFileName(selection);
    QStringList said = QStringList{end ? noteOf(end) : restored}
                       + differs(check, MediumCheck::Job::Restore, noteOf(end),
                                 check.restore.restoredFileName == restored);
    for (const BackupCatalog::Candidate &each : candidates) {
        const JobDecisions::Candidacy why = JobDecisions::candidacy(each, selection);
        if (why > JobDecisions::Candidacy::TakenAsTwin && why != JobDecisions::Candidacy::Older)
            said << QString::number(each.index) + ' ' + kWhy[int(why)];
    }
    return said;
}

// The package and its checksum, the version; after an exit code of 0 the
// version file read again, once the script has left `after` in it.
QStringList package(const TestDevice &device, const QByteArray &after,
                    const MediumCheck::Report &check)
{
    const QString folder = MediumLayout::packageFolder(device.medium());
    const FolderState state = MediumLayout::folderState(device.medium(), folder);
    const QStringList names
        = state == FolderState::Exists ? UpgradeCatalog::listPackages(folder) : QStringList();
    const QString taken = UpgradeCatalog::choosePackage(names);
    const UpgradeCatalog::PackageCheck sum = UpgradeCatalog::checkPackage(folder, taken);
    QString end = noteOf(JobDecisions::packageEnd(state, names, taken.isEmpty() ? nullptr : &sum));
    const QString installed = UpgradeCatalog::sameVersion(taken, Utils::ReadVersionFromFile());
    if (end.isEmpty() && !installed.isEmpty())
        end = Texts::note(JobEnds::Upgrade::AlreadyLatest, installed);
    const QStringList checked
        = differs(check, MediumCheck::Job::Upgrade, end, check.upgrade.taken == taken);
    if (end.isEmpty() && !after.isNull())
        device.writeVersionFile(after);
    const QString named = UpgradeCatalog::sameVersion(taken, Utils::ReadVersionFromFile());
    return QStringList{taken, end.isEmpty() ? noteOf(JobDecisions::upgradeEnd(0, !named.isEmpty()))
                                            : end} + checked;
}

} // namespace

class TestDecisions : public QObject
{
    Q_OBJECT

private slots:
    void decisions_data();
    void decisions();
};

void TestDecisions::decisions_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<Medium>("medium");
    QTest::addColumn<QStringList>("ends"); // what the step decides, as its function says
    QTest::addColumn<QByteArray>("after"); // the version file the upgrade script leaves
    QTest::addColumn<QString>("serial");
    auto row = [](const char *name, Step step, const Medium &medium, const QStringList &ends,
                  const QByteArray &after = {}, const QString &serial = "A7") {
        QTest::newRow(name) << int(step) << medium << ends << after << serial;
    };
    const QString noFolder = QStringLiteral("創建備份檔夾失敗");
    // An empty medium and the highest index + 1: tst_jobs's rows of those names.
    row("backup: upper case counts; side files, folders, links do not", Numbering, Medium()
        .backupNamed("DATA-A7-2024-4.TAR").file("run/data/data-A7/data-A7-x-7.md5")
        .dir("run/data/data-A7/data-A7-x-8.tar")
        .link("run/data/data-A7/data-A7-x-9.tar", Medium::Elsewhere), {"5"});
    row("backup: no 32-bit index, never below 2", Numbering, Medium().backup("2024", 0)
        .backupNamed("data-A7-2024-x.tar").backup("2024", 2147483648)
        .backupNamed("data-A7-5-.tar"), {"2"});
    row("backup: serial with -", Numbering, Medium().backup("2024", 4), {"5"}, {}, "A-7");
    row("backup: serial with . cuts the name", Numbering, Medium().backup("2024", 7), {"2"},
        {}, "1.2");
    row("backup: largest index taken", Numbering, Medium().backup("2024", 2147483647),
        {"備份失敗"});
    row("backup: a file where the device folder goes", Numbering,
        Medium().file("run/data/data-A7"), {noFolder});
    row("backup: run/data leads off the medium", Numbering,
        Medium().link("run/data", Medium::Elsewhere), {noFolder});
    // Out of run/data: so much the more off the medium.
    row("backup: a serial that climbs out of run/data", Numbering, {}, {noFolder}, {},
        "../../../x");

    const QString mismatch = QStringLiteral("備份失敗 ：備份檔校驗錯誤");
    const QString base = "run/data/data-A7/data-A7-" + kStamp + "-1";
    row("verify: good", Verification, Medium().backup(kStamp, 1), {" 備份成功 "});
    row("verify: another index written", Verification, Medium().backup(kStamp, 99),
        {"備份失敗 ：備份檔不存在"});
    row("verify: no side file", Verification, Medium().backup(kStamp, 1, Spoil::NoSideFile),
        {"備份失敗 ：備份檔MD5不不存在"});
    row("verify: wrong digest", Verification, Medium().backup(kStamp, 1, Spoil::WrongDigest),
        {mismatch});
    row("verify: unreadable archive, empty side file", Verification,
        Medium().dir(base + ".tar").file(base + ".md5", ""), {mismatch});

    const Medium two = Medium().backup("1", 1).backup("2", 2, Spoil::DigestAlone);
    auto third = [&two](Spoil spoil) { return Medium(two).backup("3", 3, spoil); };
    const QString second = QStringLiteral("data-A7-2-2.tar");
    const QString none = QStringLiteral("備份檔不存在");
    const QString stray = QStringLiteral("4%1").arg(QChar(0xDCFF)); // byte 0xFF
    row("restore: the newest of three", Choice, third(Spoil::None), {"data-A7-3-3.tar"});
    // Taking any one of them would restore it instead of the second.
    row("restore: newer ones with another digest, no side file, side file off the medium", Choice,
        third(Spoil::WrongDigest).backup("4", 4, Spoil::NoSideFile).backup("5", 5,
        Spoil::OffMedium), {second, "3 digests differ", "4 no side file", "5 no digest"});
    row("restore: a name that is not UTF-8", Choice, third(Spoil::None).backup(stray, 4),
        {"data-A7-" + stray + "-4.tar"});
    row("restore: equal index, earlier time stamp", Choice, Medium().backup("5", 4)
        .backup("1", 4).backup("3", 3), {"data-A7-1-4.tar", "4 same index later"});
    row("restore: paired by base name", Choice, Medium().backup("1", 2)
        .backupNamed("DATA-A7-3-5.TAR").backupNamed("DATA-A7-4-6.TAR", Spoil::NoSideFile)
        .backupNamed("DATA-A7-5-7.TAR", Spoil::Dataless),
        {"data-A7-1-2.tar", "5 unreadable", "6 unreadable", "7 unreadable"});
    // Both list as index 6; each is hashed as the .tar, whose digest the
    // side file holds, and the .tar is what the script gets.
    row("restore: an upper-case twin is restored as the .tar", Choice, Medium()
        .backupNamed("data-A7-1-6.TAR").backupNamed("data-A7-1-6.tar"), {"data-A7-1-6.tar"});
    row("restore: no device folder", Choice, {}, {none});
    row("restore: only side files, index 0 and not a number", Choice, Medium().backup("1", 0)
        .backupNamed("data-A7-2-x9.tar").backup("1", 3, Spoil::SideFileOnly),
        {none, "0 index 0", "0 index 0"});
    row("restore: run/data leads off the medium", Choice,
        Medium().link("run/data", Medium::Elsewhere).lay(two), {none});

    const QString unchanged = QStringLiteral("升級失敗,軟體版本未更新");
    const QString noPackage = QStringLiteral("升級包不存在");
    const QString bad = QStringLiteral("升級包校驗錯誤");
    const QString done = QStringLiteral("升級成功");
    const QString v2 = QStringLiteral("update-V2.0.tar");
    const Medium v1 = Medium().version("V1.0\n");
    // Installed, already on the version, version not rewritten: tst_jobs's rows.
    row("upgrade: version after the first update-, before the last .tar", Package, Medium()
        .package("update-V1-update-V2.tar.tar").version("V1-update-V2.tar\n"),
        {"update-V1-update-V2.tar.tar", "已經是最新版本: V1-update-V2.tar"});
    row("upgrade: version file without line feed", Package, Medium(v1).package(v2),
        {v2, unchanged}, "V2.0");
    row("upgrade: version in other case", Package, Medium(v1).package(v2), {v2, unchanged},
        "v2.0\n");
    row("upgrade: no package folder", Package, v1, {{}, noPackage});
    // Not one of these is listed: a lone side file, names that do not match as a whole.
    row("upgrade: no package among the names", Package, Medium(v1).package("update-V1.tar",
        Spoil::SideFileOnly).package("update-1.0.tar").package("xupdate-V1.0.tar")
        .package("update-V1.0.tar.gz"), {{}, noPackage});
    row("upgrade: name order, not version order", Package, Medium(v1).package("update-V1.10.tar")
        .package("update-V1.9.tar"), {"update-V1.9.tar", done}, "V1.9\n");
    row("upgrade: names ordered in lower case", Package, Medium(v1).package("UPDATE-V3.TAR")
        .package("update-V1.tar"), {"UPDATE-V3.TAR", unchanged});
    row("upgrade: folders and links are no packages", Package, Medium(v1).package("update-V1.tar")
        .package("update-V3.tar", Spoil::Folder).package("update-V4.tar", Spoil::LinkedOff),
        {"update-V1.tar", done}, "V1\n");
    row("upgrade: last one wrong, earlier one right", Package, Medium(v1).package("update-V1.tar")
        .package("update-V2.tar", Spoil::WrongDigest), {"update-V2.tar", bad});
    row("upgrade: side file a link off the medium", Package, Medium(v1)
        .package("update-V2.tar", Spoil::OffMedium), {"update-V2.tar", bad});
    row("upgrade: run/upgrade leads off the medium", Package, Medium(v1)
        .link("run/upgrade", Medium::Elsewhere).package("update-V2.tar"), {{}, noPackage});
}

void TestDecisions::decisions()
{
    QFETCH(int, step);
    QFETCH(Medium, medium);
    QFETCH(QStringList, ends);
    QFETCH(QByteArray, after);
    QFETCH(QString, serial);
    TestDevice device;
    // A runnable script for each job, so that check's outcome is the medium's alone.
    device.lay(Medium().script(Job::Backup, Script::exits(0)).script(Job::Recover,
               Script::exits(0)).script(Job::Upgrade, Script::exits(0)).lay(medium), serial);
    const MediumCheck::Report check = MediumCheck::inspect(
        {device.medium(), serial, QFile::exists(device.versionFile()), device.versionFile(), {}});
    const QString root = device.medium();
    const QStringList said = step == Numbering ? numbering(root, serial, check)
                             : step == Verification ? verification(root)
                             : step == Choice ? choice(root, check)
                                              : package(device, after, check);
    QCOMPARE(said, ends);
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
