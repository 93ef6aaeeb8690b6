// Reading a file in pieces at once against reading it from start to end: every kind of fault of
// a file at every line (so at a piece boundary, at the first and at the last line), two faults
// in two pieces, files of 0, 1 and 2 data lines, a last line cut anywhere, and a file on disk.
// The quickest reading of numbers and the kept hour of consecutive dates against the careful
// ones.

#include "acquisition/AcquisitionFile.h"
#include "acquisition/AcquisitionReader.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

namespace {

// Everything a load gives, the points bit for bit.
void ExpectSame(const CAcquisitionData& want, const CAcquisitionData& got,
                const std::string& context) {
    EXPECT_EQ(got.m_nChannels, want.m_nChannels) << context;
    EXPECT_EQ(got.m_names, want.m_names) << context;
    EXPECT_EQ(got.m_bHasStart, want.m_bHasStart) << context;
    EXPECT_EQ(got.m_timeStart, want.m_timeStart) << context;
    EXPECT_EQ(got.m_nLines, want.m_nLines) << context;
    EXPECT_EQ(got.m_messages, want.m_messages) << context;
    EXPECT_EQ(got.m_bStopped, want.m_bStopped) << context;
    for (size_t j = 0; j < want.m_series.size(); ++j) {
        ASSERT_EQ(got.m_series[j].size(), want.m_series[j].size()) << context << " series " << j;
        if (!want.m_series[j].empty()) {
            EXPECT_EQ(std::memcmp(got.m_series[j].data(), want.m_series[j].data(),
                                  want.m_series[j].size() * sizeof(CGraphData)),
                      0)
                << context << " series " << j;
        }
    }
}

// The text read in pieces of every size, down to one line each, in chunks of a few bytes and
// of a megabyte, against the text read in one piece.
void ExpectSameInPieces(const std::string& text, const std::string& context) {
    const CAcquisitionData whole = ReadAcquisitionText(text);
    for (unsigned pieces : {2u, 3u, 5u, static_cast<unsigned>(text.size())})
        for (size_t chunk : {size_t{7}, size_t{1} << 20})
            ExpectSame(whole, ReadAcquisitionText(text, CReadPlan{pieces, chunk, 0}),
                       context + ", " + std::to_string(pieces) + " pieces, chunk " +
                           std::to_string(chunk));
}

std::string Timestamp(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char word[32];
    std::snprintf(word, sizeof word, "%d/%d/%d-%d:%d:%d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return word;
}

// Data lines of three readings, 400 s apart so that hours and a date change on the way.
std::vector<std::string> Lines(int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        const float x = static_cast<float>(i);
        lines.push_back(AcquisitionDataLine(1300060000 + 400 * i, {1.5e-6f * x, 0.25f, -x}));
    }
    return lines;
}

std::string Join(const std::string& header, const std::vector<std::string>& lines) {
    std::string text = header;
    for (const std::string& line : lines)
        text += line;
    return text;
}

} // namespace

