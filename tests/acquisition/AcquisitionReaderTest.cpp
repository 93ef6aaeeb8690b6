// Reading acquisition files back, and the bad inputs a file may hold:
//   a title with a blank, or beginning with '-'   one name (names are the fields of line 2)
//   fewer or more names than N          "Bad File Format"; the data still loads by N columns
//   no line of hyphens after the names  "Bad File Format"; nothing is read
//   a channel that lost its column      "Bad Date Format" and the word; the points before stay
//   N = 0                               timestamps only; no point, no message
//   a word of 2,000 characters          read as its first 1023; as a date, "Bad Date Format"
//   dates out of range                  "Bad Date Format" (year < 1900, month 13, hour 24, ...)
//   a reading that is not a number      "Bad Value Format" and the word; the points before stay
//   no count, an empty file             "Bad File Format"
//   a folder instead of a file          not opened, with the reason

#include "acquisition/AcquisitionReader.h"
#include "acquisition/AcquisitionFile.h"
#include "link/NumberText.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

const std::string kSeparator(82, '-');

std::string Header(const std::string& count, const std::string& names, bool byHand = false) {
    return count + "\r\n" + names + "\r\n" + kSeparator + "\r\n" + (byHand ? "\r\n" : "");
}

std::vector<float> Values(const std::vector<CGraphData>& series) {
    std::vector<float> values;
    for (const CGraphData& point : series)
        values.push_back(point.fValue);
    return values;
}

std::vector<float> Times(const std::vector<CGraphData>& series) {
    std::vector<float> times;
    for (const CGraphData& point : series)
        times.push_back(point.fTime);
    return times;
}

using Messages = std::vector<std::string>;

} // namespace

TEST(AcquisitionReader, WhatTheWriterWroteReadsBackTheSame) {
    const std::time_t t0 = 1300000000;
    const std::vector<std::string> titles = {"Seed", "Amp", "Out"};
    const std::vector<std::vector<float>> lines = {
        {1.5e-5f, 0.0123456f, 3.4e38f}, {-0.0f, 123456.0f, 1e-30f}, {2.0f, INFINITY, -7.25f}};
    for (bool byHand : {true, false}) {
        std::string text = AcquisitionHeader(titles, byHand);
        for (size_t i = 0; i < lines.size(); ++i)
            text += AcquisitionDataLine(t0 + static_cast<std::time_t>(2 * i), lines[i]);
        const CAcquisitionData data = ReadAcquisitionText(text);
        EXPECT_EQ(data.m_messages, Messages{});
        EXPECT_EQ(data.m_names, titles);
        EXPECT_EQ(data.m_nChannels, 3);
        EXPECT_EQ(data.m_timeStart, t0);
        EXPECT_EQ(data.m_nLines, 3);
        for (size_t column = 0; column < 3; ++column) {
            EXPECT_EQ(Times(data.m_series[column]), (std::vector<float>{0, 2, 4}));
            for (size_t i = 0; i < lines.size(); ++i)
                EXPECT_EQ(data.m_series[column][i].fValue,
                          std::stof(FormatAcquisitionReading(lines[i][column])));
        }
        EXPECT_TRUE(data.m_series[3].empty());
        // Read in chunks as small as one byte, with words across the chunks' ends.
        for (size_t chunk : {1, 2, 3, 7, 64}) {
            const CAcquisitionData pieces = ReadAcquisitionText(text, CReadPlan{1, chunk, 0});
            EXPECT_EQ(pieces.m_names, data.m_names) << chunk;
            EXPECT_EQ(pieces.m_messages, data.m_messages) << chunk;
            for (size_t column = 0; column < 3; ++column)
                EXPECT_EQ(Values(pieces.m_series[column]), Values(data.m_series[column]));
        }
    }
}

