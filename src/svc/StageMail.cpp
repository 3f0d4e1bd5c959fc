// Mail notification stage: the mail after a successful upload.

#include "svc/MailCompose.h"
#include "svc/PageUpload.h"
#include "svc/Pelorix_Main.h"

namespace pelorix {

bool TPeloThread::NotifyByMail(bool online) {
    bool result = false;
    try {
        const std::string address = MailAddressText(online, CurrentIP);
        const MailAddress6 address6 =
            Service.IPv6.On() ? MailAddress6(MailAddressText(online, CurrentIP6)) : std::nullopt;
        // Each line is recorded as its event comes (from a helper: in the order they happened),
        // so the check's line stands before the mail's. A connection that could not be made
        // secure already has its failure line: one attempt, one such line.
        bool pop3Told = false;
        bool mailTold = false;
        std::string refusal;
        MailEvents events;
        events.OnPop3Check = [this, &pop3Told](int pop3Code) {
            if (pop3Code == 0)
                LogStatus(4, "+POP3-Check OK");
            else if (!pop3Told)
                LogStatus(2, "+POP3-Check gescheitert: " + Pop3ResultText(pop3Code));
        };
        events.OnSecurityLine = [this, &pop3Told, &mailTold](const std::string& line) {
            pop3Told = pop3Told || line == InsecurePop3Line();
            mailTold = mailTold || line == InsecureMailLine();
            LogStatus(0, line);
        };
        events.OnRefusalReply = [&refusal](const std::string& reply) { refusal = reply; };
        const int code = DeliverAddressMail(Service.MailData, address, Clock, events, {}, address6);
        if (code == 0) {
            result = true;
            LogStatus(3, "+Mailversand OK");
        } else if (!mailTold) {
            LogStatus(2, "-Mailversand gescheitert: " + SmtpResultText(code));
            if (!refusal.empty())
                LogStatus(1, "-SMTP-Antwort: " + CleanServerReply(refusal));
        }
    } catch (...) {
        LogStatus(2, "-Mailversand gescheitert: " + SmtpResultText(4));
    }
    return result;
}

} // namespace pelorix
