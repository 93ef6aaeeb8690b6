// Catalogue of bad input from the meter's reading stream: what CLineBuffer and the calibration make
// of each. A row is the chunks as the driver hands them over and the readings that come out (gain
// 1, offset 0 unless the row says otherwise), printed with %g. The rows:
//   zero byte                the rest of its chunk is lost; the line across the gap is dropped,
//                            so the text on either side never joins into another number
//   bytes above 0x7F         a line that begins with one is dropped; after the number ignored
//   lone CR, lone LF         not a line end: the number at the front of the line counts
//   CR CR LF                 the extra CR is trimmed away
//   70 KiB without CR LF     dropped whole, whether its CR LF comes later or in the same chunk;
//                            the buffer never holds more than kMaxPending bytes
//   70 KiB of blanks         skipped as they come; the next reading counts
//   comma decimal separator  the number ends at the comma
//   nan, inf, hexadecimal    not numbers ("0x1A" reads as its leading 0)
//   exponent overflow        +-inf (shown as beyond every range); underflow gives 0
//   "1e", "-", "+.", '+'     "1e" is 1; "-" and "+." are no number; a leading '+' is accepted
//   unit after the number    the number counts, the unit is ignored
//   only blanks              no reading

#include "link/LineBuffer.h"
#include "link/NumberText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct Row {
    const char* what;
    std::vector<std::string> chunks;
    std::string readings; // separated by one blank
    float gain = 1.0f;
    float offset = 0.0f;
};

TEST(BadMeterStream, EachBadInputGivesTheListedReadingsAndMemoryStaysBounded) {
    const std::string line70k(70 * 1024, '9');
    std::string blanks70k;
    for (int i = 0; i < 70 * 512; ++i)
        blanks70k += " \t";
    const Row rows[] = {
        {"zero byte first",
         {"\0"s
          "5\r\n",
          "6\r\n", "7\r\n"},
         "7"},
        {"zero byte inside a reading",
         {"1.2\0"s
          "34\r\n5.6\r\n",
          "9.0\r\n", "8\r\n"},
         "8"},
        {"zero byte after a reading",
         {"7\r\n\0"s
          "8\r\n",
          "9\r\n", "3\r\n"},
         "7 3"},
        {"bytes above 0x7F",
         {"\xB5"s
          "1.0\r\n\xFF\xFE\r\n2.0\xB0"s
          "C\r\n"},
         "2"},
        {"lone CR", {"1.5\r2.5\r\n"}, "1.5"},
        {"lone LF", {"1.5\n2.5\r\n", "3\n\r\n"}, "1.5 3"},
        {"CR CR LF", {"1.5\r\r\n\r\r\n2.5\r\r\n"}, "1.5 2.5"},
        {"70 KiB line, CR LF later", {line70k, "\r\n4\r\n"}, "4"},
        {"70 KiB line, CR LF in the same chunk", {line70k + "\r\n4\r\n"}, "4"},
        {"70 KiB of blanks", {blanks70k, blanks70k, "5\r\n"}, "5"},
        {"comma decimal separator", {"12,5\r\n-0,5\r\n"}, "12 0"},
        {"nan, inf and hexadecimal", {"nan\r\ninf\r\n-INF\r\n0x1A\r\n"}, "0"},
        {"exponent overflow and underflow", {"1e999\r\n-1e999\r\n1e-999\r\n"}, "inf -inf 0"},
        {"overflow calibrated", {"1e999\r\n"}, "-inf", -2.0f, 0.5f},
        {"incomplete numbers and '+'", {"1e\r\n-\r\n+.\r\n+.5\r\n+2.5e+1\r\n"}, "1 0.5 25"},
        {"unit after the number", {"3.5mW\r\n2E-3W\r\n7e+W\r\n"}, "3.5 0.002 7"},
        {"only blanks", {" \t \r\n\t\r\n \r\n"}, ""},
    };
    for (const Row& row : rows) {
        CLineBuffer buffer;
        std::string readings;
        for (const std::string& chunk : row.chunks) {
            buffer.Append(chunk.data(), chunk.size());
            buffer.TakeReadings(row.gain, row.offset, [&](float v) {
                readings += (readings.empty() ? "" : " ") + FormatG(v);
            });
            ASSERT_LE(buffer.Pending().size(), CLineBuffer::kMaxPending) << row.what;
        }
        EXPECT_EQ(readings, row.readings) << row.what;
        EXPECT_EQ(buffer.Pending(), "") << row.what;
    }
}

} // namespace