// The names are the fields of line 2, and the data are read by N columns whatever the names, the
// line breaks and the width of the fields.
TEST(AcquisitionReader, NamesAreTheFieldsOfTheirLineAndDataAreReadByTheCount) {
    // Blanks and a leading '-' belong to the names.
    CAcquisitionData data = ReadAcquisitionText(Header("3", "\tLaser A\t-Amp\tOut\t") +
                                                "25/03/2011-14:05:09\t1\t2\t3\t\r\n"
                                                "25/03/2011-14:05:10\t4\t5\t6\t\r\n");
    EXPECT_EQ(data.m_messages, Messages{});
    EXPECT_EQ(data.m_names, (std::vector<std::string>{"Laser A", "-Amp", "Out"}));
    EXPECT_EQ(Values(data.m_series[1]), (std::vector<float>{2, 5}));
    EXPECT_EQ(Times(data.m_series[2]), (std::vector<float>{0, 1}));

    // One name short of N: said, and the columns still come from N.
    data = ReadAcquisitionText(Header("2", "\tSeed\t") + "25/03/2011-14:05:09\t1\t2\t\r\n");
    EXPECT_EQ(data.m_messages, Messages{"Bad File Format"});
    EXPECT_EQ(data.m_names, std::vector<std::string>{"Seed"});
    EXPECT_EQ(Values(data.m_series[1]), std::vector<float>{2});

    // No line of hyphens after the names: nothing is taken for data.
    data = ReadAcquisitionText("1\r\n\tA\t\r\n25/03/2011-14:05:09\t1\t\r\n");
    EXPECT_EQ(data.m_messages, Messages{"Bad File Format"});
    EXPECT_TRUE(data.m_names.empty());
    EXPECT_TRUE(data.m_series[0].empty());
    // A file whose count is followed by the hyphens at once has no names.
    data = ReadAcquisitionText("1\r\n" + kSeparator + "\r\n25/03/2011-14:05:09\t1\t\r\n");
    EXPECT_EQ(data.m_messages, Messages{"Bad File Format"});
    EXPECT_EQ(Values(data.m_series[0]), std::vector<float>{1});

    // Ten columns: the ninth and tenth are read and dropped.
    std::string names = "\t", line = "01/01/2020-00:00:00\t";
    for (int i = 1; i <= 10; ++i) {
        names += "C" + std::to_string(i) + "\t";
        line += std::to_string(i) + "\t";
    }
    data = ReadAcquisitionText(Header("10", names) + line + "\r\n" + line + "\r\n");
    EXPECT_EQ(data.m_messages, Messages{});
    EXPECT_EQ(data.m_nLines, 2);
    EXPECT_EQ(Values(data.m_series[7]), (std::vector<float>{8, 8}));

    // No column: timestamps only, with empty lines anywhere.
    data = ReadAcquisitionText(Header("0", "\t", true) + "25/03/2011-14:05:09\t\r\n\r\n\r\n"
                                                         "25/03/2011-14:05:10\t\r\n");
    EXPECT_EQ(data.m_messages, Messages{});
    EXPECT_EQ(data.m_nLines, 2);
    for (const auto& series : data.m_series)
        EXPECT_TRUE(series.empty());
    EXPECT_TRUE(data.m_bHasStart);

    // Fields need no leading zeros, and exponents any width.
    data = ReadAcquisitionText(Header("1", "\tA\t") + "5/3/2011-4:5:9\t1.5e-005\t\r\n");
    EXPECT_EQ(data.m_messages, Messages{});
    ASSERT_EQ(data.m_series[0].size(), 1u);
    EXPECT_EQ(data.m_series[0][0].fValue, 1.5e-5f);
    std::time_t t = 0;
    ASSERT_TRUE(ParseAcquisitionTimestamp("05/03/2011-04:05:09", t));
    EXPECT_EQ(data.m_timeStart, t);
}

