#include "sim/MeterSimulator.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The application's side of the port.
class SlavePort {
public:
    explicit SlavePort(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios attributes{};
        if (m_fd >= 0 && tcgetattr(m_fd, &attributes) == 0) {
            cfmakeraw(&attributes);
            tcsetattr(m_fd, TCSANOW, &attributes);
        }
    }
    ~SlavePort() { Close(); }
    SlavePort(const SlavePort&) = delete;
    SlavePort& operator=(const SlavePort&) = delete;
    int Fd() const { return m_fd; }
    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

    void WriteSlowly(const std::string& text) {
        for (char byte : text) {
            ASSERT_EQ(write(m_fd, &byte, 1), 1);
            std::this_thread::sleep_for(milliseconds(5));
        }
    }
    // Everything that arrives for `ms`: for what must not come, and to empty the port.
    std::string Read(int ms) {
        return ReadUntil([](const std::string&) { return false; }, ms);
    }
    // What arrives until `done` holds for it or the (generous) time passes.
    template <class Done>
    std::string ReadUntil(Done done, int ms = static_cast<int>(kGenerousDeadline.count())) {
        std::string text;
        auto deadline = Clock::now() + milliseconds(ms);
        while (Clock::now() < deadline && !done(text)) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (poll(&pfd, 1, 10) <= 0)
                continue;
            char buffer[256];
            ssize_t got = read(m_fd, buffer, sizeof buffer);
            if (got <= 0)
                break;
            text.append(buffer, static_cast<size_t>(got));
        }
        return text;
    }
    std::string ReadLine() {
        return ReadUntil([](const std::string& text) { return text.find('\n') != text.npos; });
    }

private:
    int m_fd;
};

MeterProfile SteadyProfile() {
    MeterProfile profile = DefaultMeterProfile(3);
    profile.nominalWatts = 1.234e-3;
    profile.noise = 0;
    profile.drift = false;
    return profile;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != text.npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// The text after the last `marker`, or all of it when there is none.
std::string AfterLast(const std::string& text, const std::string& marker) {
    const size_t at = text.rfind(marker);
    return at == text.npos ? text : text.substr(at + marker.size());
}

} // namespace

TEST(MeterModel, ReadingTextAndPower) {
    EXPECT_EQ(FormatReading(0.001234), "1.234E-03");
    EXPECT_EQ(FormatReading(12), "1.200E+01");
    EXPECT_EQ(FormatReading(1e300 * 1e300), "0.000E+00");

    MeterProfile profile = SteadyProfile();
    EXPECT_EQ(ModelPower(profile, 37.5, 1064), profile.nominalWatts);
    profile.drift = true;
    for (int nm : {193, 532, 1064, 10600, 100000, -5}) {
        for (double t = 0; t < 600; t += 7)
            EXPECT_NEAR(ModelPower(profile, t, nm) / profile.nominalWatts, 1.0, 0.2)
                << nm << " " << t;
    }
}

TEST(MeterSimulator, AnswersAndStreamsOnAPseudoTerminal) {
    CMeterSimulator meter(SteadyProfile());
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    SlavePort port(meter.PortPath());
    ASSERT_GE(port.Fd(), 0);

    port.WriteSlowly("*NAM");
    EXPECT_EQ(port.ReadLine(), meter.Profile().name + "\r\n");
    const double askedMs = std::chrono::duration<double, std::milli>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
    port.WriteSlowly("*SNN");
    EXPECT_EQ(port.ReadLine(), meter.Profile().serialReply + "\r\n");
    std::vector<ReceivedByte> bytes = meter.ReceivedBytes();
    ASSERT_EQ(bytes.size(), 8u);
    EXPECT_EQ(bytes[4].byte, '*');
    for (size_t i = 1; i < bytes.size(); ++i)
        EXPECT_GE(bytes[i].timeMs, bytes[i - 1].timeMs);
    // The last byte of "*SNN" read three pauses after its first was written (a stamp is never
    // early, but may be late: it is held against the writer's clock, not another stamp).
    EXPECT_GE(bytes[7].timeMs - askedMs, 15.0);

    // 20 readings per second: ten lines take at least nine intervals (the first goes at once).
    meter.SetReadingsPerSecond(20);
    const auto streamStart = Clock::now();
    port.WriteSlowly("*CAU");
    std::string stream =
        port.ReadUntil([](const std::string& text) { return Count(text, "\r\n") >= 10; });
    const auto streamTook = Clock::now() - streamStart;
    EXPECT_TRUE(meter.IsStreaming());
    EXPECT_EQ(stream.substr(0, 11), "1.234E-03\r\n");
    EXPECT_EQ(Count(stream, "1.234E-03\r\n") * 11, stream.size()) << stream; // whole lines only
    const size_t lines = Count(stream, "\r\n");
    EXPECT_GE(lines, 10u);
    EXPECT_GE(streamTook, milliseconds(9 * 50));

    // A new wavelength changes every reading from the one after the command on.
    port.WriteSlowly("*PWC  532");
    EXPECT_TRUE(WaitUntil([&] { return meter.Wavelength() == 532; }));
    const std::string changed = port.ReadUntil([](const std::string& text) {
        return Count(AfterLast(text, "1.234E-03\r\n"), "E-03\r\n") >= 3;
    });
    EXPECT_GE(Count(AfterLast(changed, "1.234E-03\r\n"), "E-03\r\n"), 3u) << changed;
    const std::string later =
        port.ReadUntil([](const std::string& text) { return Count(text, "\r\n") >= 3; });
    EXPECT_GE(Count(later, "E-03\r\n"), 3u) << later;
    EXPECT_EQ(later.find("1.234E-03"), std::string::npos) << later;

    port.WriteSlowly("*CSU");
    EXPECT_TRUE(WaitUntil([&] { return !meter.IsStreaming(); }));
    port.Read(200); // what was sent before the command
    EXPECT_EQ(port.Read(300), "");
    EXPECT_GE(meter.ReadingsSent(), lines);
    EXPECT_EQ(meter.SentReadings().size(), meter.ReadingsSent());

    // Closed port: nobody listens, so nothing is written or counted.
    port.WriteSlowly("*CAU");
    EXPECT_TRUE(WaitUntil([&] { return meter.IsStreaming(); }));
    port.Close();
    EXPECT_TRUE(WaitUntil([&] { return !meter.HasListener(); }));
    uint64_t sent = meter.ReadingsSent();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(meter.ReadingsSent(), sent);
}

