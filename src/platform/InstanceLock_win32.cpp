#include "platform/InstanceLock.h"

namespace pelorix {

// STUB
TInstanceLock::TInstanceLock(const std::string&) {}
TInstanceLock::~TInstanceLock() = default;

} // namespace pelorix
