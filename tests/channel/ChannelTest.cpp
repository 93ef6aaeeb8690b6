// The channel core against simulated meters on pseudo-terminals: requests made while the meter
// streams, a configuration in the middle of a stream, a meter lost and resumed, and a channel
// closed or destroyed in the middle of an exchange. Run under ThreadSanitizer too.

#include "channel/Channel.h"
#include "detectors/ChannelConfigFile.h"
#include "sim/MeterSimulator.h"
#include "support/SteadyMeter.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

TempHome g_home;

MeterProfile Steady(const std::string& serial, double rate = 40) {
    return SteadyProfile("KLV-CHAN", serial, rate);
}

CChannelConfig Record(const std::string& port, const std::string& serial) {
    CChannelConfig config;
    config.m_strPort = port;
    config.m_strSerial = serial;
    config.m_strName = "KLV-CHAN";
    config.m_nPosition = 2;
    config.m_strTitle = "Head";
    return config;
}

// Now on the steady clock in ms, as the simulator stamps what it reads. A stamp is never earlier
// than the byte's writing but may be late on a busy machine: a pause is checked as a stamp after
// a time taken before the exchange, never as the gap between two stamps.
double NowMs() {
    return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Connecting: the request returns at once with the channel bound; the worker opens, waits
// 400 ms, sends the wavelength, 200 ms, starts the stream; readings are calibrated by the record
// and lines that are not numbers leave no trace. Configurations asked while the meter streams
// then run one after the other on the worker, with the meter's pacing, and the stream goes on
// between them; the caller never waits.
TEST(Channel, ConnectsAndIsConfiguredWithoutWaitingWhileTheStreamGoesOn) {
    CMeterSimulator meter(Steady("KC1001", 200));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    meter.SetFault(MeterFault::NonNumberLines);

    CChannel channel;
    CChannelConfig config = Record(meter.PortPath(), "KC1001");
    config.m_fGain = 2.0f;
    config.m_fOffset = 0.5f;
    config.m_fLevelHigh = 1.0f;
    config.m_nWavelength = 1064; // the simulated power depends on it
    std::promise<CChannel::Outcome> done;
    const double connectMs = NowMs();
    channel.RequestConnect(config, true, [&](const CChannel::Outcome& o) { done.set_value(o); });
    EXPECT_TRUE(channel.IsConnecting()) << "the request does not wait for the meter";
    EXPECT_EQ(channel.Config().m_strTitle, "Head");

    const CChannel::Outcome outcome = done.get_future().get();
    EXPECT_TRUE(outcome.ok);
    EXPECT_TRUE(channel.IsConnected());
    channel.EnableStatistics();
    ASSERT_TRUE(WaitUntil([&] { return channel.StatisticsSnapshot().m_nCount >= 5; }));

    auto bytes = meter.ReceivedBytes();
    ASSERT_GE(bytes.size(), 13u);
    EXPECT_EQ(ReceivedText(meter).substr(0, 13), "*PWC 1064*CAU");
    // 400 ms after the open, eight paces of the wavelength, 200 ms before the start.
    EXPECT_GE(bytes[9].timeMs - connectMs, 400 + 8 * 5 + 200);

    const float expected = 2.0f * 1.5e-3f + 0.5f;
    EXPECT_EQ(channel.Value(), expected);
    const CGraphRenderer graph = channel.GraphSnapshot();
    for (const CGraphData& sample : graph.m_points)
        EXPECT_EQ(sample.fValue, expected);
    EXPECT_TRUE(graph.m_bShowLevelHigh);
    EXPECT_EQ(graph.m_fLevelHighLine, 1.0f);
    EXPECT_FALSE(channel.Alarm());

    meter.ClearLogs();
    config = channel.Config();
    config.m_nWavelength = 1550;
    config.m_bAnticipation = false;
    config.m_fLevelHigh = 2e-3f;
    config.m_fLevelLow = 1e-3f;
    std::atomic<int> finished{0};
    const double configureMs = NowMs();
    channel.RequestConfigure(config, [&](const CChannel::Outcome&) { ++finished; });
    config.m_nWavelength = 633;
    config.m_bAnticipation = true;
    channel.RequestConfigure(config, [&](const CChannel::Outcome&) { ++finished; });
    EXPECT_EQ(finished, 0) << "neither request waited for its exchange (265 ms each)";
    // The record and its level lines at once, before the meter has heard anything.
    EXPECT_EQ(channel.Config().m_nWavelength, 633);
    EXPECT_EQ(channel.GraphSnapshot().m_fLevelLowLine, 1e-3f);

    ASSERT_TRUE(WaitUntil([&] { return finished == 2; }));
    EXPECT_EQ(ReceivedText(meter), "*PWC 1550*ANF*PWC  633*ANT");
    bytes = meter.ReceivedBytes();
    EXPECT_GE(bytes[9].timeMs - configureMs, 8 * 5 + 200); // the wavelength, 200 ms, "*ANF"
    EXPECT_GE(bytes[22].timeMs - configureMs, (8 * 5 + 200 + 3 * 5) + 8 * 5 + 200); // "*ANT"
    EXPECT_EQ(meter.Wavelength(), 633);
    EXPECT_TRUE(meter.Anticipation());
    const uint64_t count = channel.ReadingCount();
    EXPECT_TRUE(WaitUntil([&] { return channel.ReadingCount() > count + 20; }));
    EXPECT_TRUE(channel.IsConnected());
}

// A port that does not open leaves the channel unbound, and the failure is told with the port's
// reason.
TEST(Channel, APortThatDoesNotOpenLeavesTheChannelUnboundAndSaysWhy) {
    CChannel channel;
    std::promise<CChannel::Outcome> done;
    channel.RequestConnect(Record(g_home.Path() + "/no-such-port", "KC1002"), false,
                           [&](const CChannel::Outcome& o) { done.set_value(o); });
    const CChannel::Outcome outcome = done.get_future().get();
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error.code, ENOENT);
    EXPECT_FALSE(channel.IsBound());
    const std::vector<std::string> failures = channel.TakeFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].find(g_home.Path() + "/no-such-port: cannot open the port: "), 0u);
    EXPECT_NE(failures[0].find("No such file or directory"), std::string::npos);
    EXPECT_TRUE(channel.TakeFailures().empty()) << "told once";
}

