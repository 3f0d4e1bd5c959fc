// Mail notification stage: the mail after a successful upload.

#include "svc/Pelorix_Main.h"

namespace pelorix {

bool TPeloThread::NotifyByMail(bool online) {
    (void)online;
    return false;
}

} // namespace pelorix
