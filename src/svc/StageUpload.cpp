// Upload stage: the generated page to the web space by FTP.

#include "svc/Pelorix_Main.h"

namespace pelorix {

bool TPeloThread::UploadPage() {
    return false;
}

} // namespace pelorix
