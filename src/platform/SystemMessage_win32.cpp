#include "platform/SystemMessage.h"

namespace pelorix {

int CommonErrno(int errnoValue) {
    return errnoValue;
}

} // namespace pelorix
