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

// The pane's display aids, after every id of the menus.
inline constexpr int TuningDisplay = 32867;
inline constexpr int ResetPeak = 32868;
inline constexpr int Zero = 32869;
inline constexpr int ClearZero = 32870;
inline constexpr int UnitWatt = 32871;
inline constexpr int UnitDbm = 32872;
inline constexpr int UnitDb = 32873;
inline constexpr int UnitPercent = 32874;
inline constexpr int ReferenceCurrentValue = 32875;
inline constexpr int ReferenceNone = 32876;
inline constexpr int ReferencePosition1 = 32877;
inline constexpr int ReferencePosition8 = 32884;

} // namespace Command

namespace Command {

// Main menu and toolbar.
inline constexpr int FullScreenPosition1 = 32815; // to 32822 for position 8
inline constexpr int Mosaic1x1 = 32788;
inline constexpr int Mosaic1x2 = 32789;
inline constexpr int Mosaic1x3 = 32790;
inline constexpr int Mosaic1x4 = 32791;
inline constexpr int Mosaic2x4 = 32794;
inline constexpr int AutoDetection = 32796;
inline constexpr int SaveDetectorConfiguration = 32806;
inline constexpr int ResetGraphics = 32811;
inline constexpr int ResetAllStatistics = 32812;
inline constexpr int ResetAllAlarms = 32807;
inline constexpr int ResetAll = 32813;
inline constexpr int NetworkPorts = 32866; // after every id of the menus above
inline constexpr int About = 57664;

} // namespace Command

namespace Command {

// Acquisition menu and toolbar.
inline constexpr int AcquisitionParameters = 32805;
inline constexpr int StartAcquisition = 32802;
inline constexpr int StopAcquisition = 32803;
inline constexpr int ToolStartAcquisition = 32858;
inline constexpr int ToolStopAcquisition = 32859;

} // namespace Command

namespace Command {

// Parameters menu and the screenshot button.
inline constexpr int ScreenshotSettings = 32861;
inline constexpr int GraphicalParameters = 32864;
inline constexpr int RemoteMonitoring = 32865;
inline constexpr int CaptureScreen = 32849;

} // namespace Command

namespace Command {

// The post-analysis window, from the Acquisition menu and the toolbar.
inline constexpr int PostAnalysisWindow = 32814;
inline constexpr int ToolPostAnalysis = 32863;

} // namespace Command
