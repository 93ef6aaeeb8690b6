#include "detectors/DetectorOrder.h"

#include <algorithm>
#include <numeric>

std::vector<int> DetectorListOrder(const std::vector<int32_t>& positions) {
    std::vector<int> order(positions.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int32_t ka = positions[static_cast<size_t>(a)];
        const int32_t kb = positions[static_cast<size_t>(b)];
        if ((ka < 0) != (kb < 0))
            return kb < 0;
        return ka >= 0 && ka < kb;
    });
    return order;
}

std::vector<int> AssignDetectorPositions(const std::vector<std::string>& serials,
                                         std::array<bool, 8> taken) {
    std::vector<int> assigned(serials.size(), -1);
    size_t k = 0;
    for (size_t i = 0; i < serials.size(); ++i) {
        while (k < taken.size() && taken[k])
            ++k;
        if (k >= taken.size())
            break;
        if (serials[i].empty())
            continue; // takes no position; the next detector still does
        assigned[i] = static_cast<int>(k);
        taken[k] = true;
    }
    return assigned;
}

std::string DefaultPositionTitle(int positionIndex) {
    return "Position_" + std::to_string(positionIndex + 1);
}
