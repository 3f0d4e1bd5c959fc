#pragma once
// What the tests need to know of the system they run on, and the few calls only Linux offers,
// so a test file serves both builds: where a case needs Linux, it asks here and skips.
// TestSystem_posix.cpp and TestSystem_win32.cpp hold the two halves.

#include <cstdint>
#include <functional>
#include <string>

namespace pelorix::test {

// True in the Windows build (its tests run under Wine).
bool RunsOnWindows();

// The file name the system gives a program of the build ("ConfigTest.exe" on Windows).
std::string ProgramFileName(const std::string& name);

// The separator that ends the program's directory as the system reports it.
char DirectorySeparator();

// Lets the standard output carry line ends as written (the Windows runtime makes "\r\n" of
// them), so ctest reads the names in the test list as they stand.
void KeepLineEndsOfStandardOutput();

// Whether this build's TLS channel can run a handshake at all (the Linux build loads OpenSSL;
// the Windows build carries no TLS library yet).
bool TlsAvailable();

// Whether a time locale of this name (a Linux name such as "de_DE.UTF-8") is installed.
bool LocaleInstalled(const char* name);

// Whether this process may hand files to other users (root on Linux).
bool MayHandFilesToOtherUsers();

// Gives path to another owner and group; false when that failed.
bool ChangeOwner(const std::string& path, unsigned owner, unsigned group);

// Runs work as user and group 65534 in a child process; its result (false where impossible).
bool WorksAsNobody(const std::function<bool()>& work);

// Makes a FIFO at path; false where the system has none.
bool MakeFifo(const std::string& path);

// The socket calls of the tests' scripted peers. Sockets are ints, as in src/platform; none is
// inherited by a child process.

// A socket listening on 127.0.0.1:port (0: an ephemeral port), its port in boundPort; -1 when
// the port cannot be had.
int ListenOnLoopback(std::uint16_t port, int backlog, std::uint16_t& boundPort);

// Waits at most timeoutMs until fd has something to read (or a connection to accept).
bool WaitReadable(int fd, int timeoutMs);

// Takes one connection off a listening socket; -1 on failure.
int AcceptConnection(int listenFd);

// One send (never raising a signal) or one receive: the bytes moved, 0 or less on a closed
// connection or a failure.
long SendSome(int fd, const char* data, std::size_t size);
long ReceiveSome(int fd, char* buffer, std::size_t size);

// Ends the sending direction; the other side reads the end of the data.
void ShutdownWrite(int fd);
void CloseSocket(int fd);

// The address text as the system's own parser and formatter give it back (inet_pton, then
// inet_ntop); empty when the parser refuses it.
std::string CanonicalIPv4(const std::string& text);

} // namespace pelorix::test
