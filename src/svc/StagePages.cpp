// Page generation: the main page and the additional documents from their templates.

#include "base/Latin1.h"
#include "svc/PageFill.h"
#include "svc/Pelorix_Main.h"

namespace pelorix {

bool TPeloThread::GeneratePages() {
    try {
        TPageFiller filler(CurrentIP, Clock);
        filler.WithIPv6(CurrentIP6, Service.IPv6.Mode());
        if (Service.AddPages) {
            for (const std::string& templatePath : FillAdditionalPages(Service.AddPage, filler))
                LogStatus(3, "-Zusatzseite '" + templatePath + "' nicht gefunden oder nicht zu schreiben");
        }
        const MainPageOutcome outcome = FillMainPage(Service.HTMLTemplate, Service.TempSite, filler);
        if (outcome.templateTooLarge != 0) {
            LogStatus(3, "-Seitenvorlage zu groß ("_l1 + std::to_string(outcome.templateTooLarge) +
                             " Bytes, höchstens 1 MiB)"_l1);
            return false;
        }
        if (outcome.templateMissing)
            LogStatus(3, "+Seitenvorlage fehlt");
        if (outcome.written) {
            LogStatus(3, "+Seitengenerierung ausgeführt"_l1);
            return true;
        }
    } catch (...) {
        // reported below like any other failure to write the page
    }
    LogStatus(3, "-Schreibfehler bei lokaler temporärer Seite"_l1);
    return false;
}

} // namespace pelorix
