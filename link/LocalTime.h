#pragma once
// Local date and time to calendar time, for every file and dialog that reads one, and the
// "YYYY-MM-DD HH:MM:SS" the command line reads and the messages write.

#include <ctime>
#include <string>

// The calendar time of a local date and time, daylight saving decided by the system as mktime
// decides it (a time in the gap of a change of offset is read with the offset from before it;
// one that occurs twice is taken at its first moment). Unlike mktime it may be called from any
// thread while others turn times into local dates. Fields out of range are carried over as by
// mktime (31 February is 3 March); false when the time cannot be represented.
bool LocalTimeFromFields(int year, int month, int day, int hour, int minute, int second,
                         std::time_t& t);

// The local date and time of `t` as "YYYY-MM-DD HH:MM:SS".
std::string LocalDateTimeText(std::time_t t);
