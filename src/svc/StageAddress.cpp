// Address determination: the host-address check, the FTP probe and the address-source query.

#include "svc/Pelorix_Main.h"

namespace pelorix {

bool TPeloThread::CheckHostAddresses() {
    return false;
}

bool TPeloThread::ProbeFTPAddress() {
    return false;
}

bool TPeloThread::QueryAddressSource() {
    return false;
}

} // namespace pelorix
