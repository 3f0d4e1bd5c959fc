#pragma once
// The texts of the manager's windows and boxes that do not depend on its toolkit, and what a
// network action's outcome shows, so that every view of the manager says the same (Latin-1).

#include "svc/AddressScan.h"
#include "svc/PageUpload.h"

#include <string>

namespace pelorix {

enum class BoxKind { Information, Warning, Error, Confirmation, ApplicationError };

struct Box {
    BoxKind Kind = BoxKind::Information;
    std::string Text;
};

std::string WindowCaption();
// The notice after every save.
std::string RestartNotice();
// The question when the router mode is switched on.
std::string RouterQuestion();
// The box a status line that is no "+" line opens in tray mode with "bei Fehlern melden".
std::string TrayErrorText(const std::string& line);
// The box when no browser could show the help page (path as the user reads it).
std::string HelpFailedText(const std::string& page);

// What a manual upload shows.
Box UploadBox(const PageUploadResult& upload);
// What the field of the outer address (ipv6: of the outer IPv6 address) shows for a query that
// found no address.
std::string QueryFailureText(AddressQueryOutcome outcome, bool ipv6 = false);

} // namespace pelorix
