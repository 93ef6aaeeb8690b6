#include "link/Ticks.h"

#include <chrono>

uint32_t TickCount() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

float TickSeconds(uint32_t now, uint32_t start) {
    auto difference = static_cast<int64_t>(static_cast<int32_t>(now - start));
    if (difference < 0)
        difference += 4294967296LL;
    return static_cast<float>(static_cast<double>(difference) / 1000.0);
}
