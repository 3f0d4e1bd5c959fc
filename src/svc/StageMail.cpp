// Mail notification stage: the mail after a successful upload.

#include "svc/MailCompose.h"
#include "svc/Pelorix_Main.h"

namespace pelorix {

bool TPeloThread::NotifyByMail(bool online) {
    bool result = false;
    try {
        const std::string address = MailAddressText(online, CurrentIP);
        const MailAddress6 address6 =
            Service.IPv6.On() ? MailAddress6(MailAddressText(online, CurrentIP6)) : std::nullopt;
        // Each line is recorded as its event comes (from a helper: in the order they happened),
        // so the check's line stands before the mail's.
        MailEvents events;
        events.OnPop3Check = [this](int pop3Code) {
            if (pop3Code == 0)
                LogStatus(4, "+POP3-Check OK");
            else
                LogStatus(2, "+POP3-Check gescheitert: " + Pop3ResultText(pop3Code));
        };
        events.OnSecurityLine = [this](const std::string& line) { LogStatus(0, line); };
        const int code = DeliverAddressMail(Service.MailData, address, Clock, events, {}, address6);
        if (code == 0) {
            result = true;
            LogStatus(3, "+Mailversand OK");
        } else {
            LogStatus(2, "-Mailversand gescheitert: " + SmtpResultText(code));
        }
    } catch (...) {
        LogStatus(2, "-Mailversand gescheitert: " + SmtpResultText(4));
    }
    return result;
}

} // namespace pelorix
