// The station against simulated meters: binding in list order with lost meters kept, the
// acquisition controller's starts, refusals and news (a window that ended unseen, runs in the
// same second), and every meter stopped at once when it closes. Run under ThreadSanitizer too.

#include "acquisition/AcquisitionReader.h"
#include "sim/MeterSimulator.h"
#include "station/MeterStation.h"
#include "support/ReadFile.h"
#include "support/SteadyMeter.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

TempHome g_home;

CChannelConfig Row(const std::string& port, const std::string& serial) {
    CChannelConfig row;
    row.m_strPort = port;
    row.m_strSerial = serial;
    row.m_strName = "KLV-STN";
    return row;
}

// Rows take the free positions in list order (a row without serial takes none); a second list
// keeps the bound positions, and a meter it still names (lost, or still connecting or
// connected) is not bound a second time.
TEST(Station, BindsInListOrderAndKeepsItsLostMeters) {
    CMeterSimulator a(SteadyProfile("KLV-STN", "KS1001", 40)),
        b(SteadyProfile("KLV-STN", "KS1002", 40));
    const std::string link = g_home.Path() + "/by-id-station";
    b.SetLinkPath(link);
    std::string error;
    ASSERT_TRUE(a.Start(error) && b.Start(error)) << error;
    CMeterStation station;
    std::vector<DetectorBinding> bound =
        station.Bind({Row("/dev/kv-none", ""), Row(link, "KS1002"), Row(a.PortPath(), "KS1001")});
    ASSERT_EQ(bound.size(), 2u);
    EXPECT_EQ(bound[0].position, 0);
    EXPECT_EQ(bound[0].config.m_strSerial, "KS1002");
    EXPECT_EQ(bound[0].config.m_strTitle, "Position_1");
    EXPECT_EQ(bound[1].position, 1);
    EXPECT_TRUE(station.Channel(0).IsBound()) << "bound from the request on";
    ASSERT_TRUE(WaitUntil([&] { return station.ConnectedCount() == 2; }));

    b.Replug(20000);
    ASSERT_TRUE(WaitUntil([&] { return station.Channel(0).IsLost(); }));
    bound = station.Bind({Row(link, "KS1002"), Row(a.PortPath(), "KS1001")});
    EXPECT_TRUE(bound.empty()) << "position 1 waits for its meter; position 2 keeps its own";
    EXPECT_TRUE(station.Channel(0).IsLost());
    EXPECT_FALSE(station.Channel(2).IsBound());
}

// By hand: refused without a detector, without a file or in the by-time mode; two runs in the
// same second get files of their own; a run's end is told at the next tick.
TEST(Station, StartsByHandAndTellsTheEndOfARun) {
    CMeterSimulator meter(SteadyProfile("KLV-STN", "KS1003", 40));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    CMeterStation station;
    const std::time_t now = std::time(nullptr);
    CAcquisitionPlan plan;
    plan.m_nDuration = 0; // one line
    station.SetPlan(plan, now);
    EXPECT_EQ(station.StartByHand(now, error), CMeterStation::Start::NoDetector);
    station.Bind({Row(meter.PortPath(), "KS1003")});
    ASSERT_TRUE(WaitUntil([&] { return station.Channel(0).HasReading(); }));
    EXPECT_EQ(station.StartByHand(now, error), CMeterStation::Start::NoFile);
    plan.m_strAcqBaseName = g_home.Path() + "/hand";
    plan.m_bByTime = true;
    station.SetPlan(plan, now);
    EXPECT_EQ(station.StartByHand(now, error), CMeterStation::Start::ByTime);
    plan.m_bByTime = false;
    station.SetPlan(plan, now);

    std::vector<std::string> files;
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(station.StartByHand(now, error), CMeterStation::Start::Started) << error;
        files.push_back(station.AcquisitionFile());
        std::vector<StationNews> news;
        ASSERT_TRUE(WaitUntil([&] {
            news = station.Tick(now);
            return !news.empty();
        }));
        ASSERT_EQ(news.size(), 1u);
        EXPECT_EQ(news[0].kind, StationNews::Kind::Completed);
        EXPECT_EQ(news[0].file, files.back());
        EXPECT_FALSE(station.IsAcquiring());
        EXPECT_FALSE(station.Channel(0).IsAcquiring()) << "its graph is live again";
    }
    EXPECT_EQ(files[1], files[0].substr(0, files[0].size() - 4) + "_2.txt");
    for (const std::string& file : files) {
        const CAcquisitionData data = ReadAcquisitionText(ReadFile(file));
        EXPECT_EQ(data.m_nLines, 1);
        EXPECT_EQ(data.m_names, std::vector<std::string>{"Position_1"});
    }
}