// A bad date or value, or a lost column, stops the load; the message names the word, and the
// points before it stay.
TEST(AcquisitionReader, BadDatesBadValuesAndALostColumnStopTheLoadAndSayWhere) {
    // The channel B dropped out after the first line (as files of old did): the day of the next
    // timestamp is read as its value, and the rest of that word as the next timestamp.
    const std::string text = Header("2", "\tA\tB\t") + "25/03/2011-14:05:09\t1\t2\t\r\n" +
                             "25/03/2011-14:05:10\t3\t\r\n" + "25/03/2011-14:05:11\t5\t\r\n";
    const CAcquisitionData data = ReadAcquisitionText(text);
    EXPECT_EQ(data.m_messages, (Messages{"Bad Date Format", "/03/2011-14:05:11"}));
    EXPECT_TRUE(data.m_bStopped);
    EXPECT_EQ(Values(data.m_series[0]), (std::vector<float>{1, 3}));
    EXPECT_EQ(Values(data.m_series[1]), (std::vector<float>{2, 25}));
    const CAcquisitionData pieces = ReadAcquisitionText(text, CReadPlan{1, 5, 0});
    EXPECT_EQ(pieces.m_messages, data.m_messages);
    EXPECT_EQ(Values(pieces.m_series[1]), Values(data.m_series[1]));

    for (const char* date : {"25/03/1899-14:05:09", "25/13/2011-14:05:09", "32/03/2011-14:05:09",
                             "00/03/2011-14:05:09", "25/03/2011-24:00:00", "25/03/2011-14:60:09",
                             "25/03/2011-14:05:60", "25/03/2011-14:05", "25.03.2011-14:05:09",
                             "99999999999/03/2011-14:05:09", "x"}) {
        const CAcquisitionData data = ReadAcquisitionText(
            Header("1", "\tA\t") + "25/03/2011-14:05:08\t1\t\r\n" + date + "\t2\t\r\n");
        EXPECT_EQ(data.m_messages, (Messages{"Bad Date Format", date})) << date;
        EXPECT_EQ(Values(data.m_series[0]), std::vector<float>{1}) << date;
    }
    for (const char* value : {"abc", "+-5", "+", "-", ".", "e5"}) {
        const CAcquisitionData data = ReadAcquisitionText(
            Header("2", "\tA\tB\t") + "25/03/2011-14:05:08\t1\t2\t\r\n25/03/2011-14:05:09\t3\t" +
            value + "\t\r\n25/03/2011-14:05:10\t5\t6\t\r\n");
        EXPECT_EQ(data.m_messages, (Messages{"Bad Value Format", value})) << value;
        EXPECT_EQ(Values(data.m_series[0]), (std::vector<float>{1, 3})) << value;
        EXPECT_EQ(Values(data.m_series[1]), (std::vector<float>{2})) << value;
    }
    // A reading takes the number its word begins with; the rest is the next word: here the next
    // timestamp.
    const CAcquisitionData comma =
        ReadAcquisitionText(Header("1", "\tA\t") + "25/03/2011-14:05:08\t1,5\t\r\n");
    EXPECT_EQ(comma.m_messages, (Messages{"Bad Date Format", ",5"}));
    EXPECT_EQ(Values(comma.m_series[0]), std::vector<float>{1});
}

TEST(AcquisitionReader, LongWordsNoCountAndFilesThatAreNotFiles) {
    const std::string longName(2000, 'n'); // a name is cut as a word is
    CAcquisitionData data = ReadAcquisitionText(Header("1", "\t" + longName + "\t") +
                                                std::string(2000, '7') + "\t\r\n");
    EXPECT_EQ(data.m_names, std::vector<std::string>{std::string(1023, 'n')});
    EXPECT_EQ(data.m_messages, (Messages{"Bad Date Format", std::string(1023, '7')}));

    EXPECT_EQ(ReadAcquisitionText("").m_messages, Messages{"Bad File Format"});
    EXPECT_EQ(ReadAcquisitionText("two\r\n").m_messages, Messages{"Bad File Format"});
    EXPECT_EQ(ReadAcquisitionText("-1\r\n").m_messages, Messages{"Bad File Format"});

    TempHome home;
    std::string error;
    EXPECT_FALSE(LoadAcquisitionFile(home.Path(), data, error));
    EXPECT_EQ(error, "Unable to open " + home.Path() + ": not a regular file");
    EXPECT_FALSE(LoadAcquisitionFile(home.Path() + "/none.txt", data, error));
    EXPECT_EQ(error, "Unable to open " + home.Path() + "/none.txt: No such file or directory");

    // A file larger than the reader's chunk, with words across the chunk boundaries.
    const std::string path = home.Path() + "/big.txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << AcquisitionHeader({"A", "B"}, true);
        for (int i = 0; i < 60000; ++i)
            out << AcquisitionDataLine(1300000000 + i, {static_cast<float>(i), 0.5f});
    }
    CLoadProgress progress;
    ASSERT_TRUE(LoadAcquisitionFile(path, data, error, &progress)) << error;
    EXPECT_EQ(progress.m_nBytesRead.load(), std::filesystem::file_size(path));
    EXPECT_EQ(progress.m_nTotalBytes.load(), progress.m_nBytesRead.load());
    EXPECT_EQ(data.m_messages, Messages{});
    ASSERT_EQ(data.m_series[0].size(), 60000u);
    for (int i = 0; i < 60000; i += 997) {
        EXPECT_EQ(data.m_series[0][static_cast<size_t>(i)].fValue,
                  std::stof(FormatAcquisitionReading(static_cast<float>(i))));
        EXPECT_EQ(data.m_series[0][static_cast<size_t>(i)].fTime, static_cast<float>(i));
    }
    // A load told to stop gives nothing, and says so.
    CLoadProgress stop;
    stop.m_bCancel = true;
    EXPECT_FALSE(LoadAcquisitionFile(path, data, error, &stop));
    EXPECT_EQ(error, "Loading " + path + " cancelled");
    EXPECT_TRUE(data.m_series[0].empty());
}

