// Address determination: the host-address check, the FTP probe and the address-source query.

#include "net/SimpSock.h"
#include "svc/AddressScan.h"
#include "svc/Pelorix_Main.h"

#include <exception>

namespace pelorix {

namespace {

const std::string kDetermined = "+IP-Adresse ermittelt als: ";

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
        const AddressQueryResult query = QueryAddressPage(Service.SourceHost, Service.SourcePath);
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
        }
    } catch (const std::exception& error) {
        LogStatus(0, std::string("-HTTP-Fehler: ") + error.what());
    } catch (...) {
        LogStatus(0, "-HTTP-Fehler: unbekannter Fehler");
    }
    return false;
}

} // namespace pelorix
