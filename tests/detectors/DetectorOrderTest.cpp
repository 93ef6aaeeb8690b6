#include "detectors/DetectorOrder.h"

#include <gtest/gtest.h>

TEST(DetectorOrder, StoredPositionsFirstThenPortOrder) {
    // Ports 0 to 5 with stored positions 4, none, 1, 4, none, 0: ties keep the port order.
    EXPECT_EQ(DetectorListOrder({4, -1, 1, 4, -1, 0}), (std::vector<int>{5, 2, 0, 3, 1, 4}));
    EXPECT_EQ(DetectorListOrder({-1, -7, -1}), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(DetectorListOrder({}), std::vector<int>{});
}

TEST(DetectorOrder, EachAnsweringDetectorTakesTheNextFreePosition) {
    std::array<bool, 8> taken{};
    taken[1] = true;
    // The second gave no serial number: it takes nothing and the third still takes a position.
    EXPECT_EQ(AssignDetectorPositions({"KV1", "", "KV3", "KV4"}, taken),
              (std::vector<int>{0, -1, 2, 3}));
    // Nine detectors for eight free positions: the last takes none.
    const std::vector<std::string> nine(9, "KV");
    const std::vector<int> assigned = AssignDetectorPositions(nine, {});
    EXPECT_EQ(assigned.front(), 0);
    EXPECT_EQ(assigned[7], 7);
    EXPECT_EQ(assigned.back(), -1);
    EXPECT_EQ(DefaultPositionTitle(2), "Position_3");
}