// Readings are read the quick way where that is exact; the float must be the nearest one (what
// from_chars gives; beyond a float's range, infinity or zero) and the length what
// ScanFloatPrefix finds, for any form of number.
TEST(AcquisitionReader, ReadingsAreTheNearestFloatWhateverTheirForm) {
    const auto expected = [](const std::string& word, float& value) {
        const size_t length = ScanFloatPrefix(word);
        std::string number = word.substr(0, length);
        if (!number.empty() && number[0] == '+')
            number.erase(0, 1);
        value = 0;
        if (length > 0 && std::from_chars(number.data(), number.data() + number.size(), value).ec ==
                              std::errc::result_out_of_range)
            ParseLeadingFloat(word, value); // beyond a float: infinity, or zero
        return length;
    };
    const auto check = [&](const std::string& word) {
        float got = -1, want = -1;
        const size_t length = ParseAcquisitionReading(word, got);
        ASSERT_EQ(length, expected(word, want)) << word;
        if (length > 0) {
            ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << word << " " << got << " " << want;
        }
    };
    // Every form a word may take, each alone; then random ones.
    std::istringstream words("0 -0 +1 1e 1e+ 1e-x .5 5. -. . 00012 1.2.3 1.5e-005 1.5E+2 16777217 "
                             "16777219 0.1 3.4028235e38 1e-38 1.4e-45 123456789012345678901234 "
                             "0.000000000000000000000000001 7e22 9e-23 1,5");
    for (std::string word; words >> word;)
        check(word);
    std::mt19937 random(11);
    std::uniform_int_distribution<int> digits(1, 12), exponent(-40, 38), form(0, 3);
    std::uniform_int_distribution<int> digit(0, 9);
    for (int i = 0; i < 200000; ++i) {
        std::string mantissa;
        const int n = digits(random);
        for (int k = 0; k < n; ++k)
            mantissa += static_cast<char>('0' + digit(random));
        const int point = std::uniform_int_distribution<int>(0, n)(random);
        if (point < n && form(random) != 0)
            mantissa.insert(static_cast<size_t>(point), ".");
        const int e = exponent(random);
        std::string word = (i % 2 ? "-" : "") + mantissa;
        if (form(random) != 3)
            word += (form(random) == 0 ? "E" : "e") + std::to_string(e);
        check(word);
    }
    // Exactly half-way between two floats: ties go to the even one.
    float value = 0;
    ParseAcquisitionReading("16777217", value);
    EXPECT_EQ(value, 16777216.0f);
}

// Local times are turned into calendar times as mktime does, daylight saving changes included
// (a time in the gap of a change is read with the offset from before it), in zones with and
// without them, one of them changing by half an hour.
TEST(AcquisitionReader, TimestampsAreLocalTimeAsTheSystemSeesIt) {
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    for (const char* zone : {"Europe/Paris", "America/New_York", "Australia/Lord_Howe", "UTC"}) {
        setenv("TZ", zone, 1);
        tzset();
        for (int day = 1; day <= 365; ++day) {
            for (int hour = 0; hour < 24; ++hour) {
                for (int minute : {0, 15, 30, 45}) {
                    std::tm fields{};
                    fields.tm_year = 2026 - 1900;
                    fields.tm_mday = day;
                    fields.tm_hour = 12;
                    fields.tm_isdst = -1;
                    std::mktime(&fields); // the calendar date of that day of the year
                    fields.tm_hour = hour;
                    fields.tm_min = minute;
                    fields.tm_sec = 0;
                    fields.tm_isdst = -1;
                    char word[32];
                    std::snprintf(word, sizeof word, "%d/%d/%d-%d:%d:00", fields.tm_mday,
                                  fields.tm_mon + 1, 2026, hour, minute);
                    // A time that occurs twice (the clock set back) is read as its first moment;
                    // mktime's choice there depends on its earlier calls.
                    std::time_t both[2] = {0, 0};
                    bool twice = true;
                    for (int dst : {0, 1}) {
                        std::tm one = fields;
                        one.tm_isdst = dst;
                        both[dst] = std::mktime(&one);
                        std::tm back{};
                        localtime_r(&both[dst], &back);
                        twice &=
                            back.tm_hour == hour && back.tm_min == minute && back.tm_isdst == dst;
                    }
                    const std::time_t expected =
                        twice ? std::min(both[0], both[1]) : std::mktime(&fields);
                    std::time_t t = 0;
                    ASSERT_TRUE(ParseAcquisitionTimestamp(word, t)) << zone << " " << word;
                    EXPECT_EQ(t, expected) << zone << " " << word;
                }
            }
        }
    }
    if (before)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
