// Reading the files a message attaches, with errors that name the file.
#include "attachment_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kiv/runtime/errors.hpp"

namespace KivFldEmail {

mime::Attachment ReadAttachment(std::string_view utf8Path) {
    if (utf8Path.empty()) throw kiv::runtime::ArgumentError("An attachment path is empty.");
    const std::string path(utf8Path);
    if (path.find('\0') != std::string::npos) {
        throw kiv::runtime::ArgumentError("The attachment path '" + path + "' contains a zero character.");
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            throw kiv::runtime::FileNotFoundError("Could not find the attachment file '" + path + "'.");
        }
        throw kiv::runtime::IoError("Could not open the attachment file '" + path + "': " + std::strerror(error) + ".");
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        throw kiv::runtime::IoError("The attachment '" + path + "' is not a regular file.");
    }
    mime::Attachment attachment;
    attachment.bytes.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            throw kiv::runtime::IoError("Could not read the attachment file '" + path + "': " + std::strerror(errno) +
                                        ".");
        }
        attachment.bytes.append(buffer, static_cast<std::size_t>(count));
    }
    const std::size_t slash = path.rfind('/');
    attachment.fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    attachment.contentType = mime::ContentTypeForFileName(attachment.fileName);
    return attachment;
}

}  // namespace KivFldEmail
