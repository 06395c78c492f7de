// Contract of the zip component class KivFldZipArchive.KivZipArchive.
#pragma once

#include <cstdint>
#include <string_view>

#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace KivFldZipArchive {

/// Works on one archive at a time, the one Open named. Every operation that returns nothing
/// reports refusal or failure by raising a component error.
class KIV_RUNTIME_API KivZipArchive : public virtual kiv::runtime::Object {
public:
    static constexpr std::string_view kLibrary = "KivFldZipArchive";
    static constexpr std::string_view kClassName = "KivFldZipArchive.KivZipArchive";

    virtual void Open(const kiv::runtime::String& archiveAbsolutePath, std::int32_t openMode) = 0;
    virtual void AddFile(const kiv::runtime::String& absolutePath, const kiv::runtime::String& entryName) = 0;
    virtual void ExtractEntryToFile(const kiv::runtime::String& entryName,
                                    const kiv::runtime::String& destinationAbsolutePath, bool overwrite) = 0;
    /// The archive's entries as text; may be null.
    virtual kiv::runtime::String GetEntries() = 0;
    virtual void Close() = 0;
};

}  // namespace KivFldZipArchive
