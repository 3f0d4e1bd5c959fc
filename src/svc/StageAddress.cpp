// Address determination: the host-address check, the FTP probe and the address-source query.

#include "net/SimpSock.h"
#include "net/Trust.h"
#include "svc/AddressScan.h"
#include "svc/PageUpload.h"
#include "svc/Pelorix_Main.h"

#include <exception>

namespace pelorix {

namespace {

const std::string kDetermined = "+IP-Adresse ermittelt als: ";

int ProbePort(int mode, int port) {
    if (port > 0 && port <= 65535)
        return port;
    return mode == 2 ? 990 : mode == 3 ? 22 : 21;
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
        sock.FtpPort = ProbePort(Service.FTPMode, Service.FTPPort);
        // FTPS and SFTP greet nobody in clear text: there the probe only connects.
        sock.ExpectGreeting = Service.FTPMode == 0 || Service.FTPMode == 1;
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
        std::string untrustedKey;
        std::string reason;
        const AddressQueryResult query =
            Service.SourceSecure
                ? QueryAddressPageHttps(Service.SourceHost, Service.SourcePath, untrustedKey, reason)
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
            if (!untrustedKey.empty())
                LogStatus(0, UntrustedCertificateLine(untrustedKey));
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
