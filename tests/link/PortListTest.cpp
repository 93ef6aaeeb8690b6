#include "link/PortList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

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

// A port is named by the by-id link that leads to it, whichever way the link is written.
TEST(PortList, AStablePortNameIsTheLinkToTheSameDevice) {
    char folder[] = "/tmp/kelvarin-by-id-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    const std::string device = dir + "/ttyKV0";
    const std::string other = dir + "/ttyKV1";
    std::fclose(std::fopen(device.c_str(), "w"));
    std::fclose(std::fopen(other.c_str(), "w"));
    const std::string byId = dir + "/by-id";
    ASSERT_EQ(mkdir(byId.c_str(), 0700), 0);
    ASSERT_EQ(symlink("../ttyKV1", (byId + "/usb-Other-if00").c_str()), 0);
    ASSERT_EQ(symlink("../ttyKV0", (byId + "/usb-Meter_B-if00").c_str()), 0);
    ASSERT_EQ(symlink(device.c_str(), (byId + "/usb-Meter_A-if00").c_str()), 0);
    ASSERT_EQ(symlink("../missing", (byId + "/usb-Dangling").c_str()), 0);

    EXPECT_EQ(StablePortName(device, byId), byId + "/usb-Meter_A-if00");
    EXPECT_EQ(StablePortName(other, byId), byId + "/usb-Other-if00");
    EXPECT_EQ(StablePortName(dir + "/missing", byId), "");
    EXPECT_EQ(StablePortName(device, dir + "/no-such-folder"), "");

    for (const char* name :
         {"usb-Other-if00", "usb-Meter_B-if00", "usb-Meter_A-if00", "usb-Dangling"})
        unlink((byId + "/" + name).c_str());
    rmdir(byId.c_str());
    unlink(device.c_str());
    unlink(other.c_str());
    rmdir(folder);
}
