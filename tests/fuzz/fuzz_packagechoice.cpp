// The upgrade's package over a package folder drawn from the input: the one
// taken, its side file (its whole name and ".md5"), its end, its version.

#include "fuzzmedium.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using MediumLayout::FolderState;
    const FuzzMedium::Folder folder = FuzzMedium::draw(data, size);
    const QStringList listing = UpgradeCatalog::listPackages(folder.regularFiles());
    const QString taken = UpgradeCatalog::choosePackage(listing);
    const QString wanted = FuzzMedium::wantedPackage(folder);
    FuzzInput::expect(taken == wanted, "the last package in list order", taken, wanted);
    const FolderState state = FolderState(folder.spare % 4);
    const bool none = state != FolderState::Exists || wanted.isEmpty();
    FuzzInput::expect((JobDecisions::packageEnd(state, listing, nullptr)
                       == JobEnds::Upgrade::NoPackage) == none, "no package");
    if (none)
        return 0;
    const UpgradeCatalog::PackageCheck check = UpgradeCatalog::checkPackage(
        QStringLiteral("/nonexistent"), taken,
        [&](const QString &package, const QString &side) { return folder.hash(package, side); });
    FuzzInput::expect(JobDecisions::packageEnd(state, listing, &check).has_value()
                          != FuzzMedium::vouched(folder, wanted, wanted + ".md5"),
                      "only a package its side file vouches for goes on");
    const QString version = FuzzMedium::versionOf(wanted);
    const QString device = folder.spare & 4 ? version : QStringLiteral("V1.9");
    const QString same = UpgradeCatalog::sameVersion(check.path, device);
    FuzzInput::expect(same == (version == device ? version : ""), "installed on the same version",
                      same, device);
    return 0;
}
