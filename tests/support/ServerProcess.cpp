#include "ServerProcess.h"

namespace pelorix::test {

std::string SourcePath(const std::string& relative) {
    return std::string(PELORIX_SOURCE_DIR) + "/" + relative;
}
std::string BinaryPath(const std::string& relative) {
    return std::string(PELORIX_BINARY_DIR) + "/" + relative;
}

} // namespace pelorix::test
