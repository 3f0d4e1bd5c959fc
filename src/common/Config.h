#pragma once
// Pelorix.ini, the configuration file both programs share. The manager is its only writer;
// the service reads it once at each start. All texts are Latin-1 bytes.

#include "platform/ProfileFile.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

inline constexpr const char* kIniFileName = "Pelorix.ini";

// Longest text value each side reads.
inline constexpr int kServiceTextMax = 2047;
inline constexpr int kManagerTextMax = 1023;

// Default address-source pages: IPSource on both sides, IPSourceX for the manager's display.
// Both answer with the bare address, over HTTPS.
inline constexpr const char* kDefaultIPSource = "https://checkip.amazonaws.com/";
inline constexpr const char* kDefaultIPSourceX = "https://api.ipify.org/";
// The password the manager shows when FTPPass is missing (plain).
inline constexpr const char* kManagerDefaultPassword = "?";

// programDir + "Pelorix.ini".
std::string IniPath(const std::string& programDir);

// Directory of the running program file, with its trailing "/", as system text (Latin-1).
std::string ProgramDir();

// Passwords are stored scrambled; both programs use the same offset sequence.
std::string ScramblePassword(std::string_view plain);
std::string UnscramblePassword(std::string_view scrambled);

// The mail body is stored on one line with "||" for each line break (CR LF in memory).
std::string BarsToLineBreaks(std::string_view stored);
std::string LineBreaksToBars(std::string_view text);

// Integer values: "0x"/"0X" (longer than two characters) or a leading "$" mark hexadecimal;
// anything that is not a number gives the default.
int ParseProfileInt(std::string_view text, int defaultValue);

// The mail settings, section [SendMail]. AuthPw in plain text, Text with CR LF line breaks.
struct TMailData {
    std::string Server;
    std::string POP3Srv;
    std::string From;
    std::string Sender;
    std::string To;
    std::string CC;
    std::string BCC;
    std::string Subject;
    std::string Text;
    std::string AuthID;
    std::string AuthPw;
    std::string Auth;

    // How the mail connections are protected (keys Security, Port, POP3Port, Trust): "none",
    // "starttls" or "tls"; ports 0 for the usual port of that choice; Trust empty for the
    // system's CAs, or "sha256//BASE64" for the key stored when the user trusted a server.
    std::string Security = "none";
    int Port = 0;
    int POP3Port = 0;
    std::string Trust;
};

// Which address families are determined and published (key IPv6): IPv4 alone as ever, IPv6
// beside it, or IPv6 alone.
enum class IPv6Use { Off = 0, Also = 1, Only = 2 };

// The IPv6 keys of [Settings], the same defaults on both sides. A file without them keeps
// IPv4 alone; the manager writes them only where they differ from these defaults.
struct IPv6Settings {
    int Use = 0;             // key IPv6 as stored: an IPv6Use number, or one not known (read as Off)
    std::string Source;      // IPSource6: the address page for IPv6 in router mode
    std::string SourceTrust; // IPSource6Trust: "sha256//BASE64" of a trusted page, like FTPTrust
    std::string Interface;   // IPv6Interface: direct mode; empty: the one of the default route

    IPv6Use Mode() const;
    bool On() const { return Mode() != IPv6Use::Off; }
};

// The [SendMail] defaults, the same on both sides.
TMailData DefaultMailData();

// What the service reads at start, with the service's defaults. Passwords are plain.
struct ServiceSettings {
    std::string HTMLTemplate;
    std::string TempSite;
    std::string FTPHost;
    std::string FTPUser;
    std::string FTPPass;
    std::string FTPSite;
    bool FTPPassive = false;
    int FTPMode = 0; // as stored: a ConnectionMode number (common/ConnectionMode.h), or one not known
    int FTPPort = 0; // 0: the mode's standard port
    std::string FTPTrust;
    bool Router = false;
    std::string IPSource;
    IPv6Settings IPv6;
    bool AddPages = false;
    std::array<std::string, 10> AddPage;
    bool eMail = false;
    TMailData Mail;
    int Intervall = 12;
    bool Messages = true;
    int MsgLevel = 0;
    bool LogFile = false;
    std::string OnPublish; // command line run after each publication; empty: none
    // Why Pelorix.ini could not be read (an errno, ENOENT for a missing file); 0 when it was.
    int IniError = 0;
};

// Reads programDir + Pelorix.ini key by key in the service's order; a missing file or key
// gives the service defaults.
ServiceSettings ReadServiceSettings(const std::string& programDir);

// What the manager's window holds. Passwords are plain; histories hold the non-empty
// entries of numbers 1..19 in number order.
struct ManagerSettings {
    std::string HTMLTemplate;
    std::string OfflTemplate;
    std::string TempSite;
    std::string FTPHost;
    std::string FTPUser;
    std::string FTPPass;
    std::string FTPSite;
    bool FTPPassive = false;
    int FTPMode = 1; // a new file starts with TLS; a file without the key keeps plain FTP (0)
    int FTPPort = 0;
    std::string FTPTrust;
    std::string FTPTrustKept; // the trust of every type used (common/TrustKept.h)
    bool Router = false;
    std::string IPSource;
    IPv6Settings IPv6;
    std::string IPSourceX;
    bool AddPages = false;
    std::array<std::string, 10> AddPage;
    bool eMail = false;
    TMailData Mail;
    int Intervall = 30;
    bool Messages = false;
    int MsgLevel = 0;
    bool LogFile = false;
    bool ShowErr = true;
    bool Hidden = false;
    int Left = 1;
    int Top = 1;
    std::string OnPublish;
    std::vector<std::string> HostHistory;
    std::vector<std::string> UserHistory;
    std::vector<std::string> SiteHistory;
    std::vector<std::string> SourceHistory;
};

// Loads everything the manager shows, with the manager's defaults.
ManagerSettings LoadManagerSettings(const std::string& programDir);

// The remembered password (plain) of history number 1..19 in [Hosts], empty when none.
std::string LoadHistoryPassword(const std::string& programDir, int number);

// The password field after the user picked a user name: for numbers 1..9 whose FTPUser<i>
// equals user exactly, the plain FTPPass<i>; the last match wins; empty when none matches.
std::string RecallUserPassword(const std::string& programDir, const std::string& user);

// The manager's save, steps 1 to 4: [Settings], the [Hosts] histories (numbers 1..9, the
// current password under the number of the matching user), [SendMail] when eMail is set,
// AddPage0..9 when AddPages is set. All or nothing: on failure the file is unchanged and
// errorText holds the system's message text.
bool SaveManagerSettings(const std::string& programDir, const ManagerSettings& settings,
                         std::string& errorText);
// The same with the writer of the temporary file replaced (tests act out a full disk with it).
bool SaveManagerSettings(const std::string& programDir, const ManagerSettings& settings,
                         std::string& errorText, const FileWriter& writer);

// The error box text after a failed save: the fixed sentence, CR LF LF, the system's text.
std::string SaveFailedMessage(const std::string& errorText);

// When the window closes: Hidden and ShowErr if the window mode was changed; Left and Top
// each only if it differs from the file (a missing key counting as 0).
bool SaveWindowKeys(const std::string& programDir, const ManagerSettings& settings, bool windowModeChanged,
                    std::string& errorText);

} // namespace pelorix