// Unplugged: the channel is lost at once and keeps its last value (greyed by the pane, kept for
// recordings) but shows nothing as read; it tries its port every two seconds and takes the same
// meter back with its settings, with no value, reading time or alarm until the meter reads
// again. A meter that stops sending with its port open is silent after 5 s (its last reading
// still recorded), and live again at its next reading. Another meter behind the link is asked
// who it is, left stopped, and the channel stays lost until it is closed; bound to another
// meter, nothing of the first one is shown or recorded for it.
TEST(Channel, ALostMeterIsResumedAfreshAnotherIsNotTakenOverAndASilentOneIsNotLive) {
    const std::string link = g_home.Path() + "/by-id-chan";
    CMeterSimulator meter(Steady("KC1004", 100));
    meter.SetLinkPath(link);
    CMeterSimulator other(Steady("KC1005"));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    ASSERT_TRUE(other.Start(error)) << error;

    CChannel channel;
    std::mutex lock;
    std::vector<ChannelEvent> events;
    std::vector<std::string> atResume; // what the channel held when it said it was back
    channel.SetEventHandler([&](ChannelEvent event, const std::string&) {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(event);
        if (event == ChannelEvent::Resumed)
            atResume.push_back(
                std::to_string(channel.HasReading()) + " " + std::to_string(channel.Value()) + " " +
                std::to_string(channel.LastReadingTime()) + " " + std::to_string(channel.Alarm()));
    });
    CChannelConfig config = Record(link, "KC1004"); // levels 0 and 0: every reading trips
    config.m_nWavelength = 1550;
    config.m_bAnticipation = false;
    channel.RequestConnect(config, false);
    ASSERT_TRUE(WaitUntil([&] { return channel.ReadingCount() > 5; }));
    EXPECT_TRUE(channel.Alarm());
    const float reading = channel.Value();
    EXPECT_NE(reading, 0.0f);

    meter.Replug(60000);                                      // out until the lost state is checked
    ASSERT_TRUE(WaitUntil([&] { return channel.IsLost(); })); // the port's hang-up wakes it
    const uint64_t count = channel.ReadingCount();
    EXPECT_GT(channel.LostAt(), 0);
    EXPECT_EQ(channel.SampleForAcquisition(), reading) << "a recording keeps its last reading";
    EXPECT_EQ(channel.Value(), reading) << "the lost pane greys its last value";
    EXPECT_FALSE(channel.HasReading());
    EXPECT_EQ(channel.LastReadingTime(), 0.0);
    meter.PlugIn();
    ASSERT_TRUE(WaitUntil([&] { return channel.IsConnected() && channel.HasReading(); }));
    EXPECT_EQ(meter.Wavelength(), 1550);
    EXPECT_FALSE(meter.Anticipation());
    EXPECT_TRUE(WaitUntil([&] { return channel.ReadingCount() > count + 5; }));
    EXPECT_NE(channel.Value(), 0.0f);
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(events, (std::vector<ChannelEvent>{ChannelEvent::Lost, ChannelEvent::Resumed}));
        EXPECT_EQ(atResume, (std::vector<std::string>{"0 0.000000 0.000000 0"}));
    }

    meter.SetFault(MeterFault::Silence);
    EXPECT_FALSE(channel.IsSilent());
    ASSERT_TRUE(WaitUntil([&] { return channel.IsSilent(); }, std::chrono::seconds(15)));
    EXPECT_TRUE(channel.IsConnected()) << "its port is still open";
    EXPECT_EQ(channel.SampleForAcquisition(), reading);
    meter.SetFault(MeterFault::None);
    EXPECT_TRUE(WaitUntil([&] { return !channel.IsSilent(); }));
    EXPECT_TRUE(channel.HasReading());

    // Another meter behind the link now.
    const std::string swapped = link + ".new";
    ASSERT_EQ(symlink(other.PortPath().c_str(), swapped.c_str()), 0);
    meter.Stop();
    ASSERT_EQ(rename(swapped.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WaitUntil([&] { return channel.IsLost(); }));
    const auto asked = [&other] {
        const std::vector<MeterCommand> commands = other.ReceivedCommands();
        return std::count_if(commands.begin(), commands.end(), [](const MeterCommand& c) {
            return c.kind == MeterCommand::AskSerial;
        });
    };
    ASSERT_TRUE(WaitUntil([&] { return asked() >= 2; })); // a try every two seconds
    EXPECT_TRUE(channel.IsLost());
    EXPECT_FALSE(other.IsStreaming());
    for (const MeterCommand& command : other.ReceivedCommands())
        EXPECT_NE(command.kind, MeterCommand::StartStream);
    channel.RequestClose();
    ASSERT_TRUE(WaitUntil([&] { return !channel.IsBound(); }));
    unlink(link.c_str());

    // Bound to the other meter, which reads nothing: the first one's value and alarm are gone.
    other.SetFault(MeterFault::Silence);
    std::promise<CChannel::Outcome> bound;
    channel.RequestConnect(Record(other.PortPath(), "KC1005"), false,
                           [&](const auto& o) { bound.set_value(o); });
    EXPECT_TRUE(bound.get_future().get().ok);
    EXPECT_TRUE(channel.IsConnected());
    EXPECT_FALSE(channel.HasReading());
    EXPECT_EQ(channel.Value(), 0.0f);
    EXPECT_EQ(channel.SampleForAcquisition(), 0.0f);
    EXPECT_FALSE(channel.Alarm());
    channel.RequestClose();
}

