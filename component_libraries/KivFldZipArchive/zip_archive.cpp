// KivFldZipArchive.KivZipArchive: real zip archives through libzip, one archive per object.
//
// openMode: 0 read (the archive must exist), 1 create (a new archive; an existing file is
// refused), 2 update (open an existing archive or start a new one). Additions are written when
// Close succeeds; an object reclaimed while an archive is still open discards its changes.
// GetEntries answers the entry names in archive order, each followed by "\n" (so an archive
// without entries answers ""). Paths and entry names cross as UTF-16 and are used as UTF-8.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "KivFldZipArchive/KivZipArchive.hpp"
#include "common/utf16.hpp"
#include "kiv/runtime/activation.hpp"
#include "kiv/runtime/errors.hpp"

namespace kivfld::components {
namespace {

using kiv::runtime::ArgumentError;
using kiv::runtime::ArgumentNullError;
using kiv::runtime::ArgumentOutOfRangeError;
using kiv::runtime::FileNotFoundError;
using kiv::runtime::InvalidOperationError;
using kiv::runtime::IoError;
using kiv::runtime::String;

enum class Mode : std::int32_t { Read = 0, Create = 1, Update = 2 };

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string SystemMessage(int error) { return std::strerror(error); }

// A path or entry name as the UTF-8 text the file system and the archive use. Text that would
// name something other than what the caller wrote (a zero character cuts a path short, a lone
// surrogate has no UTF-8 form) is refused rather than altered.
std::string TextArgument(const String& text, const char* parameter) {
    const std::string suffix = std::string(" (Parameter '") + parameter + "')";
    if (text.IsNull()) throw ArgumentNullError("Value cannot be null." + suffix);
    const std::u16string_view units = text.View();
    if (units.empty()) throw ArgumentError("The value cannot be empty." + suffix);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit == 0) throw ArgumentError("The value cannot contain a zero character." + suffix);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            throw ArgumentError("The value is not valid UTF-16 text." + suffix);
        }
    }
    return ToUtf8(units);
}

std::string LibzipMessage(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string message = zip_error_strerror(&error);
    zip_error_fini(&error);
    return message;
}

// A file created beside `destination` under a fresh name, removed again unless committed. The
// entry is written here first so that a failed extraction never leaves a truncated destination
// behind, nor destroys the file it was meant to replace.
class SiblingTemporaryFile {
public:
    explicit SiblingTemporaryFile(const std::string& destination, mode_t mode) {
        static std::atomic<std::uint64_t> counter{0};
        // A short name of its own, so that a destination name near the length limit still fits.
        const std::string folder = std::filesystem::path(destination).parent_path().string();
        for (int attempt = 0; attempt < 100; ++attempt) {
            m_path = (folder.empty() ? std::string(".") : folder) + "/.kivfld-extract-" + std::to_string(::getpid()) +
                     "-" + std::to_string(++counter);
            m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (m_fd >= 0) return;
            if (errno != EEXIST) break;
        }
        const int error = errno;
        m_path.clear();
        throw IoError("Could not write " + Quoted(destination) + ": " + SystemMessage(error) + ".");
    }
    ~SiblingTemporaryFile() {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_path.empty()) ::unlink(m_path.c_str());
    }
    SiblingTemporaryFile(const SiblingTemporaryFile&) = delete;
    SiblingTemporaryFile& operator=(const SiblingTemporaryFile&) = delete;

    int Descriptor() const { return m_fd; }
    const std::string& Path() const { return m_path; }

    /// Closes the file; returns errno of a failed close, or 0.
    int Close() {
        const int result = ::close(std::exchange(m_fd, -1));
        return result == 0 ? 0 : errno;
    }
    /// The file now lives under another name; nothing is removed any more.
    void Release() { m_path.clear(); }

private:
    std::string m_path;
    int m_fd = -1;
};

void WriteAll(int fd, const char* data, std::size_t size, const std::string& destination) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw IoError("Could not write " + Quoted(destination) + ": " + SystemMessage(errno) + ".");
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// Moves `temporary` to `destination`; without `overwrite` an existing destination is never
// replaced, not even one that appeared since it was checked.
void Commit(SiblingTemporaryFile& temporary, const std::string& destination, bool overwrite) {
    const char* from = temporary.Path().c_str();
    if (overwrite) {
        if (::rename(from, destination.c_str()) != 0)
            throw IoError("Could not write " + Quoted(destination) + ": " + SystemMessage(errno) + ".");
        temporary.Release();
        return;
    }
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) {
        temporary.Release();
        return;
    }
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        // The file system cannot rename without replacing; a hard link refuses an existing name too.
        if (::link(from, destination.c_str()) == 0) return;  // the temporary name is removed on return
        error = errno;
    }
    if (error == EEXIST) throw IoError("The file " + Quoted(destination) + " already exists.");
    throw IoError("Could not write " + Quoted(destination) + ": " + SystemMessage(error) + ".");
}

