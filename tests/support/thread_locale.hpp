// Runs test code with a given locale as the calling thread's locale.
#pragma once

#include <locale.h>

#include <string>

namespace kiv::fld::testing {

/// Makes `name` the calling thread's locale until destruction; fails the test when the locale is
/// not installed (CI generates every locale the tests use).
class ScopedThreadLocale {
public:
    explicit ScopedThreadLocale(const std::string& name);
    ~ScopedThreadLocale();
    ScopedThreadLocale(const ScopedThreadLocale&) = delete;
    ScopedThreadLocale& operator=(const ScopedThreadLocale&) = delete;

    /// Whether the locale could be created.
    bool Active() const { return m_locale != nullptr; }

private:
    locale_t m_locale = nullptr;
    locale_t m_previous = nullptr;
};

/// The locales the tests need: one UTF-8, one single-byte, two multibyte.
inline constexpr const char* kUtf8Locale = "en_US.UTF-8";
inline constexpr const char* kLatin1Locale = "de_DE.ISO-8859-1";
inline constexpr const char* kGbkLocale = "zh_CN.GBK";
inline constexpr const char* kEucJpLocale = "ja_JP.EUC-JP";

}  // namespace kiv::fld::testing