TEST(MeterSimulator, FaultsCorruptSilenceAndUnplug) {
    CMeterSimulator meter(SteadyProfile());
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    SlavePort port(meter.PortPath());
    meter.SetFault(MeterFault::NonNumberLines);
    port.WriteSlowly("*CAU");
    std::string text = port.ReadUntil([](const std::string& got) {
        return Count(got, "\r\nERR\r\n") >= 2 && Count(got, "\r\nOVER RANGE\r\n") >= 2;
    });
    EXPECT_GE(Count(text, "\r\nERR\r\n"), 2u) << text;
    EXPECT_GE(Count(text, "\r\nOVER RANGE\r\n"), 2u) << text;

    // From the first reading ended by a blank on, no line ends at all.
    meter.SetFault(MeterFault::NoLineEnd);
    text = port.ReadUntil([](const std::string& got) {
        const size_t first = got.find("1.234E-03 ");
        return first != got.npos && Count(got.substr(first), "1.234E-03 ") >= 3;
    });
    const size_t first = text.find("1.234E-03 ");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find_first_of("\r\n", first), std::string::npos) << text;
    EXPECT_GE(Count(text.substr(first), "1.234E-03 "), 3u) << text;

    meter.SetFault(MeterFault::Silence);
    port.Read(200); // what was sent before the fault
    port.WriteSlowly("*NAM");
    EXPECT_TRUE(WaitUntil([&] {
        const auto commands = meter.ReceivedCommands();
        return !commands.empty() && commands.back().kind == MeterCommand::AskName;
    }));
    EXPECT_EQ(port.Read(400), "");

    meter.SetFault(MeterFault::HangUp);
    bool gone = false;
    for (auto until = Clock::now() + milliseconds(2000); !gone && Clock::now() < until;) {
        pollfd pfd{port.Fd(), POLLIN, 0};
        char byte;
        gone = poll(&pfd, 1, 20) > 0 &&
               ((pfd.revents & POLLHUP) != 0 || read(port.Fd(), &byte, 1) <= 0);
    }
    EXPECT_TRUE(gone);
    auto stopStart = Clock::now();
    meter.Stop();
    EXPECT_LT(Clock::now() - stopStart, milliseconds(1000));
}

TEST(MeterSimulator, ReplugHangsUpAndComesBackOnANewPortThroughItsLink) {
    char folder[] = "/tmp/kelvarin-sim-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/" + LinkName(SteadyProfile());
    CMeterSimulator meter(SteadyProfile());
    meter.SetLinkPath(link);
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    EXPECT_EQ(meter.StablePath(), link);
    char target[128] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    const std::string first = meter.PortPath();
    EXPECT_EQ(target, first);

    SlavePort port(link);
    port.WriteSlowly("*PWC 1550*CAU");
    EXPECT_NE(port.ReadLine(), "");
    meter.Replug(600000); // out until it is plugged in below
    // Out: no link, so nobody reaches another meter on the freed number through it.
    EXPECT_TRUE(WaitUntil([&] { return access(link.c_str(), F_OK) != 0; }));
    EXPECT_EQ(meter.ReplugCount(), 0);
    char byte;
    EXPECT_TRUE(WaitUntil([&] {
        pollfd pfd{port.Fd(), POLLIN, 0};
        return poll(&pfd, 1, 20) > 0 &&
               ((pfd.revents & POLLHUP) != 0 || read(port.Fd(), &byte, 1) <= 0);
    }));
    port.Close();
    meter.PlugIn();
    ASSERT_TRUE(WaitUntil([&] { return meter.ReplugCount() == 1; }));
    EXPECT_NE(meter.PortPath(), first);
    std::fill(std::begin(target), std::end(target), '\0');
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(target, meter.PortPath());
    // Back as switched on: silent, at its power-on wavelength, answering through the link.
    EXPECT_FALSE(meter.IsStreaming());
    EXPECT_EQ(meter.Wavelength(), 1064);
    SlavePort again(link);
    again.WriteSlowly("*NAM");
    EXPECT_EQ(again.ReadLine(), meter.Profile().name + "\r\n");

    meter.Stop();
    EXPECT_NE(access(link.c_str(), F_OK), 0); // the link goes with the meter
    rmdir(folder);
}
