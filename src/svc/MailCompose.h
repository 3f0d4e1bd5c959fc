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
#include <string>

namespace pelorix {

// Where the mail servers listen and how long to wait for them.
struct MailLinkOptions {
    std::uint16_t SmtpPort = kSmtpPort;
    std::uint16_t Pop3Port = kPop3Port;
    int ConnectTimeoutMs = kMailConnectTimeoutMs;
    int ReplyTimeoutMs = kMailReplyTimeoutMs;
};

// The Auth modes, compared exactly (letter case included).
bool UsesPop3Check(const TMailData& mail);
bool UsesSmtpAuth(const TMailData& mail);

// The address the mail announces: the address when online, else "offline".
std::string MailAddressText(bool online, const std::string& address);

// Subject: every "%IP%" becomes the address ("%Date%" and "%Time%" stay as they are).
std::string FillMailSubject(const std::string& subjectTemplate, const std::string& address);

// Text: every "%Date%" becomes the date "dd.mm.yy", then every "%Time%" the time "hh:nn"
// (the clock read anew for each), then every "%IP%" the address.
std::string FillMailText(const std::string& textTemplate, const std::string& address, const IClock& clock);

// The POP3 login before sending, with POP3Srv, AuthID and AuthPw; gives its code (0..5).
int RunPop3Check(const TMailData& mail, const MailLinkOptions& link = {});

// Fills smtp from the settings: server, sender, recipients, the filled subject and text;
// AuthID/AuthPw only in mode "Auth".
void SetUpAddressMail(TSMTPObject& smtp, const TMailData& mail, const std::string& address,
                      const IClock& clock, const MailLinkOptions& link = {});

// The reasons shown for the result codes of the POP3 check and of the mail.
std::string Pop3ResultText(int code);
std::string SmtpResultText(int code);

// The whole send: in mode "Pop3" the check first, its code handed to onPop3Check before the
// mail goes out (the mail is sent whatever it says); then the mail. Gives the mail's code
// (0 only when every recipient got it). Never raises.
int DeliverAddressMail(const TMailData& mail, const std::string& address, const IClock& clock,
                       const std::function<void(int pop3Code)>& onPop3Check,
                       const MailLinkOptions& link = {});

} // namespace pelorix
