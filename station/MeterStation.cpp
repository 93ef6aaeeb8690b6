#include "station/MeterStation.h"

#include "link/LocalTime.h"

#include <algorithm>
#include <condition_variable>

CMeterStation::CMeterStation(OnEvent onEvent) : m_onEvent(std::move(onEvent)) {
    std::vector<MeteredChannel> shown;
    for (int p = 0; p < kPositions; ++p) {
        auto channel = std::make_unique<CChannel>();
        CChannelConfig config;
        config.m_nPosition = p;
        channel->SetConfig(config);
        if (m_onEvent)
            channel->SetEventHandler(
                [this, p, self = channel.get()](ChannelEvent event, const std::string& detail) {
                    m_onEvent(p, *self, event, detail);
                });
        shown.push_back({p + 1, channel.get()});
        m_channels[static_cast<size_t>(p)] = std::move(channel);
    }
    m_metrics.SetChannels(std::move(shown));
    m_metrics.SetAcquisition(&m_tally);
}

CMeterStation::~CMeterStation() {
    // A run in progress ends with its last line whole before the channels it samples go, and
    // every meter is stopped at once; then each idle worker is joined.
    CloseAll();
    m_metrics.SetAcquisition(nullptr);
}

int CMeterStation::ConnectedCount() const {
    int n = 0;
    for (const auto& channel : m_channels)
        n += channel->IsConnected() ? 1 : 0;
    return n;
}

void CMeterStation::SetGraphMaxPoints(int points) {
    for (auto& channel : m_channels)
        channel->SetGraphMaxPoints(points);
}

std::vector<DetectorBinding> CMeterStation::Bind(std::vector<CChannelConfig> rows,
                                                 Connected connected) {
    // A bound channel keeps its position and its meter; a lost one waits there for its meter,
    // which it takes back by itself when the meter answers on its port again. The list (probed
    // once per run) may still name such a meter, which must not be bound a second time elsewhere.
    std::array<bool, kPositions> bound{};
    for (int p = 0; p < kPositions; ++p) {
        const CChannel& channel = Channel(p);
        bound[static_cast<size_t>(p)] = channel.IsBound();
        if (!bound[static_cast<size_t>(p)])
            continue;
        const std::string serial = channel.Config().m_strSerial;
        for (CChannelConfig& row : rows)
            if (row.m_strSerial == serial)
                row.m_strSerial.clear();
    }
    const std::vector<DetectorBinding> bindings = BindDetectorRows(rows, bound);
    for (const DetectorBinding& binding : bindings) {
        CChannel::Done done;
        if (connected)
            done = [connected, binding](const CChannel::Outcome& outcome) {
                connected(binding, outcome);
            };
        // Opened, set and started on the channel's worker, all positions at once.
        Channel(binding.position).RequestConnect(binding.config, binding.stored, std::move(done));
    }
    return bindings;
}

void CMeterStation::CloseAll() {
    StopAcquisition();
    // Off the page first: a scrape under way ends before a meter is stopped.
    m_metrics.SetChannels({});
    // Each close runs on its own channel's worker, all at once.
    struct Pending {
        std::mutex lock;
        std::condition_variable done;
        int left = kPositions;
    };
    auto pending = std::make_shared<Pending>();
    for (auto& channel : m_channels)
        channel->RequestClose([pending](const CChannel::Outcome&) {
            std::lock_guard<std::mutex> guard(pending->lock);
            if (--pending->left == 0)
                pending->done.notify_all();
        });
    std::unique_lock<std::mutex> lock(pending->lock);
    pending->done.wait(lock, [&] { return pending->left == 0; });
}

void CMeterStation::SetPlan(const CAcquisitionPlan& plan, std::time_t now) {
    m_plan = plan;
    // A window still ahead is scheduled; so is one that has begun but not ended, which starts at
    // the next tick instead of never. One that has ended is not, even over an earlier schedule
    // still pending.
    if (m_plan.m_bByTime)
        m_bStartPending = ScheduleByTimeWindow(now, m_plan.m_timeAcqStart, m_plan.m_timeAcqEnd);
}

CMeterStation::Start CMeterStation::StartByHand(std::time_t now, std::string& error) {
    if (m_bAcqRunning)
        return Start::Running;
    if (ConnectedCount() == 0)
        return Start::NoDetector;
    if (m_plan.m_strAcqBaseName.empty())
        return Start::NoFile;
    if (m_plan.m_bByTime)
        return Start::ByTime;
    return Begin(true, now, error) ? Start::Started : Start::CreateFailed;
}

