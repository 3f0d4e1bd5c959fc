#include "svc/MailCompose.h"

#include "base/Latin1.h"
#include "net/FailureCause.h"
#include "net/Trust.h"
#include "svc/MailHelper.h"
#include "svc/Placeholders.h"

#include <cstdio>

namespace pelorix {

namespace {

std::string TwoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", (value % 100 + 100) % 100);
    return text;
}

// The mail's date has no weekday, unlike the page's.
std::string FormatMailDate(const LocalTime& t) {
    return TwoDigits(t.day) + "." + TwoDigits(t.month) + "." + TwoDigits(t.year);
}

std::string FormatMailTime(const LocalTime& t) {
    return TwoDigits(t.hour) + ":" + TwoDigits(t.minute);
}

} // namespace

bool UsesPop3Check(const TMailData& mail) {
    return mail.Auth == "Pop3";
}

bool UsesSmtpAuth(const TMailData& mail) {
    return mail.Auth == "Auth";
}

std::string MailAddressText(bool online, const std::string& address) {
    return online ? address : "offline";
}

namespace {

PlaceholderSet& AddAddresses(PlaceholderSet& placeholders, const std::string& address,
                             const MailAddress6& address6) {
    placeholders.Add("%IP%", [&] { return address; });
    if (address6)
        placeholders.Add("%IP6%", [&] { return *address6; });
    return placeholders;
}

} // namespace

std::string FillMailSubject(const std::string& subjectTemplate, const std::string& address,
                            const MailAddress6& address6) {
    PlaceholderSet placeholders;
    return AddAddresses(placeholders, address, address6).Fill(subjectTemplate);
}

std::string FillMailText(const std::string& textTemplate, const std::string& address, const IClock& clock,
                         const MailAddress6& address6) {
    PlaceholderSet placeholders;
    placeholders.Add("%Date%", [&] { return FormatMailDate(clock.Now()); }).Add("%Time%", [&] {
        return FormatMailTime(clock.Now());
    });
    return AddAddresses(placeholders, address, address6).Fill(textTemplate);
}

int RunPop3Check(const TMailData& mail, const MailLinkOptions& link, std::string* securityLine,
                 std::string* seenPin) {
    TPOP3Object pop3;
    pop3.Server = mail.POP3Srv;
    pop3.User = mail.AuthID;
    pop3.Password = mail.AuthPw;
    pop3.Security = ParseMailSecurity(mail.Security);
    pop3.Trust = mail.Trust;
    pop3.Port = link.Pop3Port != 0 ? link.Pop3Port : Pop3PortFor(pop3.Security, mail.POP3Port);
    pop3.ConnectTimeoutMs = link.ConnectTimeoutMs;
    pop3.ReplyTimeoutMs = link.ReplyTimeoutMs;
    pop3.DialogueTimeoutMs = link.DialogueTimeoutMs;
    const int code = pop3.CheckMailbox();
    if (securityLine)
        *securityLine = pop3.SecurityLine;
    if (seenPin)
        *seenPin = pop3.SeenPin;
    return code;
}

namespace {

void FillSmtp(TSMTPObject& smtp, const TMailData& mail, const std::string& subject, const std::string& text,
              const MailLinkOptions& link) {
    smtp.Server = mail.Server;
    smtp.SenderName = mail.Sender;
    smtp.MailFrom = mail.From;
    smtp.MailTo = mail.To;
    smtp.MailCC = mail.CC;
    smtp.MailBCC = mail.BCC;
    smtp.Subject = subject;
    if (UsesSmtpAuth(mail)) {
        smtp.AuthUser = mail.AuthID;
        smtp.AuthPass = mail.AuthPw;
    }
    smtp.SetMailText(text);
    smtp.Security = ParseMailSecurity(mail.Security);
    smtp.Trust = mail.Trust;
    smtp.Port = link.SmtpPort != 0 ? link.SmtpPort : SmtpPortFor(smtp.Security, mail.Port);
    smtp.ConnectTimeoutMs = link.ConnectTimeoutMs;
    smtp.ReplyTimeoutMs = link.ReplyTimeoutMs;
    smtp.DialogueTimeoutMs = link.DialogueTimeoutMs;
}

// Hands on what a client found of the protection of its connection.
void ReportSecurity(const std::string& line, const std::string& seenPin, const MailEvents& events) {
    if (line.empty())
        return;
    if (events.OnSecurityLine)
        events.OnSecurityLine(line);
    // A refused certificate's line ends with what it showed.
    const bool refused = line.rfind("-Zertifikat", 0) == 0 && line.size() > seenPin.size() &&
                         line.compare(line.size() - seenPin.size(), seenPin.size(), seenPin) == 0;
    if (!seenPin.empty() && refused && events.OnUntrustedKey)
        events.OnUntrustedKey(seenPin);
}

MailJob AddressMailJob(const TMailData& mail, const std::string& address, const IClock& clock,
                       const MailLinkOptions& link, const MailAddress6& address6 = std::nullopt) {
    MailJob job;
    job.Mail = mail;
    job.Subject = FillMailSubject(mail.Subject, address, address6);
    job.Text = FillMailText(mail.Text, address, clock, address6);
    job.When = clock.Now();
    job.Link = link;
    return job;
}

} // namespace