// The end-of-central-directory record of an archive without entries: what "create" leaves when
// nothing was added (libzip writes no file at all for an empty archive).
void WriteEmptyArchive(const std::string& path) {
    static constexpr char kEmptyArchive[22] = {'P', 'K', 5, 6};
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST) return;
        throw IoError("Could not write the archive " + Quoted(path) + ": " + SystemMessage(errno) + ".");
    }
    try {
        WriteAll(fd, kEmptyArchive, sizeof kEmptyArchive, path);
    } catch (...) {
        ::close(fd);
        ::unlink(path.c_str());
        throw;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        throw IoError("Could not write the archive " + Quoted(path) + ": " + SystemMessage(error) + ".");
    }
}

class ZipArchive final : public KivFldZipArchive::KivZipArchive {
public:
    ~ZipArchive() override {
        if (m_archive) zip_discard(m_archive);
    }

    void Open(const String& archiveAbsolutePath, std::int32_t openMode) override {
        const std::string path = TextArgument(archiveAbsolutePath, "archiveAbsolutePath");
        int flags = 0;
        switch (openMode) {
            case static_cast<std::int32_t>(Mode::Read):
                flags = ZIP_RDONLY;
                break;
            case static_cast<std::int32_t>(Mode::Create):
                flags = ZIP_CREATE | ZIP_EXCL;
                break;
            case static_cast<std::int32_t>(Mode::Update):
                flags = ZIP_CREATE;
                break;
            default:
                throw ArgumentOutOfRangeError("openMode must be 0 (read), 1 (create) or 2 (update), not " +
                                              std::to_string(openMode) + ".");
        }
        const std::lock_guard lock(m_mutex);
        if (m_archive) throw InvalidOperationError("An archive is already open; close it first.");
        int code = ZIP_ER_OK;
        zip_t* archive = zip_open(path.c_str(), flags, &code);
        if (!archive) {
            switch (code) {
                case ZIP_ER_NOENT:
                    throw FileNotFoundError("Could not find the archive " + Quoted(path) + ".");
                case ZIP_ER_EXISTS:
                    throw IoError("The archive " + Quoted(path) + " already exists; open it for update to add to it.");
                case ZIP_ER_NOZIP:
                case ZIP_ER_INCONS:
                    throw IoError(Quoted(path) + " is not a zip archive.");
                default:
                    throw IoError("Could not open the archive " + Quoted(path) + ": " + LibzipMessage(code) + ".");
            }
        }
        m_archive = archive;
        m_mode = static_cast<Mode>(openMode);
        m_path = path;
    }