TEST(AcquisitionReaderPieces, EveryFaultAtEveryLineReadsAsInOnePiece) {
    const std::string header = AcquisitionHeader({"A", "B", "C"}, true);
    const int count = 12;
    const std::string t = Timestamp(1300060000 + 400 * 5);
    // Each replaces one line: what a damaged, hand-made or foreign file may hold there.
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"bad date", "32/13/2011-25:00:00\t1\t2\t3\t\r\n"},
        {"date out of range", "1/1/1899-0:0:0\t1\t2\t3\t\r\n"},
        {"bad value", t + "\t1\tx2\t3\t\r\n"},
        {"value with a rest", t + "\t1\t1.5x\t3\t\r\n"},
        {"lost column", t + "\t1\t2\t\r\n"},
        {"extra column", t + "\t1\t2\t3\t4\t\r\n"},
        {"empty lines", "\r\n\r\n" + t + "\t1\t2\t3\t\r\n"},
        {"row over two lines", t + "\t1\t2\r\n\t3\t\r\n"},
        {"two rows on a line", t + "\t1\t2\t3\t" + t + "\t4\t5\t6\t\r\n"},
        {"no line feeds", t + " 1 2 3 " + t + " 4 5 6\r"},
        {"not finite", t + "\tinf\t-nan\t-inf\t\r\n"},
        {"careful numbers", t + "\t1.000000000000000000000000001\t1e-45\t3.4028236e38\t\r\n"},
        {"a long word", t + "\t" + std::string(1500, '7') + "\t2\t3\t\r\n"},
    };
    for (const auto& [kind, replacement] : faults) {
        for (int at = 0; at < count; ++at) {
            std::vector<std::string> lines = Lines(count);
            lines[static_cast<size_t>(at)] = replacement;
            ExpectSameInPieces(Join(header, lines), kind + " at line " + std::to_string(at));
        }
    }
    // Two faults: whichever piece finds its fault first, the earlier one in the file is told.
    for (int first = 0; first < count; ++first) {
        for (int second = first + 1; second < count; ++second) {
            std::vector<std::string> lines = Lines(count);
            lines[static_cast<size_t>(first)] = t + "\t1\tfirst\t3\t\r\n";
            lines[static_cast<size_t>(second)] = "second\t1\t2\t3\t\r\n";
            const std::string text = Join(header, lines);
            ExpectSameInPieces(text, "faults at " + std::to_string(first) + " and " +
                                         std::to_string(second));
            EXPECT_EQ(ReadAcquisitionText(text, CReadPlan{2, 7, 0}).m_messages.back(), "first");
        }
    }
    // More columns than kept (the ninth is read and dropped), and none at all.
    std::string nine = AcquisitionHeader({"1", "2", "3", "4", "5", "6", "7", "8", "9"}, false);
    std::string none = AcquisitionHeader({}, false);
    for (int i = 0; i < count; ++i) {
        nine += AcquisitionDataLine(1300000000 + i, std::vector<float>(9, static_cast<float>(i)));
        none += Timestamp(1300000000 + i) + "\r\n";
    }
    ExpectSameInPieces(nine, "nine columns");
    ExpectSameInPieces(none, "no column");
}

TEST(AcquisitionReaderPieces, ShortFilesAndALastLineCutAnywhere) {
    const std::string header = AcquisitionHeader({"A", "B", "C"}, false);
    for (int count : {0, 1, 2})
        ExpectSameInPieces(Join(header, Lines(count)), std::to_string(count) + " lines");
    const std::string text = Join(header, Lines(6));
    const size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
    for (size_t end = lastLine; end <= text.size(); ++end)
        ExpectSameInPieces(text.substr(0, end),
                           "cut " + std::to_string(text.size() - end) + " bytes before the end");
    // Not a file to read rows from: the same messages.
    for (const char* foreign : {"", "two\r\n", "3\r\n\tA\tB\tC\r\n"})
        ExpectSameInPieces(foreign, "foreign");
}

TEST(AcquisitionReaderPieces, AFileOnDiskInPiecesWithItsProgress) {
    TempHome home;
    const std::string clean = home.Path() + "/clean.txt", path = home.Path() + "/pieces.txt";
    {
        std::ofstream out(clean, std::ios::binary);
        out << AcquisitionHeader({"A", "B"}, true);
        for (int i = 0; i < 30000; ++i)
            out << AcquisitionDataLine(1300000000 + i / 7, {static_cast<float>(i), 0.5f});
    }
    CAcquisitionData one, four;
    std::string error;
    CLoadProgress progress;
    ASSERT_TRUE(LoadAcquisitionFile(clean, four, error, &progress, CReadPlan{4, 4096, 0})) << error;
    EXPECT_EQ(four.m_nLines, 30000);
    EXPECT_EQ(progress.m_nBytesRead.load(), progress.m_nTotalBytes.load());

    {
        std::ofstream out(path, std::ios::binary);
        out << std::ifstream(clean, std::ios::binary).rdbuf();
        out << Timestamp(1300009000) << "\t1\tbroken\t\r\n";
        for (int i = 0; i < 1000; ++i)
            out << AcquisitionDataLine(1300009000 + i, {1.0f, 2.0f});
    }
    ASSERT_TRUE(LoadAcquisitionFile(path, one, error, nullptr, CReadPlan{1})) << error;
    ASSERT_TRUE(LoadAcquisitionFile(path, four, error, nullptr, CReadPlan{4, 4096, 0})) << error;
    ExpectSame(one, four, "on disk");
    EXPECT_EQ(four.m_messages, (std::vector<std::string>{"Bad Value Format", "broken"}));
    EXPECT_EQ(four.m_series[0].size(), 30001u); // the broken row's first reading stays

    CLoadProgress stop;
    stop.m_bCancel = true;
    EXPECT_FALSE(LoadAcquisitionFile(path, four, error, &stop, CReadPlan{4, 4096, 0}));
    EXPECT_EQ(error, "Loading " + path + " cancelled");
    EXPECT_TRUE(four.m_series[0].empty());
}

