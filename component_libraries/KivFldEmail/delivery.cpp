// Pickup-folder and SMTP delivery of composed messages.
#include "delivery.hpp"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <utility>

#include "kiv/runtime/errors.hpp"

namespace KivFldEmail {
namespace {

std::string UniqueFileStem() {
    const time_t now = time(nullptr);
    struct tm utc {};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::random_device device;
    char random[40];
    std::snprintf(random, sizeof random, "%08x%08x%08x%08x", device(), device(), device(), device());
    return std::string(stamp) + "-" + random;
}

[[noreturn]] void RaiseIo(const std::string& what, int error) {
    throw kiv::runtime::IoError(what + ": " + std::strerror(error) + ".");
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const noexcept { return m_fd; }
    /// Closes now, reporting the result (close can report a failed delayed write).
    int Close() noexcept { return ::close(std::exchange(m_fd, -1)); }

private:
    int m_fd;
};

void WriteAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            RaiseIo("Could not write the message file '" + path + "'", errno);
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
}

void EnsureCurlInitialised() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (result != CURLE_OK) {
        throw kiv::runtime::IoError(std::string("Could not initialise libcurl: ") + curl_easy_strerror(result) + ".");
    }
}

struct Upload {
    std::string_view remaining;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* userData) {
    auto* upload = static_cast<Upload*>(userData);
    const size_t length = std::min(size * count, upload->remaining.size());
    std::memcpy(buffer, upload->remaining.data(), length);
    upload->remaining.remove_prefix(length);
    return length;
}

struct CurlDeleter {
    void operator()(CURL* curl) const noexcept { curl_easy_cleanup(curl); }
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

}  // namespace

std::filesystem::path DeliverToPickupFolder(const std::filesystem::path& folder, std::string_view message) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw kiv::runtime::IoError("Could not create the mail pickup folder '" + folder.string() +
                                    "': " + error.message() + ".");
    }
    const std::string stem = UniqueFileStem();
    const std::filesystem::path temporary = folder / ("." + stem + ".tmp");
    const std::filesystem::path final = folder / (stem + ".eml");
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (file.Get() < 0)
        RaiseIo("Could not create a message file in the mail pickup folder '" + folder.string() + "'", errno);
    try {
        WriteAll(file.Get(), message, temporary.string());
        if (::fsync(file.Get()) != 0) RaiseIo("Could not flush the message file '" + temporary.string() + "'", errno);
        if (file.Close() != 0) RaiseIo("Could not write the message file '" + temporary.string() + "'", errno);
        if (::rename(temporary.c_str(), final.c_str()) != 0) {
            RaiseIo("Could not move the message file into place as '" + final.string() + "'", errno);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    return final;
}

std::string RedactUrl(std::string_view url) {
    const std::size_t scheme = url.find("://");
    const std::size_t hostStart = scheme == std::string_view::npos ? 0 : scheme + 3;
    const std::size_t hostEnd = url.find_first_of("/?#", hostStart);
    const std::size_t at = url.substr(0, hostEnd).rfind('@');
    if (at == std::string_view::npos || at < hostStart) return std::string(url);
    return std::string(url.substr(0, hostStart)) + std::string(url.substr(at + 1));
}

void DeliverBySmtp(const MailSettings& settings, std::string_view envelopeFrom,
                   const std::vector<std::string>& recipients, std::string_view message) {
    EnsureCurlInitialised();
    const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) throw kiv::runtime::IoError("Could not create a libcurl handle.");

    std::unique_ptr<curl_slist, CurlDeleter> recipientList;
    for (const std::string& recipient : recipients) {
        curl_slist* extended = curl_slist_append(recipientList.get(), ("<" + recipient + ">").c_str());
        if (extended == nullptr) throw kiv::runtime::OutOfMemoryError("Could not list the recipients.");
        recipientList.release();
        recipientList.reset(extended);
    }
    const std::string from = "<" + std::string(envelopeFrom) + ">";
    Upload upload{message};
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* handle = curl.get();

    curl_easy_setopt(handle, CURLOPT_URL, settings.smtpUrl.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(handle, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, recipientList.get());
    curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(handle, CURLOPT_READFUNCTION, &ReadUpload);
    curl_easy_setopt(handle, CURLOPT_READDATA, &upload);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    // No signals: the component may run on any of the host's threads.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, std::min(settings.smtpTimeoutSeconds, 30L));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, settings.smtpTimeoutSeconds);
    if (!settings.smtpUser.empty()) {
        curl_easy_setopt(handle, CURLOPT_USERNAME, settings.smtpUser.c_str());
        curl_easy_setopt(handle, CURLOPT_PASSWORD, settings.smtpPassword.c_str());
    }
    switch (settings.smtpTls) {
        case SmtpTls::Try:
            curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
            break;
        case SmtpTls::Required:
            curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
            break;
        case SmtpTls::None:
            curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_NONE));
            break;
    }

    const CURLcode result = curl_easy_perform(handle);
    if (result != CURLE_OK) {
        long reply = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply);
        std::string text =
            "Could not send the message through " + RedactUrl(settings.smtpUrl) + ": " + curl_easy_strerror(result);
        if (errorText[0] != '\0') text += std::string(" (") + errorText + ")";
        if (reply != 0) text += "; the server's last reply was " + std::to_string(reply);
        throw kiv::runtime::IoError(text + ".");
    }
}

}  // namespace KivFldEmail
