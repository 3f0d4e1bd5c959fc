#include "net/InternetSession.h"

namespace pelorix::wininet {

std::uint16_t StandardPort(FtpSecurity security) {
    switch (security) {
    case FtpSecurity::ImplicitTls:
        return 990;
    case FtpSecurity::Sftp:
        return 22;
    default:
        return 21;
    }
}

} // namespace pelorix::wininet