// A window by time starts at its start when a detector is connected; one that ends while none
// is connected is not started later, and the owner is told why.
TEST(Station, AWindowThatEndsWithNoDetectorIsToldAndNeverStarted) {
    CMeterSimulator meter(SteadyProfile("KLV-STN", "KS1004", 40));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    CMeterStation station;
    const std::time_t now = std::time(nullptr);
    CAcquisitionPlan plan;
    plan.m_strAcqBaseName = g_home.Path() + "/window";
    plan.m_bByTime = true;
    plan.m_timeAcqStart = now + 100;
    plan.m_timeAcqEnd = now + 200;
    station.SetPlan(plan, now);
    EXPECT_TRUE(station.IsStartPending());
    EXPECT_TRUE(station.Tick(now + 150).empty()) << "under way, no detector: it waits";
    EXPECT_TRUE(station.IsStartPending());
    const std::vector<StationNews> news = station.Tick(now + 200);
    ASSERT_EQ(news.size(), 1u);
    EXPECT_EQ(news[0].kind, StationNews::Kind::WindowMissed);
    EXPECT_EQ(
        news[0].text.rfind("No detector was connected during the acquisition window from ", 0), 0u)
        << news[0].text;
    EXPECT_NE(news[0].text.find(": nothing was recorded"), std::string::npos);
    EXPECT_FALSE(station.IsStartPending());

    station.Bind({Row(meter.PortPath(), "KS1004")});
    ASSERT_TRUE(WaitUntil([&] { return station.ConnectedCount() == 1; }));
    EXPECT_TRUE(station.Tick(now + 201).empty());
    EXPECT_FALSE(station.IsAcquiring()) << "no one-line file once a meter connects later";

    // Scheduled again: with the detector there, it starts at its start.
    plan.m_timeAcqStart = now;
    plan.m_timeAcqEnd = now + 3600;
    station.SetPlan(plan, now);
    const std::vector<StationNews> started = station.Tick(now);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].kind, StationNews::Kind::Started);
    EXPECT_TRUE(station.IsAcquiring());
    station.StopAcquisition();
    EXPECT_FALSE(station.IsAcquiring());
}

// Closing asks every meter to stop at once: each is stopped, each channel is closed, and the
// station's channels can be bound again afterwards.
TEST(Station, ClosingStopsEveryMeter) {
    CSimulatorSet meters;
    std::string error;
    ASSERT_TRUE(meters.Start(8, error)) << error;
    CMeterStation station;
    std::vector<CChannelConfig> rows;
    for (size_t i = 0; i < meters.Size(); ++i)
        rows.push_back(
            Row(meters.Meter(i).PortPath(), meters.Meter(i).Profile().serialReply.substr(4)));
    ASSERT_EQ(station.Bind(rows).size(), 8u);
    ASSERT_TRUE(WaitUntil([&] {
        for (size_t i = 0; i < meters.Size(); ++i)
            if (!meters.Meter(i).IsStreaming())
                return false;
        return true;
    }));
    station.CloseAll();
    EXPECT_EQ(station.ConnectedCount(), 0);
    for (size_t i = 0; i < meters.Size(); ++i) {
        EXPECT_TRUE(StopsStreaming(meters.Meter(i))) << i;
        const std::string sent = ReceivedText(meters.Meter(i));
        EXPECT_EQ(sent.substr(sent.size() - 4), "*CSU") << i;
        EXPECT_FALSE(station.Channel(static_cast<int>(i)).IsBound());
    }
}

} // namespace
