#include "platform/TcpSocket.h"

namespace pelorix {

int ExchangeDeadline::Cap(int limitMs) const {
    // Rounded up, so that a wait cut to what is left ends only once the exchange is over.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now()).count();
    if (left <= 0)
        return 0;
    return left < limitMs ? static_cast<int>(left) : limitMs;
}

} // namespace pelorix
