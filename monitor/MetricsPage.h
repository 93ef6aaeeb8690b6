#pragma once
// The metric families of a snapshot, for the exporter's server and the page's text.

#include "monitor/MeterMetrics.h"

#include <prometheus/metric_family.h>

#include <vector>

std::vector<prometheus::MetricFamily> MetricFamilies(const MetricsSnapshot& snapshot);
