#pragma once
// How the pane grid shares its width (or height) among its columns (or rows). Each has an ideal
// and a minimum size, set by the layout commands:
// - one whose ideal size is below its minimum is hidden (size 0);
// - each but the last takes its ideal size while space remains, a partial fit takes what is left,
//   and once nothing is left the rest are hidden;
// - the last takes whatever remains;
// - a bar of `barSize` pixels follows each visible one that is not the last visible one.

#include <vector>

struct GridTrack {
    int ideal = 0;
    int minimum = 0;
};

std::vector<int> LayoutTracks(const std::vector<GridTrack>& tracks, int available, int barSize);

// The pane of position index p (0 to 7): row p / 4, column p % 4.
inline int PositionRow(int position) {
    return position / 4;
}
inline int PositionColumn(int position) {
    return position % 4;
}
