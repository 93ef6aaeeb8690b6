// Fuzzes the acquisition file reader: any bytes a damaged, foreign or half-written file holds.
// Besides the sanitizers' checks: the reader never holds more points than the words it was given,
// a stopped load says why, and the same bytes read whole, in small chunks and
// in pieces at once give the same result.

#include "acquisition/AcquisitionReader.h"
#include "link/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "acquisition reader fuzz: %s\n", what);
        std::abort();
    }
}

bool Same(const CAcquisitionData& a, const CAcquisitionData& b) {
    if (a.m_names != b.m_names || a.m_messages != b.m_messages || a.m_nLines != b.m_nLines ||
        a.m_timeStart != b.m_timeStart || a.m_bStopped != b.m_bStopped)
        return false;
    for (size_t i = 0; i < a.m_series.size(); ++i) {
        if (a.m_series[i].size() != b.m_series[i].size())
            return false;
        for (size_t k = 0; k < a.m_series[i].size(); ++k)
            if (std::memcmp(&a.m_series[i][k], &b.m_series[i][k], sizeof(CGraphData)) != 0)
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const CAcquisitionData read = ReadAcquisitionText(text);
    size_t points = 0;
    for (const auto& series : read.m_series)
        points += series.size();
    Check(points <= size / 2 + 1, "more points than words");
    Check(!read.m_bStopped || !read.m_messages.empty(), "stopped without a message");
    for (const std::string& name : read.m_names)
        Check(name.size() <= 1023, "a name longer than a word");

    // The quick reading of a number agrees with the plain one (length and nearest float).
    const std::string_view word = text.substr(0, std::min<size_t>(size, 64));
    float quick = 0, plain = 0;
    const size_t length = ParseAcquisitionReading(word, quick);
    if (word.substr(0, 3) != "inf" && word.substr(0, 3) != "nan" && word.substr(0, 4) != "-inf" &&
        word.substr(0, 4) != "-nan") {
        Check(length == ScanFloatPrefix(word), "a number of another length");
        std::string number(word.substr(0, length));
        if (!number.empty() && number[0] == '+')
            number.erase(0, 1);
        if (length > 0 &&
            std::from_chars(number.data(), number.data() + number.size(), plain).ec == std::errc())
            Check(std::memcmp(&quick, &plain, sizeof quick) == 0, "not the nearest float");
    }
    // Read in chunks as a file is, with words across the chunks' ends, and in pieces at once.
    const size_t chunk = size > 0 ? 1 + data[0] % 13 : 1;
    Check(Same(read, ReadAcquisitionText(text, CReadPlan{1, chunk, 0})), "chunks read differently");
    const unsigned pieces = size > 1 ? 2 + data[1] % 15 : 2;
    Check(Same(read, ReadAcquisitionText(text, CReadPlan{pieces, chunk, 0})),
          "pieces read differently");
    return 0;
}
