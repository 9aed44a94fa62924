// The backup's next index over a device folder drawn from the input, and
// the ends the folder and the index decide.

#include "fuzzmedium.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using MediumLayout::FolderState;
    const FuzzMedium::Folder folder = FuzzMedium::draw(data, size);
    const FolderState state = FolderState(folder.spare % 4);
    FuzzInput::expect(JobDecisions::folderEnd(state).has_value()
                          == (state == FolderState::Blocked || state == FolderState::OffMedium),
                      "no backup into a blocked folder or one off the medium");
    const int next = BackupCatalog::nextIndexOf(BackupCatalog::listArchives(folder.regularFiles()));
    const int wanted = FuzzMedium::wantedNextIndex(folder);
    FuzzInput::expect(next == wanted && JobDecisions::indexEnd(next).has_value() == (next == 0),
                      "one above the highest index", QString::number(next), QString::number(wanted));
    return 0;
}
