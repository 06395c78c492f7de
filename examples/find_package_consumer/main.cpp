// Links the installed bridge and calls it: an empty handle sends nothing; a real one needs the
// e-mail component library, and its absence is reported, not hidden.
#include <cstdio>
#include <exception>

#include "kiv/fld/email.hpp"

int main() {
    kiv::fld::KivEmail empty;
    if (empty || empty.SendMail("to@example.org", "subject", "body", {})) return 1;
    try {
        kiv::fld::KivEmail email = kiv::fld::KivEmail::CreateInstance();
        std::printf("e-mail component found: handle is %s\n", email ? "valid" : "empty");
        return email ? 0 : 1;
    } catch (const std::exception& error) {
        std::printf("e-mail component unavailable: %s\n", error.what());
        return 0;
    }
}
