#pragma once
// The address mail as both programs compose it: the placeholders of subject and text, the
// SMTP object filled from the mail settings with the authentication mode, and the optional
// POP3 check before sending. The service's mail stage and the manager's manual mail call the
// same functions and differ only in how they report (status lines or dialogs).

#include "common/Config.h"
#include "mail/SimpleMail.h"
#include "platform/Clock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace pelorix {

// Where the mail servers listen and how long to wait for them. A port of 0 takes the one of the
// settings (Port, POP3Port), and where that is 0 too the usual port of the chosen protection.
struct MailLinkOptions {
    std::uint16_t SmtpPort = 0;
    std::uint16_t Pop3Port = 0;
    int ConnectTimeoutMs = kMailConnectTimeoutMs;
    int ReplyTimeoutMs = kMailReplyTimeoutMs;
    int DialogueTimeoutMs = kMailDialogueTimeoutMs;
};

// What a mail tells its caller while it runs, in the order it happens: the code of the POP3
// check, the level-0 lines of a connection that could not be made secure, and the key of a
// server whose certificate is not trusted (for the question whether to trust it).
struct MailEvents {
    std::function<void(int pop3Code)> OnPop3Check;
    // The reply with which the SMTP server refused the mail (told once the mail has ended).
    std::function<void(const std::string& reply)> OnRefusalReply;
    std::function<void(const std::string& line)> OnSecurityLine;
    std::function<void(const std::string& seenPin)> OnUntrustedKey;
};

// One mail as it goes out: the settings, the subject and text already filled, the moment of
// the Date header. With a protected connection it runs in a helper process, so the program that
// sends never keeps the TLS library loaded.
struct MailJob {
    TMailData Mail;
    std::string Subject;
    std::string Text;
    LocalTime When;
    MailLinkOptions Link;
    bool CheckOnly = false; // connect, secure and log in; no mail
};

// Runs the job here and now (the helper's work, and the whole mail with Security "none").
int RunMailJob(const MailJob& job, const IClock& clock, const MailEvents& events);
// Runs the job where it belongs: here for Security "none", else in a helper process, whose
// events are handed on in their order. 4 when the helper failed.
int RunMailJobWhereDue(const MailJob& job, const IClock& clock, const MailEvents& events);

// The Auth modes, compared exactly (letter case included).
bool UsesPop3Check(const TMailData& mail);
bool UsesSmtpAuth(const TMailData& mail);

// The address the mail announces: the address when online, else "offline".
std::string MailAddressText(bool online, const std::string& address);

// The IPv6 address a mail announces for "%IP6%": nothing while IPv6 is off (the placeholder
// then stays as written), else the address ("" when none was found) or "offline".
using MailAddress6 = std::optional<std::string>;

// Subject: every "%IP%" becomes the address, then every "%IP6%" the IPv6 address ("%Date%" and
// "%Time%" stay as they are).
std::string FillMailSubject(const std::string& subjectTemplate, const std::string& address,
                            const MailAddress6& address6 = std::nullopt);

// Text: every "%Date%" becomes the date "dd.mm.yy", then every "%Time%" the time "hh:nn"
// (the clock read anew for each), then every "%IP%" the address and every "%IP6%" the IPv6 one.
std::string FillMailText(const std::string& textTemplate, const std::string& address, const IClock& clock,
                         const MailAddress6& address6 = std::nullopt);

// The POP3 login before sending, with POP3Srv, AuthID and AuthPw; gives its code (0..5).
// securityLine and seenPin (when given) get what TPOP3Object found of the protection.
int RunPop3Check(const TMailData& mail, const MailLinkOptions& link = {}, std::string* securityLine = nullptr,
                 std::string* seenPin = nullptr);

// Fills smtp from the settings: server, sender, recipients, the filled subject and text;
// AuthID/AuthPw only in mode "Auth".
void SetUpAddressMail(TSMTPObject& smtp, const TMailData& mail, const std::string& address,
                      const IClock& clock, const MailLinkOptions& link = {});

// The result code when the helper process that carried the mail ended without an answer.
inline constexpr int kMailHelperEnded = 9;

// The reasons shown for the result codes of the POP3 check and of the mail.
std::string Pop3ResultText(int code);
std::string SmtpResultText(int code);

// The whole send: in mode "Pop3" the check first, its code handed to onPop3Check before the
// mail goes out (the mail is sent whatever it says); then the mail. Gives the mail's code
// (0 only when every recipient got it). Never raises.
int DeliverAddressMail(const TMailData& mail, const std::string& address, const IClock& clock,
                       const std::function<void(int pop3Code)>& onPop3Check,
                       const MailLinkOptions& link = {});
int DeliverAddressMail(const TMailData& mail, const std::string& address, const IClock& clock,
                       const MailEvents& events, const MailLinkOptions& link = {},
                       const MailAddress6& address6 = std::nullopt);

// The manager's connection check: the POP3 login in mode "Pop3", then the SMTP server greeted,
// secured and (in mode "Auth") logged in to, without a mail. Gives the SMTP code (0 fine).
int CheckMailConnection(const TMailData& mail, const MailEvents& events, const MailLinkOptions& link = {});

} // namespace pelorix