// Closing or destroying a channel in the middle of an exchange cuts the exchange's pauses
// short: no byte of the interrupted exchange follows, a started meter is stopped, and a close
// asked in the 400 ms wait after the port opened is done long before the rest of the exchange
// (665 ms) would have been.
TEST(Channel, CloseAndDestructionInTheMiddleOfAnExchangeArePrompt) {
    CMeterSimulator meter(Steady("KC1006", 100));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    {
        CChannel channel;
        std::promise<CChannel::Outcome> connected;
        channel.RequestConnect(Record(meter.PortPath(), "KC1006"), false,
                               [&](const CChannel::Outcome& o) { connected.set_value(o); });
        std::promise<CChannel::Outcome> closed;
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // in the 400 ms wait
        const auto asked = Clock::now();
        channel.RequestClose([&](const CChannel::Outcome& o) { closed.set_value(o); });
        EXPECT_TRUE(closed.get_future().get().ok);
        EXPECT_LT(MsSince(asked), 400);
        EXPECT_FALSE(channel.IsBound());
        // The connect is cut: opened and stopped, the wavelength never sent; or, on a machine
        // too busy to have begun the exchange in 100 ms, dropped before the port was opened.
        EXPECT_TRUE(connected.get_future().get().cut);
        const std::string sent = ReceivedText(meter);
        EXPECT_TRUE(sent == "" || sent == "*CSU") << sent;
    }

    meter.ClearLogs();
    ASSERT_TRUE(WaitUntil([&] { return !meter.IsStreaming(); }));
    auto channel = std::make_unique<CChannel>();
    channel->RequestConnect(Record(meter.PortPath(), "KC1006"), false);
    ASSERT_TRUE(WaitUntil([&] { return channel->ReadingCount() > 3; }));
    meter.ClearLogs();
    CChannelConfig config = channel->Config();
    config.m_nWavelength = 800;
    channel->RequestConfigure(config);
    ASSERT_TRUE(WaitUntil([&] { return ReceivedText(meter).size() >= 9; })); // in the 200 ms wait
    channel.reset();
    EXPECT_EQ(ReceivedText(meter), "*PWC  800*CSU") << "no anticipation after the cut, then a stop";
    EXPECT_TRUE(WaitUntil([&] { return !meter.IsStreaming(); }));
}

