// KivZipArchive: opens a zip archive, adds files, lists and extracts entries, and closes it,
// through the zip archive component.
#pragma once

#include <optional>
#include <string>

#include "kiv/fld/handle.hpp"

namespace kiv::fld {

struct KIV_FLD_API KivZipArchiveWrapper;
extern template class BasicHandle<KivZipArchiveWrapper>;

/// Which archive the operations after Open work on, and whether one is open at all, is known
/// only to the component object; all copies of a handle share that one object and archive.
/// WARNING: destroying the last handle does not close the archive; call Close first.
class KIV_FLD_API KivZipArchive : public BasicHandle<KivZipArchiveWrapper> {
public:
    using BasicHandle::BasicHandle;

    /// A handle over a new zip archive component object. Raises what creating it raises (for
    /// example when no component library provides it); never returns an empty handle.
    static KivZipArchive CreateInstance();

    /// Opens the archive at `archiveAbsolutePath`; `openMode` reaches the component unchanged and
    /// means what it decides. False for an empty handle or any failure.
    bool Open(const std::string& archiveAbsolutePath, int openMode);

    /// Adds the file at `absolutePath` as the entry `entryName`. False for an empty handle or any
    /// failure.
    bool AddFile(const std::string& absolutePath, const std::string& entryName);

    /// Writes the entry `entryName` to `destinationAbsolutePath`; what `overwrite` does to an
    /// existing file is the component's choice. False for an empty handle or any failure.
    bool ExtractEntryToFile(const std::string& entryName, const std::string& destinationAbsolutePath, bool overwrite);

    /// The component's listing of the entries, in its own text format. Absent for an empty handle,
    /// any failure or a null answer; an empty answer gives a present empty string.
    std::optional<std::string> GetEntries();

    /// Closes the archive. False for an empty handle or any failure.
    bool Close();
};

}  // namespace kiv::fld
