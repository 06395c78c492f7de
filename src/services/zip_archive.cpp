// KivZipArchive: validity test, conversions, one call of the zip component per operation.
#include "kiv/fld/zip_archive.hpp"

#include "foundation/component_call.hpp"
#include "foundation/marshal.hpp"
#include "services/zip_archive_wrapper.hpp"

namespace kiv::fld {

using zul::marshal::ComponentString;
using zul::marshal::marshal_as;

template class BasicHandle<KivZipArchiveWrapper>;

KivZipArchive KivZipArchive::CreateInstance() { return CreateHandle<KivZipArchive, KivZipArchiveWrapper>(); }

bool KivZipArchive::Open(const std::string& archiveAbsolutePath, int openMode) {
    if (!*this) return false;
    return ResultOrOnFailure(false, [&] {
        const auto componentPath = marshal_as<ComponentString>(archiveAbsolutePath);
        m_wrapper->root->Open(componentPath, openMode);
        return true;
    });
}

bool KivZipArchive::AddFile(const std::string& absolutePath, const std::string& entryName) {
    if (!*this) return false;
    return ResultOrOnFailure(false, [&] {
        const auto componentPath = marshal_as<ComponentString>(absolutePath);
        const auto componentEntryName = marshal_as<ComponentString>(entryName);
        m_wrapper->root->AddFile(componentPath, componentEntryName);
        return true;
    });
}

bool KivZipArchive::ExtractEntryToFile(const std::string& entryName, const std::string& destinationAbsolutePath,
                                       bool overwrite) {
    if (!*this) return false;
    return ResultOrOnFailure(false, [&] {
        const auto componentEntryName = marshal_as<ComponentString>(entryName);
        const auto componentDestination = marshal_as<ComponentString>(destinationAbsolutePath);
        m_wrapper->root->ExtractEntryToFile(componentEntryName, componentDestination, overwrite);
        return true;
    });
}

std::optional<std::string> KivZipArchive::GetEntries() {
    if (!*this) return std::nullopt;
    // The optional conversion: a null answer is absent, an empty one a present "".
    return ResultOrOnFailure(std::optional<std::string>(),
                             [&] { return marshal_as<std::optional<std::string>>(m_wrapper->root->GetEntries()); });
}

bool KivZipArchive::Close() {
    if (!*this) return false;
    return ResultOrOnFailure(false, [&] {
        m_wrapper->root->Close();
        return true;
    });
}

}  // namespace kiv::fld