// The alarm latches beyond the levels only, and each latch is counted once.
TEST(Channel, AlarmLatchesBeyondTheLevelsOnly) {
    CChannel channel;
    CChannelConfig config;
    config.m_fLevelHigh = 1.0f;
    config.m_fLevelLow = 0.0f;
    channel.SetConfig(config);
    channel.OnNewValue(1.0f);
    channel.OnNewValue(0.0f);
    channel.OnNewValue(NAN);
    EXPECT_FALSE(channel.Alarm());
    channel.OnNewValue(1.0001f);
    channel.OnNewValue(2.0f);
    EXPECT_TRUE(channel.Alarm());
    channel.OnNewValue(0.5f);
    EXPECT_TRUE(channel.Alarm()); // latched
    EXPECT_EQ(channel.AlarmTrips(), 1u) << "one latch, however many readings beyond";
    channel.ResetAlarm();
    EXPECT_FALSE(channel.Alarm());
    channel.OnNewValue(-1e-9f);
    channel.ResetAlarm(); // reset before anyone looked: the trip still counts
    EXPECT_EQ(channel.AlarmTrips(), 2u);
}

// "Zero" takes the mean of the last second's readings; from then on every reading is zeroed
// for everyone: the value, the alarm, the graph, the statistics, the peak and the observers.
// The dialog's OK does not undo a zero taken while it was open.
TEST(Channel, AZeroTakenFromTheLastSecondIsTakenOffEveryReading) {
    CChannel channel;
    CChannelConfig config;
    config.m_fLevelHigh = 5e-3f;
    config.m_fLevelLow = -1.0f;
    channel.SetConfig(config);
    EXPECT_FALSE(channel.TakeZero()) << "no reading to take it from";
    std::vector<float> observed;
    channel.SetReadingObserver([&](float value) { observed.push_back(value); });
    for (float background : {1e-6f, 3e-6f, 2e-6f, 2e-6f})
        channel.OnNewValue(background);
    ASSERT_TRUE(channel.TakeZero());
    EXPECT_FLOAT_EQ(channel.DisplayAids().m_fZero, 2e-6f);
    EXPECT_FLOAT_EQ(channel.Config().m_aids.m_fZero, 2e-6f);

    channel.RequestConfigure(config); // a dialog opened before the zero
    EXPECT_FLOAT_EQ(channel.DisplayAids().m_fZero, 2e-6f);
    channel.ResetGraph();
    channel.EnableStatistics();
    channel.OnNewValue(5.001e-3f); // above the level before its zero, not after
    EXPECT_FLOAT_EQ(channel.Value(), 4.999e-3f);
    EXPECT_FALSE(channel.Alarm());
    EXPECT_FLOAT_EQ(channel.GraphSnapshot().m_points.back().fValue, 4.999e-3f);
    EXPECT_FLOAT_EQ(channel.StatisticsSnapshot().m_fMaximum, 4.999e-3f);
    EXPECT_FLOAT_EQ(channel.Peak().Peak(), 4.999e-3f);
    EXPECT_FLOAT_EQ(channel.SampleForAcquisition(), 4.999e-3f) << "recordings too";
    EXPECT_FLOAT_EQ(observed.back(), 4.999e-3f) << "and the exporter";

    // Taken again, from the readings before any zero; cleared, the readings are as they come.
    ASSERT_TRUE(channel.TakeZero());
    EXPECT_NEAR(channel.DisplayAids().m_fZero, (8e-6f + 5.001e-3f) / 5, 1e-9);
    CDisplayAids none = channel.DisplayAids();
    none.m_fZero = 0.0f;
    channel.SetDisplayAids(none);
    channel.OnNewValue(1e-3f);
    EXPECT_FLOAT_EQ(channel.Value(), 1e-3f);
    channel.SetReadingObserver({});
}

