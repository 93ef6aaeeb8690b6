#pragma once
// The glyphs of the main window's toolbar.

#include <QIcon>

// A mosaic: `rows` by `columns` little panes.
QIcon MosaicIcon(int rows, int columns);
// The acquisition: a red dot starts recording, a dark square stops it.
QIcon StartAcquisitionIcon();
QIcon StopAcquisitionIcon();
// A curve on axes: the post-analysis window.
QIcon CurveIcon();
// A camera: the screenshot button.
QIcon CameraIcon();
