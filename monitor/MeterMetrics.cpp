#include "monitor/MeterMetrics.h"

#include "acquisition/AcquisitionEngine.h"
#include "channel/Channel.h"
#include "render/ValueFormat.h"

void CMeterMetrics::SetChannels(std::vector<MeteredChannel> channels) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_channels = std::move(channels);
}

void CMeterMetrics::SetAcquisition(const CAcquisitionTally* tally) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pTally = tally;
}

MetricsSnapshot CMeterMetrics::Snapshot() const {
    MetricsSnapshot snapshot;
    std::lock_guard<std::mutex> guard(m_lock);
    for (const MeteredChannel& entry : m_channels) {
        const CChannel* channel = entry.channel;
        if (!channel || !channel->IsBound())
            continue;
        MeterSample meter;
        meter.position = entry.position;
        const CChannelConfig config = channel->Config();
        meter.serial = config.m_strSerial;
        meter.name = config.m_strName;
        meter.port = config.m_strPort;
        meter.title = config.m_strTitle;
        meter.alarmLowWatts = WattsAsDouble(config.m_fLevelLow);
        meter.hasZero = config.m_aids.HasZero();
        meter.zeroWatts = WattsAsDouble(config.m_aids.m_fZero);
        meter.alarmHighWatts = WattsAsDouble(config.m_fLevelHigh);
        // A division of two exact numbers: 1064 nm is exactly the double nearest 1.064e-06.
        meter.wavelengthMeters = config.m_nWavelength / 1e9;
        // The counts before the value: a counted reading has its value stored.
        meter.readings = channel->ReadingCount();
        meter.up = channel->IsConnected();
        // Only a live reading of the meter there now: none from before a loss or a rebind,
        // none once it has gone silent (its port still open: up all the same).
        meter.hasPower = meter.up && channel->HasReading() && !channel->IsSilent();
        meter.powerWatts = WattsAsDouble(channel->Value());
        meter.alarmLatched = channel->Alarm();
        meter.alarmTrips = channel->AlarmTrips();
        meter.lastReadingTime = channel->LastReadingTime();
        meter.hasLastReading = meter.lastReadingTime > 0.0;
        snapshot.meters.push_back(std::move(meter));
    }
    if (m_pTally) {
        snapshot.acquisitionRunning = m_pTally->running.load();
        snapshot.acquisitionLines = m_pTally->lines.load();
    }
    return snapshot;
}
