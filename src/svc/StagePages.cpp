// Page generation: the main page and the additional documents from their templates.

#include "svc/Pelorix_Main.h"

namespace pelorix {

bool TPeloThread::GeneratePages() {
    return false;
}

} // namespace pelorix
