#include "platform/SystemMessage.h"

#include <cerrno>

namespace pelorix {

int CommonErrno(int errnoValue) {
    return errnoValue == EDQUOT ? ENOSPC : errnoValue;
}

} // namespace pelorix
