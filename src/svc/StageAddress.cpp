// Address determination: the host-address check, the FTP probe and the address-source query.

#include "base/Latin1.h"
#include "common/ConnectionMode.h"
#include "net/FailureCause.h"
#include "net/SimpSock.h"
#include "net/Trust.h"
#include "net/TrustText.h"
#include "svc/AddressChoice.h"
#include "svc/AddressScan.h"
#include "svc/AddressScan6.h"
#include "svc/PageUpload.h"
#include "svc/Pelorix_Main.h"

#include <exception>
#include <optional>

namespace pelorix {

namespace {

const std::string kDetermined = "+IP-Adresse ermittelt als: ";
const std::string kDetermined6 = "+IPv6-Adresse ermittelt als: ";

// Names the interface the address was looked for on, as the user set it or as the default
// route gave it.
std::string NoIPv6Line(const std::string& configured, const std::string& found) {
    if (!configured.empty() && found.empty())
        return "-IPv6: Schnittstelle " + configured + " nicht gefunden";
    if (found.empty())
        return "-IPv6: keine Standardroute";
    return "-keine öffentliche IPv6-Adresse an "_l1 + found;
}

// A mode this program does not know sends nothing here either: the probe only connects, at the
// port of plain FTP.
int ProbePort(std::optional<ConnectionMode> mode, int port) {
    if (port > 0 && port <= 65535)
        return port;
    return StandardPort(mode.value_or(ConnectionMode::Plain));
}

} // namespace

bool TPeloThread::CheckHostAddresses() {
    HostAddresses.clear();
    try {
        HostAddresses = HostSource.HostAddresses();
    } catch (...) {
        HostAddresses.clear(); // a failed listing counts as an empty list
    }
    const HostAddressCheck check = CompareHostAddresses(PreviousHostAddresses, HostAddresses);
    for (const std::string& message : check.messages)
        LogStatus(3, message);
    PreviousHostAddresses = HostAddresses;
    return check.probe;
}

bool TPeloThread::ProbeFTPAddress() {
    LogStatus(4, "+FTP-Login gestartet (Ping)");
    try {
        TSimpSock sock;
        sock.Host = Service.FTPHost;
        const std::optional<ConnectionMode> mode = ConnectionModeFromNumber(Service.FTPMode);
        sock.FtpPort = ProbePort(mode, Service.FTPPort);
        // Where the server greets nobody in clear text, the probe only connects.
        sock.ExpectGreeting = mode && GreetsInClearText(*mode);
        switch (sock.PingFTP()) {
        case TSimpSock::kOk:
            LogStatus(2, kDetermined + sock.LocalIP);
            CurrentIP = sock.LocalIP;
            return true;
        case TSimpSock::kUnreachable:
            LogStatus(0, "-FTP-Fehler: Server nicht erreicht");
            break;
        case TSimpSock::kNoNetwork:
            LogStatus(0, "-FTP-Fehler: keine Netzwerksverbindung");
            break;
        case TSimpSock::kBadParameters:
            LogStatus(0, "-FTP-Fehler: unzureichende(r) Parameter");
            break;
        default:
            break;
        }
    } catch (const std::exception& error) {
        LogStatus(0, std::string("-FTP-Fehler: ") + error.what());
    } catch (...) {
        LogStatus(0, "-FTP-Fehler: unbekannter Fehler");
    }
    return false;
}

bool TPeloThread::QueryAddressSource() {
    CurrentIP = "###";
    const SourcePage page{Service.SourceHost,   Service.SourcePath,
                          Service.SourceSecure, FindAddressInAnswer,
                          kDetermined,          "-keine IP-Adresse in Abfrageseite enthalten"};
    return QueryPage(page, CurrentIP);
}

bool TPeloThread::QueryPage(const SourcePage& page, std::string& address) {
    LogStatus(4, "+Adressquelle wird kontaktiert");
    try {
        TrustDecision refusal;
        std::string reason;
        const AddressQueryResult query =
            page.secure ? QueryAddressPageHttps(page.host, page.path, refusal, reason, true, page.scan)
                        : QueryAddressPage(page.host, page.path, 80, 20000, 30000, 60000, page.scan);
        switch (query.outcome) {
        case AddressQueryOutcome::Found:
            LogStatus(4, "+HTTP-Antwortseite gelesen");
            address = query.address;
            LogStatus(2, page.determinedLine + address);
            return true;
        case AddressQueryOutcome::NoAddress:
            LogStatus(4, "+HTTP-Antwortseite gelesen");
            LogStatus(0, page.noAddressLine);
            break;
        case AddressQueryOutcome::EmptyAnswer:
            LogStatus(0, "-HTTP-Fehler: Verbindungsfehler");
            break;
        case AddressQueryOutcome::Unreachable:
            LogStatus(0, "-HTTP-Fehler: Server nicht erreicht");
            break;
        case AddressQueryOutcome::TimedOut:
            LogStatus(0, "-HTTP-Fehler: " + TimeoutCauseText());
            if (!reason.empty())
                LogStatus(1, "-HTTP-Antwort: " + CleanServerReply(reason));
            break;
        case AddressQueryOutcome::NoNetwork:
            LogStatus(0, "-HTTP-Fehler: keine Netzwerksverbindung");
            break;
        case AddressQueryOutcome::BadParameters:
            LogStatus(0, "-HTTP-Fehler: unzureichende(r) Parameter");
            break;
        case AddressQueryOutcome::Refused: {
            // The library's own words only as the detail below a German cause.
            const std::string cause = FailureCause(0, reason);
            LogStatus(0, "-HTTP-Fehler: " + (cause.empty() ? CleanServerReply(reason) : cause));
            if (!cause.empty())
                LogStatus(1, "-HTTP-Antwort: " + CleanServerReply(reason));
            if (!refusal.SeenKey().empty())
                LogStatus(0, RefusalLine(refusal));
            break;
        }
        case AddressQueryOutcome::Unavailable:
            LogStatus(0, UnavailableConnectionLine());
            break;
        }
    } catch (const std::exception& error) {
        LogStatus(0, std::string("-HTTP-Fehler: ") + error.what());
    } catch (...) {
        LogStatus(0, "-HTTP-Fehler: unbekannter Fehler");
    }
    return false;
}

bool TPeloThread::DetermineIPv6() {
    if (RouterMode && !Service.SourceHost6.empty()) {
        // A failed query keeps the address found before, as a failed probe does.
        const SourcePage page{Service.SourceHost6,   Service.SourcePath6,
                              Service.SourceSecure6, FindIPv6InAnswer,
                              kDetermined6,          "-keine IPv6-Adresse in Abfrageseite enthalten"};
        return QueryPage(page, CurrentIP6);
    }
    const std::string previous = CurrentIP6;
    HostAddresses6 = HostSource.HostAddresses6(Service.IPv6.Interface);
    CurrentIP6 =
        ChooseIPv6Address(HostAddresses6.Addresses, PublishedIP6 == "#" ? std::string() : PublishedIP6);
    if (CurrentIP6.empty()) {
        if (previous != CurrentIP6)
            LogStatus(0, NoIPv6Line(Service.IPv6.Interface, HostAddresses6.Interface));
        return false;
    }
    if (CurrentIP6 == previous) {
        LogStatus(3, "+IPv6-Adresse unverändert"_l1);
    } else {
        if (!previous.empty() && previous != "0")
            LogStatus(3, "+IPv6-Adresse aufgegeben: " + previous);
        LogStatus(2, kDetermined6 + CurrentIP6);
    }
    return true;
}

} // namespace pelorix
