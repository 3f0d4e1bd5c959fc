#include "common/Config.h"

#include "base/Latin1.h"
#include "platform/FileSystemName.h"
#include "platform/ProfileFile.h"
#include "platform/SystemMessage.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <unistd.h>

namespace pelorix {

namespace {

constexpr std::string_view kSettings = "Settings";
constexpr std::string_view kHosts = "Hosts";
constexpr std::string_view kSendMail = "SendMail";

// The password offset sequence: starts at the seed, grows by the step after each character,
// restarts at 1 once it reaches 32.
constexpr int kScrambleSeed = 13;
constexpr int kScrambleStep = 5;

// A new Pelorix.ini: the owner and the group (pelorix, in the installed data directory) edit
// it, whoever creates it, root too; others do not read the scrambled passwords.
constexpr mode_t kIniFileMode = 0660;

constexpr int kHistoryRead = 19;
constexpr int kHistoryWritten = 9;

bool FileExists(const std::string& path) {
    return ::access(FileSystemName(path).c_str(), F_OK) == 0;
}

int NextOffset(int offset) {
    offset += kScrambleStep;
    return offset >= 32 ? 1 : offset;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads one file with the cut of one side; every value goes through the profile reader.
class SettingsReader {
public:
    SettingsReader(const std::string& programDir, int maxLength)
        : file_(IniPath(programDir)), maxLength_(static_cast<std::size_t>(maxLength)) {}

    std::string Text(std::string_view section, std::string_view key, std::string_view def) const {
        return file_.ReadString(section, key, def, maxLength_);
    }
    int Integer(std::string_view section, std::string_view key, int def) const {
        // A value that is no number gives the default, so read with a default that is none.
        const std::string text = file_.ReadString(section, key, "", maxLength_);
        return ParseProfileInt(text, def);
    }
    bool Flag(std::string_view section, std::string_view key, bool def) const {
        return Integer(section, key, def ? 1 : 0) != 0;
    }
    int ReadError() const { return file_.ReadError(); }
    std::string Password(std::string_view section, std::string_view key) const {
        return UnscramblePassword(Text(section, key, ""));
    }

private:
    ProfileFile file_;
    std::size_t maxLength_;
};

std::string AddPageKey(int n) {
    return "AddPage" + std::to_string(n);
}

// The protection of the mail connections; a file without these keys mails as before.
void ReadMailSecurityKeys(const SettingsReader& in, TMailData& mail) {
    mail.Security = in.Text(kSendMail, "Security", "none");
    mail.Port = in.Integer(kSendMail, "Port", 0);
    mail.POP3Port = in.Integer(kSendMail, "POP3Port", 0);
    mail.Trust = in.Text(kSendMail, "Trust", "");
}

// Written only where they differ from the defaults, so a file without them stays so.
void WriteMailSecurityKeys(ProfileFile& out, const TMailData& m) {
    if (!m.Security.empty() && m.Security != "none")
        out.WriteString(kSendMail, "Security", m.Security);
    if (m.Port != 0)
        out.WriteString(kSendMail, "Port", std::to_string(m.Port));
    if (m.POP3Port != 0)
        out.WriteString(kSendMail, "POP3Port", std::to_string(m.POP3Port));
    if (!m.Trust.empty())
        out.WriteString(kSendMail, "Trust", m.Trust);
}

TMailData ReadMailData(const SettingsReader& in) {
    const TMailData def = DefaultMailData();
    TMailData mail;
    mail.Server = in.Text(kSendMail, "Server", def.Server);
    mail.POP3Srv = in.Text(kSendMail, "POP3Srv", def.POP3Srv);
    mail.Sender = in.Text(kSendMail, "Sender", def.Sender);
    mail.From = in.Text(kSendMail, "From", def.From);
    mail.To = in.Text(kSendMail, "To", def.To);
    mail.CC = in.Text(kSendMail, "CC", def.CC);
    mail.BCC = in.Text(kSendMail, "BCC", def.BCC);
    mail.Auth = in.Text(kSendMail, "Auth", def.Auth);
    mail.Subject = in.Text(kSendMail, "Subject", def.Subject);
    mail.Text = BarsToLineBreaks(in.Text(kSendMail, "Text", LineBreaksToBars(def.Text)));
    mail.AuthID = in.Text(kSendMail, "AuthID", def.AuthID);
    mail.AuthPw = in.Password(kSendMail, "AuthPw");
    ReadMailSecurityKeys(in, mail);
    return mail;
}

std::string FlagText(bool value) {
    return value ? "1" : "0";
}

IPv6Settings ReadIPv6Keys(const SettingsReader& in) {
    IPv6Settings v6;
    v6.Use = in.Integer(kSettings, "IPv6", 0);
    v6.Source = in.Text(kSettings, "IPSource6", "");
    v6.SourceTrust = in.Text(kSettings, "IPSource6Trust", "");
    v6.Interface = in.Text(kSettings, "IPv6Interface", "");
    return v6;
}

// Written where they differ from the defaults or stand in the file already, so a file without
// them stays so and a choice taken back reaches the file.
void WriteIPv6Keys(ProfileFile& out, const IPv6Settings& v6) {
    const auto write = [&out](std::string_view key, const std::string& value, bool isDefault) {
        if (!isDefault || out.HasKey(kSettings, key))
            out.WriteString(kSettings, key, value);
    };
    write("IPv6", std::to_string(v6.Use), v6.Use == 0);
    write("IPSource6", v6.Source, v6.Source.empty());
    write("IPSource6Trust", v6.SourceTrust, v6.SourceTrust.empty());
    write("IPv6Interface", v6.Interface, v6.Interface.empty());
}

void WriteSettingsKeys(ProfileFile& out, const ManagerSettings& s) {
    out.WriteString(kSettings, "HTMLTemplate", s.HTMLTemplate);
    out.WriteString(kSettings, "OfflTemplate", s.OfflTemplate);
    out.WriteString(kSettings, "TempSite", s.TempSite);
    out.WriteString(kSettings, "FTPHost", s.FTPHost);
    out.WriteString(kSettings, "FTPUser", s.FTPUser);
    out.WriteString(kSettings, "FTPPass", ScramblePassword(s.FTPPass));
    out.WriteString(kSettings, "FTPSite", s.FTPSite);
    out.WriteString(kSettings, "FTPPassive", FlagText(s.FTPPassive));
    out.WriteString(kSettings, "FTPMode", std::to_string(s.FTPMode));
    out.WriteString(kSettings, "FTPPort", std::to_string(s.FTPPort));
    out.WriteString(kSettings, "FTPTrust", s.FTPTrust);
    // Written only once a second type was used: a file of one type stays as it was.
    if (s.FTPTrustKept.empty())
        out.DeleteKey(kSettings, "FTPTrustKept");
    else
        out.WriteString(kSettings, "FTPTrustKept", s.FTPTrustKept);
    out.WriteString(kSettings, "Router", FlagText(s.Router));
    out.WriteString(kSettings, "IPSource", s.IPSource);
    out.WriteString(kSettings, "Intervall", std::to_string(s.Intervall));
    out.WriteString(kSettings, "Messages", FlagText(s.Messages));
    out.WriteString(kSettings, "MsgLevel", std::to_string(s.MsgLevel));
    out.WriteString(kSettings, "LogFile", FlagText(s.LogFile));
    out.WriteString(kSettings, "OnPublish", s.OnPublish);
    WriteIPv6Keys(out, s.IPv6);
}

void WriteHistories(ProfileFile& out, const ManagerSettings& s) {
    const auto entry = [](const std::vector<std::string>& list, int i) -> const std::string* {
        return static_cast<std::size_t>(i) <= list.size() ? &list[static_cast<std::size_t>(i - 1)] : nullptr;
    };
    for (int i = 1; i <= kHistoryWritten; ++i) {
        const std::string number = std::to_string(i);
        if (const auto* host = entry(s.HostHistory, i))
            out.WriteString(kHosts, "FTPHost" + number, *host);
        if (const auto* user = entry(s.UserHistory, i)) {
            out.WriteString(kHosts, "FTPUser" + number, *user);
            if (*user == s.FTPUser)
                out.WriteString(kHosts, "FTPPass" + number, ScramblePassword(s.FTPPass));
        }
        if (const auto* site = entry(s.SiteHistory, i))
            out.WriteString(kHosts, "FTPSite" + number, *site);
        if (const auto* source = entry(s.SourceHistory, i))
            out.WriteString(kHosts, "IPSource" + number, *source);
    }
}

void WriteMailKeys(ProfileFile& out, const ManagerSettings& s) {
    out.WriteString(kSettings, "eMail", FlagText(s.eMail));
    if (!s.eMail)
        return;
    const TMailData& m = s.Mail;
    const auto writeIfSet = [&out](std::string_view key, const std::string& value) {
        if (!value.empty())
            out.WriteString(kSendMail, key, value);
    };
    out.DeleteSection(kSendMail);
    writeIfSet("Server", m.Server);
    writeIfSet("Sender", m.Sender);
    writeIfSet("From", m.From);
    writeIfSet("To", m.To);
    writeIfSet("CC", m.CC);
    writeIfSet("BCC", m.BCC);
    writeIfSet("Subject", m.Subject);
    writeIfSet("Text", LineBreaksToBars(m.Text));
    out.WriteString(kSendMail, "Auth", m.Auth);
    writeIfSet("POP3Srv", m.POP3Srv);
    writeIfSet("AuthID", m.AuthID);
    writeIfSet("AuthPw", ScramblePassword(m.AuthPw));
    WriteMailSecurityKeys(out, m);
}

void WriteAddPages(ProfileFile& out, const ManagerSettings& s) {
    out.WriteString(kSettings, "AddPages", FlagText(s.AddPages));
    if (!s.AddPages)
        return;
    for (int n = 0; n < 10; ++n)
        out.WriteString(kSettings, AddPageKey(n), s.AddPage[static_cast<std::size_t>(n)]);
}

bool CommitOrExplain(ProfileFile& file, std::string& errorText) {
    if (file.Commit()) {
        errorText.clear();
        return true;
    }
    errorText = SystemErrorText(file.LastError());
    return false;
}

} // namespace

std::string ProgramDir() {
    return ProgramDirectory();
}

std::string IniPath(const std::string& programDir) {
    return programDir + kIniFileName;
}

std::string ScramblePassword(std::string_view plain) {
    std::string out;
    out.reserve(plain.size());
    int offset = kScrambleSeed;
    for (const char c : plain) {
        int code = static_cast<unsigned char>(c) - offset;
        if (code < 32)
            code += 224;
        out += static_cast<char>(static_cast<unsigned char>(code));
        offset = NextOffset(offset);
    }
    return out;
}

std::string UnscramblePassword(std::string_view scrambled) {
    std::string out;
    out.reserve(scrambled.size());
    int offset = kScrambleSeed;
    for (const char c : scrambled) {
        int code = static_cast<unsigned char>(c) + offset;
        if (code >= 256)
            code -= 224;
        out += static_cast<char>(static_cast<unsigned char>(code));
        offset = NextOffset(offset);
    }
    return out;
}

// Each replacement restarts the scan at the beginning; the line break it inserts cannot be
// part of a new "||", so a single pass from the left gives the same result.
std::string BarsToLineBreaks(std::string_view stored) {
    std::string out;
    out.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == '|' && i + 1 < stored.size() && stored[i + 1] == '|') {
            out += "\r\n";
            ++i;
        } else {
            out += stored[i];
        }
    }
    return out;
}

