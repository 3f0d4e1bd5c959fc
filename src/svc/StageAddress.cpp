// Address determination: the host-address check, the FTP probe and the address-source query.

#include "common/ConnectionMode.h"
#include "net/SimpSock.h"
#include "net/Trust.h"
#include "net/TrustText.h"
#include "svc/AddressScan.h"
#include "svc/PageUpload.h"
#include "svc/Pelorix_Main.h"

#include <exception>
#include <optional>

namespace pelorix {

namespace {

const std::string kDetermined = "+IP-Adresse ermittelt als: ";

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
    LogStatus(4, "+Adressquelle wird kontaktiert");
    try {
        TrustDecision refusal;
        std::string reason;
        const AddressQueryResult query =
            Service.SourceSecure
                ? QueryAddressPageHttps(Service.SourceHost, Service.SourcePath, refusal, reason)
                : QueryAddressPage(Service.SourceHost, Service.SourcePath);
        switch (query.outcome) {
        case AddressQueryOutcome::Found:
            LogStatus(4, "+HTTP-Antwortseite gelesen");
            CurrentIP = query.address;
            LogStatus(2, kDetermined + CurrentIP);
            return true;
        case AddressQueryOutcome::NoAddress:
            LogStatus(4, "+HTTP-Antwortseite gelesen");
            LogStatus(0, "-keine IP-Adresse in Abfrageseite enthalten");
            break;
        case AddressQueryOutcome::EmptyAnswer:
            LogStatus(0, "-HTTP-Fehler: Verbindungsfehler");
            break;
        case AddressQueryOutcome::Unreachable:
            LogStatus(0, "-HTTP-Fehler: Server nicht erreicht");
            break;
        case AddressQueryOutcome::NoNetwork:
            LogStatus(0, "-HTTP-Fehler: keine Netzwerksverbindung");
            break;
        case AddressQueryOutcome::BadParameters:
            LogStatus(0, "-HTTP-Fehler: unzureichende(r) Parameter");
            break;
        case AddressQueryOutcome::Refused:
            LogStatus(0, "-HTTP-Fehler: " + CleanServerReply(reason));
            if (!refusal.SeenKey().empty())
                LogStatus(0, RefusalLine(refusal));
            break;
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

} // namespace pelorix