// While acquiring, the graph takes the acquisition's samples only, not every reading; the
// buffer drops its oldest samples beyond its cap, and a reset restarts the time base.
TEST(Channel, AcquisitionTakesTheGraphAndTheBufferIsCapped) {
    CChannel channel;
    channel.EnableStatistics();
    channel.SetGraphMaxPoints(10);
    for (int i = 1; i <= 25; ++i)
        channel.OnNewValue(static_cast<float>(i));
    CGraphRenderer graph = channel.GraphSnapshot();
    EXPECT_EQ(graph.m_points.size(), 10u);
    EXPECT_EQ(graph.m_nPointCount, 10);
    EXPECT_EQ(graph.m_points.front().fValue, 16.0f); // oldest dropped first
    EXPECT_EQ(graph.m_fYMin, 16.0f);

    channel.SetAcquiring(true);
    channel.OnNewValue(30.0f);
    channel.OnNewValue(31.0f);
    EXPECT_EQ(channel.GraphSnapshot().m_points.back().fValue, 25.0f);
    EXPECT_EQ(channel.StatisticsSnapshot().m_nCount, 27);
    EXPECT_EQ(channel.SampleForAcquisition(), 31.0f);
    graph = channel.GraphSnapshot();
    EXPECT_EQ(graph.m_points.back().fValue, 31.0f);
    EXPECT_EQ(graph.m_points.size(), 10u);
    EXPECT_EQ(channel.StatisticsSnapshot().m_nCount, 27); // not fed by the sampling tick

    channel.ResetGraph();
    EXPECT_TRUE(channel.GraphSnapshot().m_points.empty());
    EXPECT_EQ(channel.StatisticsSnapshot().m_nCount, 0);
    channel.SetAcquiring(false);
    channel.OnNewValue(1.0f);
    EXPECT_LT(channel.GraphSnapshot().m_points.front().fTime, 1.0f); // the time base restarted
}

// Under ThreadSanitizer: a fast meter while another thread copies, resets, samples and asks.
TEST(Channel, StreamingAgainstCopiesResetsAndRequests) {
    MeterProfile fast = Steady("KC1007", 500);
    fast.noise = 0.01;
    CMeterSimulator meter(fast);
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    CChannel channel;
    channel.SetGraphMaxPoints(300);
    channel.RequestConnect(Record(meter.PortPath(), "KC1007"), true);
    channel.EnableStatistics();
    const auto end = Clock::now() + std::chrono::milliseconds(1500);
    int round = 0;
    while (Clock::now() < end) {
        (void)channel.GraphSnapshot();
        (void)channel.StatisticsSnapshot();
        (void)channel.Config();
        if (round % 5 == 0)
            channel.ResetGraph();
        if (round % 7 == 0)
            channel.ResetStatistics();
        if (round % 50 == 0)
            channel.RequestConfigure(channel.Config());
        channel.SetAcquiring(round % 2 == 0);
        (void)channel.SampleForAcquisition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ++round;
    }
    EXPECT_LE(channel.GraphSnapshot().m_points.size(), 300u);
    EXPECT_GT(meter.ReadingsSent(), 200u);
}

