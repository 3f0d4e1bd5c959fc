#include "common/ConnectionMode.h"

#include "base/Latin1.h"

namespace pelorix {

std::optional<ConnectionMode> ConnectionModeFromNumber(int number) {
    for (const ConnectionMode mode : kConnectionModes)
        if (ConnectionModeNumber(mode) == number)
            return mode;
    return std::nullopt;
}

int ConnectionModeNumber(ConnectionMode mode) {
    return static_cast<int>(mode);
}

std::uint16_t StandardPort(ConnectionMode mode) {
    switch (mode) {
    case ConnectionMode::ImplicitTls:
        return 990;
    case ConnectionMode::Sftp:
        return 22;
    case ConnectionMode::Plain:
    case ConnectionMode::ExplicitTls:
        break;
    }
    return 21;
}

std::string ConnectionModeName(ConnectionMode mode) {
    switch (mode) {
    case ConnectionMode::ExplicitTls:
        return "FTP mit TLS (explizit)";
    case ConnectionMode::ImplicitTls:
        return "FTPS (implizit)";
    case ConnectionMode::Sftp:
        return "SFTP";
    case ConnectionMode::Plain:
        break;
    }
    return "FTP (unverschlüsselt)"_l1;
}

std::string UnknownConnectionModeText(int number) {
    return "FTPMode " + std::to_string(number) + " unbekannt";
}

bool GreetsInClearText(ConnectionMode mode) {
    return mode == ConnectionMode::Plain || mode == ConnectionMode::ExplicitTls;
}

} // namespace pelorix
