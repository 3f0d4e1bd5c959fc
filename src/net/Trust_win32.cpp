// This build reads no certificate yet (the Windows certificate functions would stand here):
// every chain and key is unverifiable, so nothing is trusted by mistake.
#include "net/TrustSystem.h"

namespace pelorix::trust {

ChainReading ReadChain(const std::vector<std::string>&, const std::string&, bool) {
    return {};
}

std::string Sha256(std::string_view) {
    return {};
}

} // namespace pelorix::trust
