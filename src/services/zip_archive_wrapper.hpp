// The wrapper behind KivZipArchive, complete only inside the library (and its white-box tests).
#pragma once

#include "KivFldZipArchive/KivZipArchive.hpp"
#include "foundation/handle_impl.hpp"
#include "kiv/fld/zip_archive.hpp"

namespace kiv::fld {

struct KIV_FLD_API KivZipArchiveWrapper : ComponentRoot<KivFldZipArchive::KivZipArchive> {
    using ComponentRoot::ComponentRoot;
};

}  // namespace kiv::fld
