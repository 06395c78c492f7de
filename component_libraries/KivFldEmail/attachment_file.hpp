// Reading the files a message attaches.
#pragma once

#include <string>
#include <string_view>

#include "mime.hpp"

namespace KivFldEmail {

/// The attachment for the file at `utf8Path`: its bytes, its name without folders and a media
/// type from its extension. Raises ArgumentError for an empty path, FileNotFoundError naming a
/// missing file, and IoError for a folder or an unreadable file.
mime::Attachment ReadAttachment(std::string_view utf8Path);

}  // namespace KivFldEmail
