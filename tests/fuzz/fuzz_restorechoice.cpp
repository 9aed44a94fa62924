// The restoration's choice over a device folder drawn from the input: the
// one chosen, the name its script gets, why each other was passed over.

#include "fuzzmedium.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzMedium::Folder folder = FuzzMedium::draw(data, size);
    QVector<BackupCatalog::Candidate> seen;
    const BackupCatalog::Selection selection = BackupCatalog::selectFrom(
        QStringLiteral("/nonexistent"), BackupCatalog::listArchives(folder.regularFiles()),
        [&](const QString &archive, const QString &side) { return folder.hash(archive, side); },
        [&](const BackupCatalog::Candidate &candidate) { seen << candidate; });
    const QPair<QString, int> wanted = FuzzMedium::wantedChoice(folder);
    const QString restored = wanted.first.isEmpty() ? "" : FuzzMedium::baseOf(wanted.first) + ".tar";
    FuzzInput::expect(selection.chosenFileName == wanted.first && selection.maxIndex == wanted.second
                          && BackupCatalog::restoredFileName(selection) == restored,
                      "the intact archive with the highest index, ties to the first",
                      selection.chosenFileName, wanted.first);
    FuzzInput::expect(JobDecisions::choiceEnd(MediumLayout::FolderState::Exists, selection)
                          .has_value() == wanted.first.isEmpty(), "no restoration without a choice");
    for (const BackupCatalog::Candidate &candidate : seen) {
        FuzzInput::expect(JobDecisions::candidacy(candidate, selection)
                              == FuzzMedium::wantedCandidacy(folder, candidate.fileName, wanted),
                          "why a candidate was passed over", candidate.fileName);
    }
    return 0;
}