// A lone LF or CR is a line break too: written as it is it would end the line in the file.
std::string LineBreaksToBars(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "||";
            ++i;
        } else if (text[i] == '\r' || text[i] == '\n') {
            out += "||";
        } else {
            out += text[i];
        }
    }
    return out;
}

int ParseProfileInt(std::string_view text, int defaultValue) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty())
        return defaultValue;
    // Hexadecimal reaches up to 32 bits (FFFFFFFF is -1); decimal must fit a signed int.
    const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
    std::uint64_t value = 0;
    for (const char c : text) {
        const int digit = base == 16 ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0)
            return defaultValue;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > limit)
            return defaultValue;
    }
    const auto bits = static_cast<std::uint32_t>(negative ? 0u - static_cast<std::uint32_t>(value)
                                                          : static_cast<std::uint32_t>(value));
    return static_cast<int>(static_cast<std::int32_t>(bits));
}

IPv6Use IPv6Settings::Mode() const {
    switch (Use) {
    case 1:
        return IPv6Use::Also;
    case 2:
        return IPv6Use::Only;
    default:
        return IPv6Use::Off;
    }
}

TMailData DefaultMailData() {
    TMailData mail;
    mail.Sender = "Pelorix";
    mail.Auth = "no";
    mail.Subject = "dynamische IP-Adresse ist %IP%";
    mail.Text = BarsToLineBreaks(
        "Die IP-Adresse lautet: %IP%||http://%IP%,  ftp://%IP%||[ gueltig seit %Date%, %Time% Uhr ]");
    return mail;
}

