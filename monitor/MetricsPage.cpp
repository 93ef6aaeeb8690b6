#include "monitor/MetricsPage.h"

#include <prometheus/text_serializer.h>

#include <sstream>

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

namespace {

ClientMetric::Label Label(const char* name, const std::string& value) {
    return ClientMetric::Label{name, value};
}

std::vector<ClientMetric::Label> MeterLabels(const MeterSample& meter) {
    return {Label("position", std::to_string(meter.position)), Label("serial", meter.serial),
            Label("title", meter.title)};
}

ClientMetric Sample(MetricType type, double value, std::vector<ClientMetric::Label> labels = {}) {
    ClientMetric metric;
    metric.label = std::move(labels);
    if (type == MetricType::Counter)
        metric.counter.value = value;
    else
        metric.gauge.value = value;
    return metric;
}

// One family with a sample per meter that has one.
template <typename Value>
MetricFamily PerMeter(const char* name, const char* help, MetricType type,
                      const std::vector<MeterSample>& meters, Value value) {
    MetricFamily family{name, help, type, {}};
    for (const MeterSample& meter : meters) {
        double v = 0.0;
        if (value(meter, v))
            family.metric.push_back(Sample(type, v, MeterLabels(meter)));
    }
    return family;
}

} // namespace

std::vector<MetricFamily> MetricFamilies(const MetricsSnapshot& snapshot) {
    const auto& meters = snapshot.meters;
    std::vector<MetricFamily> families;
    families.push_back(PerMeter("kelvarin_power_watts",
                                "Latest calibrated reading of the meter, its zero taken off, "
                                "absent while it is lost",
                                MetricType::Gauge, meters, [](const MeterSample& m, double& v) {
                                    v = m.powerWatts;
                                    return m.hasPower;
                                }));
    families.push_back(PerMeter("kelvarin_meter_up",
                                "1 while the meter answers, 0 while it is lost", MetricType::Gauge,
                                meters, [](const MeterSample& m, double& v) {
                                    v = m.up ? 1.0 : 0.0;
                                    return true;
                                }));
    families.push_back(PerMeter("kelvarin_readings_total", "Readings taken from the meter",
                                MetricType::Counter, meters, [](const MeterSample& m, double& v) {
                                    v = static_cast<double>(m.readings);
                                    return true;
                                }));
    families.push_back(PerMeter("kelvarin_alarm_latched",
                                "1 while the alarm of the pane is latched", MetricType::Gauge,
                                meters, [](const MeterSample& m, double& v) {
                                    v = m.alarmLatched ? 1.0 : 0.0;
                                    return true;
                                }));
    families.push_back(PerMeter("kelvarin_alarm_trips_total", "Times the alarm latched",
                                MetricType::Counter, meters, [](const MeterSample& m, double& v) {
                                    v = static_cast<double>(m.alarmTrips);
                                    return true;
                                }));
    families.push_back(PerMeter("kelvarin_alarm_low_watts", "Alarm below this power",
                                MetricType::Gauge, meters, [](const MeterSample& m, double& v) {
                                    v = m.alarmLowWatts;
                                    return true;
                                }));
    families.push_back(PerMeter("kelvarin_alarm_high_watts", "Alarm above this power",
                                MetricType::Gauge, meters, [](const MeterSample& m, double& v) {
                                    v = m.alarmHighWatts;
                                    return true;
                                }));
    families.push_back(PerMeter("kelvarin_zero_watts",
                                "Zero taken off every reading of the head, while one is set",
                                MetricType::Gauge, meters, [](const MeterSample& m, double& v) {
                                    v = m.zeroWatts;
                                    return m.hasZero;
                                }));
    families.push_back(PerMeter("kelvarin_wavelength_meters", "Wavelength set on the meter",
                                MetricType::Gauge, meters, [](const MeterSample& m, double& v) {
                                    v = m.wavelengthMeters;
                                    return true;
                                }));
    families.push_back(PerMeter("kelvarin_last_reading_timestamp_seconds",
                                "Unix time of the latest reading", MetricType::Gauge, meters,
                                [](const MeterSample& m, double& v) {
                                    v = m.lastReadingTime;
                                    return m.hasLastReading;
                                }));
    MetricFamily info{
        "kelvarin_meter_info", "The meter bound to a position", MetricType::Gauge, {}};
    for (const MeterSample& meter : meters)
        info.metric.push_back(Sample(MetricType::Gauge, 1.0,
                                     {Label("position", std::to_string(meter.position)),
                                      Label("serial", meter.serial), Label("name", meter.name),
                                      Label("port", meter.port), Label("title", meter.title)}));
    families.push_back(std::move(info));

    families.push_back({"kelvarin_acquisition_running",
                        "1 while an acquisition records",
                        MetricType::Gauge,
                        {Sample(MetricType::Gauge, snapshot.acquisitionRunning ? 1.0 : 0.0)}});
    families.push_back(
        {"kelvarin_acquisition_lines_total",
         "Acquisition lines written",
         MetricType::Counter,
         {Sample(MetricType::Counter, static_cast<double>(snapshot.acquisitionLines))}});
    families.push_back({"kelvarin_build_info",
                        "The version of Kelvarin serving the page",
                        MetricType::Gauge,
                        {Sample(MetricType::Gauge, 1.0, {Label("version", KELVARIN_VERSION)})}});
    // A family without samples would print its HELP and TYPE alone.
    std::vector<MetricFamily> shown;
    for (MetricFamily& family : families)
        if (!family.metric.empty())
            shown.push_back(std::move(family));
    return shown;
}

std::string MetricsPageText(const MetricsSnapshot& snapshot) {
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, MetricFamilies(snapshot));
    return out.str();
}
