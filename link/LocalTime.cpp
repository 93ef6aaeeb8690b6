#include "link/LocalTime.h"

// Local date and time to calendar time, as mktime with the system deciding daylight saving,
// but from the time zone that localtime_r reads once: mktime reads the zone again on every call,
// under a lock of the C library's own that no thread checker sees, while other threads turn
// times into local dates. The fields read as UTC, less the zone's offset: the offset from before
// a change of offset near that time, unless only the one from after it gives back the fields (a
// time in a gap is read with the offset from before, an ambiguous one takes its first moment).
bool LocalTimeFromFields(int year, int month, int day, int hour, int minute, int second,
                         std::time_t& t) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    std::tm utc = fields;
    const std::time_t asUtc = timegm(&utc);
    if (asUtc == static_cast<std::time_t>(-1))
        return false;
    const auto local = [](std::time_t when, std::tm& out) { return localtime_r(&when, &out); };
    std::tm before{}, after{};
    if (!local(asUtc - 86400, before) || !local(asUtc + 86400, after))
        return false;
    const std::time_t early = asUtc - before.tm_gmtoff;
    t = early;
    if (before.tm_gmtoff == after.tm_gmtoff)
        return true;
    const auto gives = [&](std::time_t candidate) {
        std::tm back{};
        return local(candidate, back) && back.tm_year == fields.tm_year &&
               back.tm_mon == fields.tm_mon && back.tm_mday == fields.tm_mday &&
               back.tm_hour == fields.tm_hour && back.tm_min == fields.tm_min &&
               back.tm_sec == fields.tm_sec;
    };
    const std::time_t late = asUtc - after.tm_gmtoff;
    if (!gives(early) && gives(late))
        t = late;
    return true;
}

std::string LocalDateTimeText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, n);
}