bool CMeterStation::Begin(bool startedByHand, std::time_t now, std::string& error) {
    // The channels of a run are those connected now, for the whole run: one that loses its meter
    // keeps its column with its last reading, one that connects later waits for the next run.
    std::vector<CChannel*> channels;
    std::vector<std::string> titles;
    for (auto& channel : m_channels) {
        if (!channel->IsConnected())
            continue;
        channels.push_back(channel.get());
        titles.push_back(channel->Config().m_strTitle);
    }
    AcquisitionSettings settings;
    settings.periodSeconds = m_plan.m_nSamplingPeriod;
    settings.durationSeconds = m_plan.m_nDuration;
    settings.byTime = m_plan.m_bByTime;
    settings.end = m_plan.m_timeAcqEnd;
    auto run = std::make_unique<CAcquisitionRun>(
        settings, channels.size(), [channels](std::vector<float>& readings) {
            for (size_t i = 0; i < channels.size(); ++i)
                readings[i] = channels[i]->SampleForAcquisition();
        });
    run->SetTally(&m_tally);
    if (!run->Begin(m_plan.m_strAcqBaseName, titles, startedByHand, now, error))
        return false; // nothing was recorded, and no file is named
    m_strAcqFile = run->FilePath();
    m_acqChannels = channels;
    for (CChannel* channel : channels) {
        channel->SetAcquiring(true);
        channel->ResetGraph();
    }
    const uint64_t id = ++m_nRun;
    run->SetFailureReport([this](const std::string& text) {
        Post({StationNews::Kind::WriteFailed, std::string(), text});
    });
    m_bAcqRunning = true;
    m_acqWorker.Start(std::move(run), m_bAcqRunning,
                      [this, id](AcquisitionEnd end, const std::string& file) {
                          if (end != AcquisitionEnd::Completed)
                              return; // stopped by its owner: nothing to tell
                          std::lock_guard<std::mutex> guard(m_newsLock);
                          m_finished.push_back(id);
                          m_news.push_back({StationNews::Kind::Completed, file, std::string()});
                      });
    return true;
}

void CMeterStation::StopAcquisition() {
    m_bAcqRunning = false;
    // Every channel of the run, a lost one included, goes back to drawing its own readings.
    for (CChannel* channel : m_acqChannels)
        channel->SetAcquiring(false);
    m_acqWorker.Stop(); // the line being written is finished first
}

void CMeterStation::Post(StationNews news) {
    std::lock_guard<std::mutex> guard(m_newsLock);
    m_news.push_back(std::move(news));
}

std::vector<StationNews> CMeterStation::Tick(std::time_t now) {
    std::vector<StationNews> news;
    std::vector<uint64_t> finished;
    {
        std::lock_guard<std::mutex> guard(m_newsLock);
        news.swap(m_news);
        finished.swap(m_finished);
    }
    // The run that reached its end: its thread is joined and its channels draw live again.
    if (!m_bAcqRunning && std::find(finished.begin(), finished.end(), m_nRun) != finished.end()) {
        m_acqWorker.Join();
        for (CChannel* channel : m_acqChannels)
            channel->SetAcquiring(false);
    }
    if (!m_plan.m_bByTime || !m_bStartPending || m_bAcqRunning ||
        !ScheduledStartDue(now, m_plan.m_timeAcqStart))
        return news;
    if (ConnectedCount() > 0) {
        m_bStartPending = false;
        std::string error;
        if (Begin(false, now, error))
            news.push_back({StationNews::Kind::Started, m_strAcqFile, std::string()});
        else
            news.push_back({StationNews::Kind::CreateFailed, std::string(), error});
    } else if (now >= m_plan.m_timeAcqEnd) {
        // Ended with no detector connected: nothing is recorded, and the user is told so rather
        // than shown a one-line file once a meter connects later.
        m_bStartPending = false;
        news.push_back({StationNews::Kind::WindowMissed, std::string(),
                        "No detector was connected during the acquisition window from " +
                            LocalDateTimeText(m_plan.m_timeAcqStart) + " to " +
                            LocalDateTimeText(m_plan.m_timeAcqEnd) + ": nothing was recorded"});
    }
    return news;
}