ServiceSettings ReadServiceSettings(const std::string& programDir) {
    const SettingsReader in(programDir, kServiceTextMax);
    ServiceSettings s;
    s.HTMLTemplate = in.Text(kSettings, "HTMLTemplate", programDir + "Pelorix.htm");
    s.TempSite = in.Text(kSettings, "TempSite", programDir + "PelorTmp.htm");
    s.FTPHost = in.Text(kSettings, "FTPHost", "");
    s.FTPUser = in.Text(kSettings, "FTPUser", "");
    s.FTPPass = in.Password(kSettings, "FTPPass");
    s.FTPSite = in.Text(kSettings, "FTPSite", "/myserver.htm");
    s.FTPPassive = in.Flag(kSettings, "FTPPassive", false);
    s.FTPMode = in.Integer(kSettings, "FTPMode", 0);
    s.FTPPort = in.Integer(kSettings, "FTPPort", 0);
    s.FTPTrust = in.Text(kSettings, "FTPTrust", "");
    s.Router = in.Flag(kSettings, "Router", false);
    s.IPSource = in.Text(kSettings, "IPSource", kDefaultIPSource);
    s.IPv6 = ReadIPv6Keys(in);
    s.AddPages = in.Flag(kSettings, "AddPages", false);
    for (int n = 0; n < 10; ++n)
        s.AddPage[static_cast<std::size_t>(n)] = in.Text(kSettings, AddPageKey(n), "");
    s.eMail = in.Flag(kSettings, "eMail", false);
    s.Mail = ReadMailData(in);
    s.Intervall = in.Integer(kSettings, "Intervall", 12);
    s.Messages = in.Flag(kSettings, "Messages", true);
    s.MsgLevel = in.Integer(kSettings, "MsgLevel", 0);
    s.LogFile = in.Flag(kSettings, "LogFile", false);
    s.OnPublish = in.Text(kSettings, "OnPublish", "");
    s.IniError = in.ReadError();
    return s;
}

