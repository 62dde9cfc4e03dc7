#pragma once
// Whose certificate a TLS peer has to show. The keyword services are asked as the original asks
// them, accepting any certificate; what the program runs or reports on (the update, the fault
// report, the quote) checks it, as a user may for the services too.

#include <string>

namespace zelkor {

struct TlsCheck {
    bool verify = false;
    std::string caFile; // PEM roots to trust instead of the system's store; empty: the system's
};

// The check every fetch of the update, the fault report and the quote makes.
inline TlsCheck verifiedTls(std::string caFile = {}) {
    return {true, std::move(caFile)};
}

} // namespace zelkor