    void AddFile(const String& absolutePath, const String& entryName) override {
        const std::string source = TextArgument(absolutePath, "absolutePath");
        const std::string name = TextArgument(entryName, "entryName");
        // One name per line is how GetEntries answers; a name with a line break would read as two.
        if (name.find_first_of("\r\n") != std::string::npos)
            throw ArgumentError("An entry name cannot contain a line break. (Parameter 'entryName')");
        const std::lock_guard lock(m_mutex);
        RequireOpen();
        if (m_mode == Mode::Read)
            throw InvalidOperationError("The archive was opened for reading; entries cannot be added.");
        if (zip_name_locate(m_archive, name.c_str(), 0) >= 0)
            throw ArgumentError("The archive already has an entry named " + Quoted(name) + ".");

        // Opened now, so that a missing or unreadable file is reported here and not at Close.
        FILE* file = std::fopen(source.c_str(), "rbe");
        if (!file) {
            const int error = errno;
            if (error == ENOENT || error == ENOTDIR)
                throw FileNotFoundError("Could not find file " + Quoted(source) + ".");
            throw IoError("Could not read " + Quoted(source) + ": " + SystemMessage(error) + ".");
        }
        struct stat status {};
        if (::fstat(::fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) {
            std::fclose(file);
            throw IoError(Quoted(source) + " is not a regular file.");
        }
        zip_source_t* data = zip_source_filep(m_archive, file, 0, -1);  // owns `file` from here on
        if (!data) {
            std::fclose(file);
            throw IoError("Could not read " + Quoted(source) + ": " + zip_strerror(m_archive) + ".");
        }
        if (zip_file_add(m_archive, name.c_str(), data, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(data);
            throw IoError("Could not add " + Quoted(name) + ": " + zip_strerror(m_archive) + ".");
        }
    }

    void ExtractEntryToFile(const String& entryName, const String& destinationAbsolutePath, bool overwrite) override {
        const std::string name = TextArgument(entryName, "entryName");
        const std::string destination = TextArgument(destinationAbsolutePath, "destinationAbsolutePath");
        const std::lock_guard lock(m_mutex);
        RequireOpen();
        if (m_mode == Mode::Create)
            throw InvalidOperationError("The archive was opened for creating; its entries cannot be read.");
        const zip_int64_t index = zip_name_locate(m_archive, name.c_str(), 0);
        if (index < 0) throw ArgumentError("The archive has no entry named " + Quoted(name) + ".");
        if (name.back() == '/') throw ArgumentError("The entry " + Quoted(name) + " is a directory, not a file.");

        mode_t mode = 0666;
        struct stat existing {};
        if (::stat(destination.c_str(), &existing) == 0) {
            if (S_ISDIR(existing.st_mode)) throw IoError(Quoted(destination) + " is a directory.");
            if (!overwrite) throw IoError("The file " + Quoted(destination) + " already exists.");
            mode = existing.st_mode & 07777;  // a replaced file keeps its permissions
        }

        zip_file_t* entry = zip_fopen_index(m_archive, static_cast<zip_uint64_t>(index), 0);
        if (!entry) {
            if (zip_error_code_zip(zip_get_error(m_archive)) == ZIP_ER_CHANGED)
                throw InvalidOperationError("The entry " + Quoted(name) +
                                            " was added since the archive was opened; close the archive before "
                                            "extracting it.");
            throw IoError("Could not read the entry " + Quoted(name) + ": " + zip_strerror(m_archive) + ".");
        }
        struct EntryCloser {
            zip_file_t* entry;
            ~EntryCloser() { zip_fclose(entry); }
        } closer{entry};

        SiblingTemporaryFile temporary(destination, mode);
        if (mode != 0666) ::fchmod(temporary.Descriptor(), mode);
        char buffer[64 * 1024];
        for (;;) {
            const zip_int64_t read = zip_fread(entry, buffer, sizeof buffer);
            if (read < 0)  // a damaged entry (its checksum among others) ends up here
                throw IoError("Could not read the entry " + Quoted(name) + ": " + zip_file_strerror(entry) + ".");
            if (read == 0) break;
            WriteAll(temporary.Descriptor(), buffer, static_cast<std::size_t>(read), destination);
        }
        zip_stat_t entryStatus;
        zip_stat_init(&entryStatus);
        if (zip_stat_index(m_archive, static_cast<zip_uint64_t>(index), 0, &entryStatus) == 0 &&
            (entryStatus.valid & ZIP_STAT_MTIME)) {
            const timespec times[2] = {{0, UTIME_OMIT}, {entryStatus.mtime, 0}};
            ::futimens(temporary.Descriptor(), times);
        }
        int error = ::fsync(temporary.Descriptor()) == 0 ? 0 : errno;
        const int closeError = temporary.Close();
        if (error == 0) error = closeError;
        if (error != 0) throw IoError("Could not write " + Quoted(destination) + ": " + SystemMessage(error) + ".");
        Commit(temporary, destination, overwrite);
    }

    String GetEntries() override {
        const std::lock_guard lock(m_mutex);
        RequireOpen();
        const zip_int64_t count = zip_get_num_entries(m_archive, 0);
        std::string listing;
        for (zip_int64_t index = 0; index < count; ++index) {
            // Names not marked as UTF-8 are guessed (UTF-8 or CP437) and given as UTF-8.
            const char* name = zip_get_name(m_archive, static_cast<zip_uint64_t>(index), 0);
            if (!name) throw IoError("Could not read the entry names: " + std::string(zip_strerror(m_archive)) + ".");
            const std::string_view text(name);
            if (text.find_first_of("\r\n") != std::string_view::npos)
                throw IoError("The entry " + Quoted(text) +
                              " has a line break in its name, which a listing of one name per line cannot show.");
            listing += text;
            listing += '\n';
        }
        return ToComponentString(listing);
    }

    void Close() override {
        const std::lock_guard lock(m_mutex);
        RequireOpen();
        zip_t* archive = std::exchange(m_archive, nullptr);
        // libzip writes a new file beside the archive and renames it over the old one, so a
        // failure leaves the archive as it was; the changes are dropped with the handle.
        if (zip_close(archive) != 0) {
            const std::string message = zip_strerror(archive);
            zip_discard(archive);
            throw IoError("Could not write the archive " + Quoted(m_path) + ": " + message + ".");
        }
        if (m_mode != Mode::Read) WriteEmptyArchive(m_path);  // only where libzip left no file
    }

private:
    void RequireOpen() const {
        if (!m_archive) throw InvalidOperationError("No archive is open; call Open first.");
    }

    std::mutex m_mutex;  // copies of one handle may call from several threads; libzip is not thread-safe
    zip_t* m_archive = nullptr;
    Mode m_mode = Mode::Read;
    std::string m_path;
};

using Contract = KivFldZipArchive::KivZipArchive;
const kiv::runtime::ClassRegistration registration{std::string(Contract::kLibrary), std::string(Contract::kClassName),
                                                   kiv::runtime::ClassRegistration::FactoryOf<ZipArchive>()};

}  // namespace
}  // namespace kivfld::components
