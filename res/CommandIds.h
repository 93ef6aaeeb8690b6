#pragma once
// Command ids of the menus and toolbar. Code and tests refer to commands by these names.

namespace Command {

// Context menu of a pane.
inline constexpr int FullScreen = 32829;
inline constexpr int RealTimeDisplay = 32828;
inline constexpr int GraphicDisplay = 32771;
inline constexpr int StatisticsDisplay = 32773;
inline constexpr int ChannelConfiguration = 32797;
inline constexpr int ResetGraphic = 32809;
inline constexpr int ResetStatistics = 32808;
inline constexpr int ResetAlarms = 32810;
// Handled by a pane, carried by no menu.
inline constexpr int RealTimeDisplayAlt = 32772;
inline constexpr int ClosePort = 32774;
inline constexpr int IdentifyMeter = 32775;

} // namespace Command
