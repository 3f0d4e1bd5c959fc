#include "svc/MailCompose.h"

#include "common/Latin1.h"

#include <cstdio>

namespace pelorix {

namespace {

std::string TwoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", (value % 100 + 100) % 100);
    return text;
}

// Replaces every placeholder left to right; the search goes on behind each inserted value,
// so a value that itself holds the placeholder cannot make the replacing run for ever.
template <typename MakeValue>
std::string ReplaceEach(std::string text, const std::string& placeholder, MakeValue makeValue) {
    std::size_t from = 0;
    for (std::size_t at = text.find(placeholder, from); at != std::string::npos;
         at = text.find(placeholder, from)) {
        const std::string value = makeValue();
        text.replace(at, placeholder.size(), value);
        from = at + value.size();
    }
    return text;
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

std::string FillMailSubject(const std::string& subjectTemplate, const std::string& address) {
    return ReplaceEach(subjectTemplate, "%IP%", [&] { return address; });
}

std::string FillMailText(const std::string& textTemplate, const std::string& address, const IClock& clock) {
    std::string text = ReplaceEach(textTemplate, "%Date%", [&] {
        const LocalTime t = clock.Now();
        return TwoDigits(t.day) + "." + TwoDigits(t.month) + "." + TwoDigits(t.year);
    });
    text = ReplaceEach(text, "%Time%", [&] {
        const LocalTime t = clock.Now();
        return TwoDigits(t.hour) + ":" + TwoDigits(t.minute);
    });
    return ReplaceEach(text, "%IP%", [&] { return address; });
}

int RunPop3Check(const TMailData& mail, const MailLinkOptions& link) {
    TPOP3Object pop3;
    pop3.Server = mail.POP3Srv;
    pop3.User = mail.AuthID;
    pop3.Password = mail.AuthPw;
    pop3.Port = link.Pop3Port;
    pop3.ConnectTimeoutMs = link.ConnectTimeoutMs;
    pop3.ReplyTimeoutMs = link.ReplyTimeoutMs;
    return pop3.CheckMailbox();
}

void SetUpAddressMail(TSMTPObject& smtp, const TMailData& mail, const std::string& address,
                      const IClock& clock, const MailLinkOptions& link) {
    smtp.Server = mail.Server;
    smtp.SenderName = mail.Sender;
    smtp.MailFrom = mail.From;
    smtp.MailTo = mail.To;
    smtp.MailCC = mail.CC;
    smtp.MailBCC = mail.BCC;
    smtp.Subject = FillMailSubject(mail.Subject, address);
    if (UsesSmtpAuth(mail)) {
        smtp.AuthUser = mail.AuthID;
        smtp.AuthPass = mail.AuthPw;
    }
    smtp.SetMailText(FillMailText(mail.Text, address, clock));
    smtp.Port = link.SmtpPort;
    smtp.ConnectTimeoutMs = link.ConnectTimeoutMs;
    smtp.ReplyTimeoutMs = link.ReplyTimeoutMs;
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
    default:
        return "undefinierter Fehler";
    }
}

int DeliverAddressMail(const TMailData& mail, const std::string& address, const IClock& clock,
                       const std::function<void(int pop3Code)>& onPop3Check, const MailLinkOptions& link) {
    try {
        if (UsesPop3Check(mail)) {
            const int pop3Code = RunPop3Check(mail, link);
            if (onPop3Check)
                onPop3Check(pop3Code);
        }
        TSMTPObject smtp(clock);
        SetUpAddressMail(smtp, mail, address, clock, link);
        return smtp.Deliver();
    } catch (...) {
        return 4;
    }
}

} // namespace pelorix