ManagerSettings LoadManagerSettings(const std::string& programDir) {
    const SettingsReader in(programDir, kManagerTextMax);
    ManagerSettings s;
    s.Left = in.Integer(kSettings, "Left", 1);
    s.Top = in.Integer(kSettings, "Top", 1);
    s.HTMLTemplate = in.Text(kSettings, "HTMLTemplate", programDir + "Online.htm");
    s.OfflTemplate = in.Text(kSettings, "OfflTemplate", "Offline.htm");
    s.TempSite = in.Text(kSettings, "TempSite", programDir + "PelorixTmp.htm");
    s.FTPHost = in.Text(kSettings, "FTPHost", "");
    s.FTPUser = in.Text(kSettings, "FTPUser", "?");
    s.FTPPass = UnscramblePassword(in.Text(kSettings, "FTPPass", ScramblePassword(kManagerDefaultPassword)));
    s.FTPSite = in.Text(kSettings, "FTPSite", "/myserver.htm");
    s.IPSource = in.Text(kSettings, "IPSource", kDefaultIPSource);
    s.IPSourceX = in.Text(kHosts, "IPSourceX", kDefaultIPSourceX);
    s.IPv6 = ReadIPv6Keys(in);
    s.AddPages = in.Flag(kSettings, "AddPages", false);
    for (int n = 0; n < 10; ++n)
        s.AddPage[static_cast<std::size_t>(n)] = in.Text(kSettings, AddPageKey(n), "");
    for (int i = 1; i <= kHistoryRead; ++i) {
        const std::string number = std::to_string(i);
        const auto append = [&](std::vector<std::string>& list, const std::string& key) {
            std::string value = in.Text(kHosts, key + number, "");
            if (!value.empty())
                list.push_back(std::move(value));
        };
        append(s.HostHistory, "FTPHost");
        append(s.UserHistory, "FTPUser");
        append(s.SiteHistory, "FTPSite");
        append(s.SourceHistory, "IPSource");
    }
    s.FTPPassive = in.Flag(kSettings, "FTPPassive", false);
    // Plain FTP stays for a file written before the key existed; a new file starts secured.
    s.FTPMode = in.Integer(kSettings, "FTPMode", FileExists(IniPath(programDir)) ? 0 : 1);
    s.FTPPort = in.Integer(kSettings, "FTPPort", 0);
    s.FTPTrust = in.Text(kSettings, "FTPTrust", "");
    s.FTPTrustKept = in.Text(kSettings, "FTPTrustKept", "");
    s.eMail = in.Flag(kSettings, "eMail", false);
    s.Mail = ReadMailData(in);
    s.Router = in.Flag(kSettings, "Router", false);
    s.Messages = in.Flag(kSettings, "Messages", false);
    s.MsgLevel = in.Integer(kSettings, "MsgLevel", 0);
    s.LogFile = in.Flag(kSettings, "LogFile", false);
    s.Intervall = in.Integer(kSettings, "Intervall", 30);
    s.ShowErr = in.Flag(kSettings, "ShowErr", true);
    s.Hidden = in.Flag(kSettings, "Hidden", false);
    s.OnPublish = in.Text(kSettings, "OnPublish", "");
    return s;
}