void SetUpAddressMail(TSMTPObject& smtp, const TMailData& mail, const std::string& address,
                      const IClock& clock, const MailLinkOptions& link) {
    FillSmtp(smtp, mail, FillMailSubject(mail.Subject, address), FillMailText(mail.Text, address, clock),
             link);
}

int RunMailJob(const MailJob& job, const IClock& clock, const MailEvents& events) {
    // The check before the mail and the mail itself end within one dialogue's time.
    const ScopedNetworkDeadline whole(Deadline::In(SystemClock::Instance(), job.Link.DialogueTimeoutMs));
    try {
        if (UsesPop3Check(job.Mail)) {
            std::string line;
            std::string pin;
            const int pop3Code = RunPop3Check(job.Mail, job.Link, &line, &pin);
            ReportSecurity(line, pin, events);
            if (events.OnPop3Check)
                events.OnPop3Check(pop3Code);
        }
        TSMTPObject smtp(clock);
        FillSmtp(smtp, job.Mail, job.Subject, job.Text, job.Link);
        smtp.CheckOnly = job.CheckOnly;
        const int code = smtp.Deliver();
        ReportSecurity(smtp.SecurityLine, smtp.SeenPin, events);
        if (!smtp.RefusalReply.empty() && events.OnRefusalReply)
            events.OnRefusalReply(smtp.RefusalReply);
        return code;
    } catch (...) {
        return 4;
    }
}

int RunMailJobWhereDue(const MailJob& job, const IClock& clock, const MailEvents& events) {
    if (ParseMailSecurity(job.Mail.Security) == MailSecurity::None)
        return RunMailJob(job, clock, events);
    return RunMailJobInHelper(job, events);
}

std::string Pop3ResultText(int code) {
    switch (code) {
    case 1:
        return "Passwort falsch";
    case 2:
        return "Konto unbekannt";
    case 3:
        return "Server nicht erreicht";
    case 4:
        return "keine Netzwerksverbindung";
    case 5:
        return "fehlende POP3-Parameter";
    case kMailSilent:
        return TimeoutCauseText();
    case kMailOversized:
        return OversizedReplyCauseText();
    case kMailHelperEnded:
        return "Mail-Prozess unerwartet beendet";
    default:
        return "undefinierter Fehler";
    }
}

std::string SmtpResultText(int code) {
    switch (code) {
    case 1:
        return "Übertragungsfehler"_l1;
    case 3:
        return "Server nicht erreicht";
    case 4:
        return "keine Netzwerksverbindung";
    case 5:
        return "fehlende SMTP-Parameter";
    case -2:
        return "Empfänger nicht akzeptiert"_l1;
    case -3:
        return "Absender nicht akzeptiert";
    case -4:
        return "Authentifizierung unzureichend";
    case kMailSilent:
        return TimeoutCauseText();
    case kMailOversized:
        return OversizedReplyCauseText();
    case kMailProtectionRequired:
        return "Server verlangt geschützte Verbindung - Einstellung \"Verschlüsselung:\" prüfen"_l1;
    case kMailHelperEnded:
        return "Mail-Prozess unerwartet beendet";
    default:
        return "undefinierter Fehler";
    }
}

int DeliverAddressMail(const TMailData& mail, const std::string& address, const IClock& clock,
                       const std::function<void(int pop3Code)>& onPop3Check, const MailLinkOptions& link) {
    MailEvents events;
    events.OnPop3Check = onPop3Check;
    return DeliverAddressMail(mail, address, clock, events, link);
}

int DeliverAddressMail(const TMailData& mail, const std::string& address, const IClock& clock,
                       const MailEvents& events, const MailLinkOptions& link, const MailAddress6& address6) {
    try {
        return RunMailJobWhereDue(AddressMailJob(mail, address, clock, link, address6), clock, events);
    } catch (...) {
        return 4;
    }
}

int CheckMailConnection(const TMailData& mail, const MailEvents& events, const MailLinkOptions& link) {
    try {
        MailJob job = AddressMailJob(mail, "", SystemClock::Instance(), link);
        job.CheckOnly = true;
        return RunMailJobWhereDue(job, SystemClock::Instance(), events);
    } catch (...) {
        return 4;
    }
}

} // namespace pelorix
