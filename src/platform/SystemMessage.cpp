#include "platform/SystemMessage.h"

#include "base/Latin1.h"

#include <cerrno>

namespace pelorix {

std::string SystemErrorText(int errnoValue) {
    switch (CommonErrno(errnoValue)) {
    case 0:
        return "Der Vorgang wurde erfolgreich beendet."_l1;
    case EACCES:
    case EPERM:
        return "Zugriff verweigert."_l1;
    case ENOSPC:
        return "Auf dem Datenträger ist nicht genügend Speicherplatz vorhanden."_l1;
    case EROFS:
        return "Der Datenträger ist schreibgeschützt."_l1;
    case ENOENT:
        return "Das System kann den angegebenen Pfad nicht finden."_l1;
    case ENOTDIR:
        return "Der Verzeichnisname ist ungültig."_l1;
    case EISDIR:
        return "Der angegebene Name ist ein Verzeichnis, keine Datei."_l1;
    case EIO:
        return "Die Anforderung konnte wegen eines E/A-Gerätefehlers nicht ausgeführt werden."_l1;
    case ENAMETOOLONG:
        return "Der Dateiname oder die Erweiterung ist zu lang."_l1;
    case EFBIG:
        return "Die Datei ist zu groß."_l1;
    case EBUSY:
    case ETXTBSY:
        return "Der Prozess kann nicht auf die Datei zugreifen, da sie von einem anderen Prozess verwendet wird."_l1;
    case EMFILE:
    case ENFILE:
        return "Das System kann die Datei nicht öffnen."_l1;
    case ENOMEM:
        return "Nicht genügend Speicher verfügbar."_l1;
    case ELOOP:
        return "Der Name der Datei kann nicht aufgelöst werden."_l1;
    case EINVAL:
        return "Falscher Parameter."_l1;
    case EADDRINUSE:
        return "Normalerweise darf jede Socketadresse (Protokoll, Netzwerkadresse oder Anschluss) nur jeweils einmal verwendet werden."_l1;
    case EADDRNOTAVAIL:
        return "Die angeforderte Adresse ist in diesem Kontext ungültig."_l1;
    case EXDEV:
        return "Die Datei kann nicht auf ein anderes Laufwerk verschoben werden."_l1;
    default:
        return "Unbekannter Systemfehler (Fehlercode "_l1 + std::to_string(errnoValue) + ").";
    }
}

} // namespace pelorix
