#include "link/PortList.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(PortList, EnvironmentPortsComeFirstWithoutRepeatsAndTheListIsCapped) {
    setenv("KELVARIN_PORTS", "/dev/pts/91::/dev/pts/92:/dev/pts/91:ttyKV0", 1);
    EXPECT_EQ(PortsFromEnvironment(),
              (std::vector<std::string>{"/dev/pts/91", "/dev/pts/92", "ttyKV0"}));
    const std::vector<std::string> all = ListSerialPorts();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 3), PortsFromEnvironment());
    for (size_t i = 3; i < all.size(); ++i)
        EXPECT_NE(all[i], "ttyKV0") << "a system port already listed is not repeated";

    std::string many;
    for (int i = 0; i < 25; ++i)
        many += "/dev/pts/" + std::to_string(100 + i) + ":";
    setenv("KELVARIN_PORTS", many.c_str(), 1);
    EXPECT_EQ(ListSerialPorts().size(), kMaxPorts);
    unsetenv("KELVARIN_PORTS");
}

} // namespace