// The reader takes the usual number a quicker way than a word alone is read, and keeps the hour
// of the last date: both must give what the careful way gives. A chunk of one byte never leaves
// room for the quick way.
TEST(AcquisitionReaderPieces, QuickNumbersAndKeptHoursReadAsTheCarefulWay) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> digits(1, 24), exponent(-45, 40), form(0, 4), digit(0, 9);
    std::string text = AcquisitionHeader({"A"}, false);
    // Half-way between two floats (ties to even), just above half-way though the nearest double
    // is half-way, the ends of a float's range, no digits.
    for (const char* word :
         {"16777217", "1.000000536441803", "1.000000774860382", "16777219", "33554434",
          "-16777217.0", "1.6777217e7", "3.4028235e38", "3.4028236e38", "1e-38", "1.4e-45", "7e22",
          "9e-23", "0e999", "-0", "5.", ".5", "+.5e+1"})
        text += Timestamp(1300000000) + "\t" + word + "\t\r\n";
    for (int i = 0; i < 50000; ++i) {
        std::string number;
        const int n = digits(random);
        for (int k = 0; k < n; ++k)
            number += static_cast<char>('0' + digit(random));
        if (form(random) != 0)
            number.insert(static_cast<size_t>(std::uniform_int_distribution<int>(0, n)(random)),
                          ".");
        if (form(random) > 1)
            number += (form(random) == 0 ? "E" : "e") + std::to_string(exponent(random));
        const char* sign[] = {"", "-", "+", "", ""};
        text += Timestamp(1300000000 + i) + "\t" + sign[form(random)] + number + "\t\r\n";
    }
    const CAcquisitionData careful = ReadAcquisitionText(text, CReadPlan{1, 1, 0});
    ASSERT_EQ(careful.m_nLines, 50018);
    ExpectSame(careful, ReadAcquisitionText(text), "numbers");

    // Dates across changes of offset, written with and without leading zeros.
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    for (const char* zone : {"Europe/Paris", "Australia/Lord_Howe"}) {
        setenv("TZ", zone, 1);
        tzset();
        std::string dates = AcquisitionHeader({"A"}, false);
        std::vector<std::string> words;
        for (std::time_t t = 1711846800 - 7200; t < 1711846800 + 7200; t += 97) // 31 Mar 2024
            words.push_back(Timestamp(t));
        for (std::time_t t = 1712415600 - 7200; t < 1712415600 + 7200; t += 97) // 7 Apr 2024
            words.push_back(Timestamp(t));
        for (size_t i = 0; i < words.size(); ++i) {
            if (i % 3 == 0 && words[i][1] == '/')
                words[i].insert(0, "0");
            dates += words[i] + "\t1\r\n";
        }
        const CAcquisitionData read = ReadAcquisitionText(dates);
        ASSERT_EQ(read.m_series[0].size(), words.size());
        for (size_t i = 0; i < words.size(); ++i) {
            std::time_t alone = 0;
            ASSERT_TRUE(ParseAcquisitionTimestamp(words[i], alone));
            EXPECT_EQ(read.m_series[0][i].fTime, static_cast<float>(alone - read.m_timeStart))
                << zone << " " << words[i];
        }
    }
    if (before)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
