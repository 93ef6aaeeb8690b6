#include "app/GridRule.h"

#include <algorithm>

std::vector<int> LayoutTracks(const std::vector<GridTrack>& tracks, int available, int barSize) {
    std::vector<int> sizes(tracks.size(), 0);
    int left = std::max(0, available);
    for (size_t i = 0; i < tracks.size(); ++i) {
        const GridTrack& track = tracks[i];
        if (track.ideal < track.minimum || left <= 0)
            continue;
        if (i + 1 == tracks.size()) {
            sizes[i] = left;
            break;
        }
        sizes[i] = std::min(track.ideal, left);
        left -= sizes[i];
        if (sizes[i] > 0)
            left = std::max(0, left - barSize);
    }
    // A bar only stands between two visible tracks: one that follows the last visible track
    // gives its pixels back to that track.
    int lastVisible = -1;
    int visibleCount = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i] > 0) {
            lastVisible = static_cast<int>(i);
            ++visibleCount;
        }
    }
    int used = 0;
    for (int size : sizes)
        used += size;
    used += std::max(0, visibleCount - 1) * barSize;
    if (lastVisible >= 0 && used < available)
        sizes[static_cast<size_t>(lastVisible)] += available - used;
    return sizes;
}
