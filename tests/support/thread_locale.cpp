#include "support/thread_locale.hpp"

#include <gtest/gtest.h>

namespace kiv::fld::testing {

ScopedThreadLocale::ScopedThreadLocale(const std::string& name) {
    m_locale = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0));
    if (!m_locale) {
        ADD_FAILURE() << "locale " << name << " is not installed (generate it with localedef)";
        return;
    }
    m_previous = uselocale(m_locale);
}

ScopedThreadLocale::~ScopedThreadLocale() {
    if (!m_locale) return;
    uselocale(m_previous);
    freelocale(m_locale);
}

}  // namespace kiv::fld::testing
