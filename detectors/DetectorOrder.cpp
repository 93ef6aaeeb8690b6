#include "detectors/DetectorOrder.h"

#include "detectors/ChannelConfigFile.h"
#include "detectors/DisplayAidsFile.h"

#include <algorithm>
#include <numeric>

std::vector<int> DetectorListOrder(const std::vector<int32_t>& positions) {
    std::vector<int> order(positions.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int32_t ka = positions[static_cast<size_t>(a)];
        const int32_t kb = positions[static_cast<size_t>(b)];
        if ((ka < 0) != (kb < 0))
            return kb < 0;
        return ka >= 0 && ka < kb;
    });
    return order;
}

std::vector<int> AssignDetectorPositions(const std::vector<std::string>& serials,
                                         std::array<bool, 8> taken) {
    std::vector<int> assigned(serials.size(), -1);
    size_t k = 0;
    for (size_t i = 0; i < serials.size(); ++i) {
        while (k < taken.size() && taken[k])
            ++k;
        if (k >= taken.size())
            break;
        if (serials[i].empty())
            continue; // takes no position; the next detector still does
        assigned[i] = static_cast<int>(k);
        taken[k] = true;
    }
    return assigned;
}

std::string DefaultPositionTitle(int positionIndex) {
    return "Position_" + std::to_string(positionIndex + 1);
}

void ReadStoredPlace(CChannelConfig& row,
                     const std::function<void(const std::string& error)>& onDamaged) {
    if (row.m_strSerial.empty())
        return;
    CChannelConfig stored;
    std::string error;
    switch (LoadChannelConfigFile(row.m_strSerial, stored, error)) {
    case ConfigLoad::Loaded:
        row.m_nPosition = stored.m_nPosition;
        row.m_strTitle = stored.m_strTitle;
        break;
    case ConfigLoad::Damaged:
        if (onDamaged)
            onDamaged(error);
        break;
    case ConfigLoad::Missing:
        break; // first use of this head
    }
}

std::vector<CChannelConfig>
DetectorRowsFromProbe(const std::vector<std::string>& ports,
                      const std::vector<DetectorProtocol::ProbeResult>& probes,
                      const std::function<void(const std::string& error)>& onDamaged) {
    std::vector<CChannelConfig> rows(ports.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        CChannelConfig& row = rows[i];
        row.m_strPort = ports[i];
        if (i < probes.size()) {
            row.m_strName = probes[i].name;
            row.m_strSerial = probes[i].serial;
        }
        ReadStoredPlace(row, onDamaged);
    }
    return rows;
}

void SortDetectorRows(std::vector<CChannelConfig>& rows) {
    std::vector<int32_t> positions;
    for (const CChannelConfig& row : rows)
        positions.push_back(row.m_nPosition);
    std::vector<CChannelConfig> sorted;
    for (int from : DetectorListOrder(positions))
        sorted.push_back(rows[static_cast<size_t>(from)]);
    rows.swap(sorted);
}

std::vector<DetectorBinding> BindDetectorRows(const std::vector<CChannelConfig>& rows,
                                              std::array<bool, 8> taken) {
    std::vector<std::string> serials;
    for (size_t row = 0; row < rows.size(); ++row)
        serials.push_back(row < kAssignableRows ? rows[row].m_strSerial : std::string());
    const std::vector<int> positions = AssignDetectorPositions(serials, taken);
    std::vector<DetectorBinding> bindings;
    for (size_t row = 0; row < rows.size(); ++row) {
        const int k = positions[row];
        if (k < 0)
            continue;
        DetectorBinding binding;
        binding.row = row;
        binding.position = k;
        CChannelConfig& config = binding.config;
        config.m_strSerial = rows[row].m_strSerial;
        config.m_strName = rows[row].m_strName;
        config.m_strPort = rows[row].m_strPort;
        const ConfigLoad load = LoadChannelConfigFile(config.m_strSerial, config, binding.damaged);
        binding.stored = load == ConfigLoad::Loaded;
        if (load != ConfigLoad::Damaged)
            binding.damaged.clear();
        std::string aidsDamaged;
        if (LoadDisplayAidsFile(config.m_strSerial, config.m_aids, aidsDamaged) ==
            ConfigLoad::Damaged)
            binding.damaged += (binding.damaged.empty() ? "" : "\n") + aidsDamaged;
        config.m_nPosition = k;
        if (config.m_strTitle.empty())
            config.m_strTitle = DefaultPositionTitle(k);
        bindings.push_back(binding);
    }
    return bindings;
}