// Requests in a row, each as soon as the one before was asked: a close and a connect behind it,
// a streaming channel closed and bound again, and a channel destroyed with requests still
// queued. What the meter receives and every outcome show what happened; no timing is assumed.
TEST(Channel, ACloseCutsOnlyWhatWasAskedBeforeIt) {
    CMeterSimulator meter(Steady("KC1010", 200));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    const CChannelConfig config = Record(meter.PortPath(), "KC1010");
    {
        CChannel channel;
        for (int round = 0; round < 5; ++round) {
            // The connect made before the close is cut wherever it is; the one made after it is
            // carried out whole, at the meter's pace, and the meter streams into the channel.
            std::promise<CChannel::Outcome> first, second;
            channel.RequestConnect(config, false, [&](const auto& o) { first.set_value(o); });
            if (round % 2 == 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(100 * round));
            channel.RequestClose();
            channel.RequestConnect(config, false, [&](const auto& o) { second.set_value(o); });
            EXPECT_TRUE(channel.IsConnecting());
            const CChannel::Outcome made = second.get_future().get();
            EXPECT_TRUE(made.ok && !made.cut);
            EXPECT_TRUE(first.get_future().get().cut);
            ASSERT_TRUE(WaitUntil([&] { return channel.HasReading(); })) << "round " << round;
            EXPECT_TRUE(channel.IsConnected());
            const std::string sent = ReceivedText(meter);
            EXPECT_EQ(sent.substr(sent.size() - 13), "*PWC 1064*CAU") << sent;
            EXPECT_TRUE(meter.IsStreaming());
            channel.RequestClose();
            ASSERT_TRUE(WaitUntil([&] { return !channel.IsBound(); })); // its port closed
            ASSERT_TRUE(WaitUntil([&] { return !meter.IsStreaming(); }));
            meter.ClearLogs();
        }

        // Closed and bound again while the meter streams: it is stopped, then set and started
        // again, and the stream comes back.
        std::promise<CChannel::Outcome> streaming, again;
        channel.RequestConnect(config, false, [&](const auto& o) { streaming.set_value(o); });
        ASSERT_TRUE(streaming.get_future().get().ok);
        ASSERT_TRUE(WaitUntil([&] { return channel.HasReading(); }));
        meter.ClearLogs();
        channel.RequestClose();
        channel.RequestConnect(config, false, [&](const auto& o) { again.set_value(o); });
        EXPECT_TRUE(channel.IsConnecting());
        EXPECT_TRUE(again.get_future().get().ok);
        ASSERT_TRUE(WaitUntil([&] { return channel.HasReading(); }));
        EXPECT_EQ(ReceivedText(meter), "*CSU*PWC 1064*CAU");
        EXPECT_TRUE(channel.IsConnected());
    }
    ASSERT_TRUE(WaitUntil([&] { return !meter.IsStreaming(); })); // stopped by the destructor
    meter.ClearLogs();

    // Destroyed with a connect under way and more queued: every request is told, once; those
    // made before the close are cut, the close is done, and the meter is left stopped whatever
    // the worker had reached.
    std::mutex lock;
    std::vector<int> told(5, 0);
    std::vector<CChannel::Outcome> outcomes(5);
    {
        CChannel doomed;
        const auto tell = [&](int i) {
            return [&, i](const CChannel::Outcome& o) {
                std::lock_guard<std::mutex> guard(lock);
                ++told[static_cast<size_t>(i)];
                outcomes[static_cast<size_t>(i)] = o;
            };
        };
        doomed.RequestConnect(config, false, tell(0));
        doomed.RequestConfigure(config, tell(1));
        doomed.RequestClose(tell(2));
        doomed.RequestConnect(config, false, tell(3));
        doomed.RequestConfigure(config, tell(4));
    }
    EXPECT_EQ(told, std::vector<int>(5, 1));
    EXPECT_TRUE(outcomes[0].cut);
    EXPECT_TRUE(outcomes[1].cut);
    EXPECT_TRUE(outcomes[2].ok && !outcomes[2].cut);
    EXPECT_TRUE(WaitUntil([&] { return !meter.IsStreaming(); }));
    if (outcomes[3].cut) {
        const std::string sent = ReceivedText(meter);
        EXPECT_EQ(sent.find("*CAU"), std::string::npos) << sent;
    }
}

} // namespace
