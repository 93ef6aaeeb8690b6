// The network ports kept in the profile: what the window writes is what kelvarin-cli and the port
// list read, a hand-edited entry that is no URL is left out with its reason, and a bad URL is
// never stored.

#include "link/NetworkPortStore.h"
#include "link/PortList.h"
#include "support/ReadFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Before main: the profile is looked for once per process.
TempHome g_home;

std::string ProfileFile() {
    return g_home.Path() + "/config/Kelvarin/Kelvarin.conf";
}

TEST(NetworkPortStore, AListIsKeptPlainAndListedAfterTheLocalPorts) {
    std::string error;
    ASSERT_TRUE(WriteNetworkPorts(
        {"rfc2217://lab-7:4001", "socket://[::1]:4002", "rfc2217://lab-7:4001"}, error))
        << error;
    EXPECT_EQ(ReadNetworkPorts().ports,
              (std::vector<std::string>{"rfc2217://lab-7:4001", "socket://[::1]:4002"}));
    // One line a user can read and edit.
    EXPECT_NE(ReadFile(ProfileFile()).find("Ports=rfc2217://lab-7:4001 socket://[::1]:4002\n"),
              std::string::npos)
        << ReadFile(ProfileFile());

    // After the local ports, even with the system's left out, and never twice.
    setenv("KELVARIN_PORTS", "/dev/pts/91:socket://[::1]:4002", 1);
    setenv("KELVARIN_PORTS_ONLY", "1", 1);
    EXPECT_EQ(ListSerialPorts(), (std::vector<std::string>{"/dev/pts/91", "socket://[::1]:4002",
                                                           "rfc2217://lab-7:4001"}));

    // A URL that is not well formed is refused, and the list kept stays as it was.
    EXPECT_FALSE(WriteNetworkPorts({"socket://ok:1", "rfc2217://lab-7"}, error));
    EXPECT_EQ(error, "rfc2217://lab-7: no port (HOST:PORT)");
    EXPECT_EQ(ReadNetworkPorts().ports.size(), 2u);

    ASSERT_TRUE(WriteNetworkPorts({}, error)) << error;
    EXPECT_TRUE(ReadNetworkPorts().ports.empty());
    EXPECT_EQ(ReadFile(ProfileFile()).find("Ports="), std::string::npos);
    EXPECT_EQ(ListSerialPorts(), (std::vector<std::string>{"/dev/pts/91", "socket://[::1]:4002"}));
    unsetenv("KELVARIN_PORTS");
    unsetenv("KELVARIN_PORTS_ONLY");
}

TEST(NetworkPortStore, AHandEditedListKeepsItsGoodEntriesAndSaysWhyTheOthersAreLeftOut) {
    const StoredNetworkPorts stored =
        SplitNetworkPorts("ttyUSB0  rfc2217://h:99999\tsocket://ok:1 ftp://x:1 socket://ok:1 ");
    EXPECT_EQ(stored.ports, std::vector<std::string>{"socket://ok:1"});
    EXPECT_EQ(stored.errors, (std::vector<std::string>{
                                 "ttyUSB0: not a network port (rfc2217:// or socket://)",
                                 "rfc2217://h:99999: the port must be a number from 1 to 65535",
                                 "ftp://x:1: unknown scheme (rfc2217:// or socket://)"}));

    std::string many;
    for (size_t i = 1; i <= kMaxNetworkPorts + 1; ++i)
        many += "socket://h:" + std::to_string(i) + " ";
    const StoredNetworkPorts capped = SplitNetworkPorts(many);
    EXPECT_EQ(capped.ports.size(), kMaxNetworkPorts);
    EXPECT_EQ(capped.errors, std::vector<std::string>{"socket://h:21: more than 20 network ports"});
}

} // namespace