std::string LoadHistoryPassword(const std::string& programDir, int number) {
    if (number < 1 || number > kHistoryRead)
        return {};
    const SettingsReader in(programDir, kManagerTextMax);
    return in.Password(kHosts, "FTPPass" + std::to_string(number));
}

std::string RecallUserPassword(const std::string& programDir, const std::string& user) {
    const SettingsReader in(programDir, kManagerTextMax);
    std::string password;
    for (int i = 1; i <= kHistoryWritten; ++i) {
        const std::string number = std::to_string(i);
        if (in.Text(kHosts, "FTPUser" + number, "") == user)
            password = in.Password(kHosts, "FTPPass" + number);
    }
    return password;
}

bool SaveManagerSettings(const std::string& programDir, const ManagerSettings& settings,
                         std::string& errorText) {
    return SaveManagerSettings(programDir, settings, errorText, WriteAllBytes);
}

// All keys go to disk in one replacement of the file, so a failed save leaves the file as
// it was instead of half written.
bool SaveManagerSettings(const std::string& programDir, const ManagerSettings& settings,
                         std::string& errorText, const FileWriter& writer) {
    ProfileFile file(IniPath(programDir), writer, kIniFileMode);
    WriteSettingsKeys(file, settings);
    WriteHistories(file, settings);
    WriteMailKeys(file, settings);
    WriteAddPages(file, settings);
    return CommitOrExplain(file, errorText);
}

std::string SaveFailedMessage(const std::string& errorText) {
    return "Speichern der geänderten Parameter nicht möglich!\r\n\n"_l1 + errorText;
}

bool SaveWindowKeys(const std::string& programDir, const ManagerSettings& settings, bool windowModeChanged,
                    std::string& errorText) {
    ProfileFile file(IniPath(programDir), {}, kIniFileMode);
    if (windowModeChanged) {
        file.WriteString(kSettings, "Hidden", FlagText(settings.Hidden));
        file.WriteString(kSettings, "ShowErr", FlagText(settings.ShowErr));
    }
    const auto current = [&file](std::string_view key) {
        return ParseProfileInt(file.ReadString(kSettings, key, "", kManagerTextMax), 0);
    };
    if (current("Left") != settings.Left)
        file.WriteString(kSettings, "Left", std::to_string(settings.Left));
    if (current("Top") != settings.Top)
        file.WriteString(kSettings, "Top", std::to_string(settings.Top));
    return CommitOrExplain(file, errorText);
}

} // namespace pelorix
