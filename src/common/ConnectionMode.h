#pragma once
// How the program reaches the FTP server: the setting FTPMode, stored in Pelorix.ini as its
// number. The service's upload and address probe, the manager's choice and the FTP client all
// take the mode from here, with its standard port and its name.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace pelorix {

// Plain FTP, FTP that turns to TLS with AUTH TLS before the login (and never goes on without
// it), FTPS that speaks TLS from the first byte, or SFTP over SSH. The values are the stored
// numbers.
enum class ConnectionMode { Plain = 0, ExplicitTls = 1, ImplicitTls = 2, Sftp = 3 };

// Every mode, in the order of its stored number.
inline constexpr std::array<ConnectionMode, 4> kConnectionModes{
    ConnectionMode::Plain, ConnectionMode::ExplicitTls, ConnectionMode::ImplicitTls, ConnectionMode::Sftp};

// The mode a stored number names; none for a number this program does not know, which must not
// be taken for plain FTP (the password would go out unprotected).
std::optional<ConnectionMode> ConnectionModeFromNumber(int number);
int ConnectionModeNumber(ConnectionMode mode);

// Where the server listens when the setting FTPPort is 0: 21, 21, 990, 22.
std::uint16_t StandardPort(ConnectionMode mode);

// The name users see for the mode, in Latin-1: "FTP (unverschlüsselt)", "FTP mit TLS
// (explizit)", "FTPS (implizit)", "SFTP".
std::string ConnectionModeName(ConnectionMode mode);

// Why a stored number was refused: "FTPMode 7 unbekannt".
std::string UnknownConnectionModeText(int number);

// The server sends its FTP greeting in clear text (plain FTP, and explicit TLS before AUTH TLS);
// FTPS and SFTP greet nobody before their handshake.
bool GreetsInClearText(ConnectionMode mode);

// This build can make the connection: a build without TLS and SSH offers plain FTP only, and
// refuses the others without sending anything.
bool OfferedOnThisSystem(ConnectionMode mode);

} // namespace pelorix
