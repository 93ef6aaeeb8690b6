#pragma once
// The millisecond tick counter of the channel links: an unsigned 32-bit count that wraps around
// every 49.7 days, like the counter the graphs were first timed with.

#include <cstdint>

uint32_t TickCount();
// Seconds from `start` to `now` across a wrap-around: the difference taken as a signed 32-bit
// number, with 2^32 added when it is negative.
float TickSeconds(uint32_t now, uint32_t start);
