#include "mgrcore/MgrTexts.h"

#include "base/Latin1.h"
#include "net/FailureCause.h"

namespace pelorix {

std::string WindowCaption() {
    return "Pelorix  -  dynamische IP-Adresse veröffentlichen"_l1;
}

std::string RestartNotice() {
    return "Änderungen werden erst nach Neustart des Dienstes wirksam!"_l1;
}

std::string RouterQuestion() {
    return "Benötigen Sie wirklich die Routerbetriebsart?"_l1;
}

std::string TrayErrorText(const std::string& line) {
    return "Pelorix\r\n\r\n" + line;
}

std::string HelpFailedText(const std::string& page) {
    return "Die Hilfe konnte nicht im Browser geöffnet werden.\r\n\nSie steht in der Datei\r\n"_l1 + page;
}

Box UploadBox(const PageUploadResult& upload) {
    switch (upload.Outcome) {
    case PageUploadOutcome::Uploaded:
        return {BoxKind::Information, "FTP-Upload OK mit " + upload.StoredAs};
    case PageUploadOutcome::LoginFailed:
        return {BoxKind::Error, "FTP-Login gescheitert"};
    case PageUploadOutcome::Error:
        return {BoxKind::Error, "FTP-Fehler: " + upload.ErrorText};
    case PageUploadOutcome::NoFileName: // nothing can be stored without a file name
    case PageUploadOutcome::UploadFailed:
    case PageUploadOutcome::LoggedIn:
        break;
    }
    return {BoxKind::Error, "FTP-Upload gescheitert"};
}

std::string QueryFailureText(AddressQueryOutcome outcome, bool ipv6) {
    switch (outcome) {
    case AddressQueryOutcome::NoAddress:
        return ipv6 ? "keine IPv6-Adresse in Abfrageseite enthalten"
                    : "keine IP-Adresse in Abfrageseite enthalten";
    case AddressQueryOutcome::EmptyAnswer:
        return "Verbindungsfehler";
    case AddressQueryOutcome::Unreachable:
        return "Server nicht erreicht";
    case AddressQueryOutcome::NoNetwork:
        return "keine Netzwerksverbindung";
    case AddressQueryOutcome::TimedOut:
        return TimeoutCauseText();
    case AddressQueryOutcome::BadParameters:
    case AddressQueryOutcome::Refused:
    case AddressQueryOutcome::Unavailable:
    case AddressQueryOutcome::Found:
        break;
    }
    return "ungültige Verbindungs-Parameter!"_l1;
}

} // namespace pelorix
