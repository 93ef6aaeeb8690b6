#include "detectors/Archive.h"
#include "detectors/ChannelConfig.h"

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

// Everything after the title of the record {position 2, gain 1, offset 0, levels 0, 1064 nm, on}.
static const Bytes kNumbers = {2, 0, 0, 0, 0, 0, 0x80, 0x3F, 0, 0, 0, 0, 0, 0,
                               0, 0, 0, 0, 0, 0, 0x28, 0x04, 0, 0, 1, 0, 0, 0};

static Bytes Join(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

static Bytes Encode(const CChannelConfig& c) {
    CArchiveWriter writer;
    c.Serialize(writer);
    return writer.Bytes();
}

TEST(ChannelRecord, EncodesKnownRecordsAndEveryLengthPrefixForm) {
    CChannelConfig c;
    c.m_nPosition = 2;
    EXPECT_EQ(Encode(c), Join({0}, kNumbers));
    c.m_strTitle = "Nd:YAG";
    EXPECT_EQ(Encode(c), Join({6, 'N', 'd', ':', 'Y', 'A', 'G'}, kNumbers));

    const std::pair<size_t, Bytes> prefixes[] = {{254, {0xFE}},
                                                 {255, {0xFF, 0xFF, 0x00}},
                                                 {0xFFFD, {0xFF, 0xFD, 0xFF}},
                                                 {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0, 0}}};
    for (const auto& [length, prefix] : prefixes) {
        c.m_strTitle.assign(length, 'a');
        const Bytes out = Encode(c);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + prefix.size()), prefix) << length;
        CChannelConfig back;
        CArchiveReader reader(out.data(), out.size());
        ASSERT_TRUE(back.Serialize(reader)) << length;
        EXPECT_EQ(Encode(back), out);
        EXPECT_EQ(reader.Remaining(), 0u);
    }
}

TEST(ChannelRecord, ReadsWhatItCanAndRejectsTheRestWithoutTouchingTheRecord) {
    const std::pair<Bytes, std::string> inputs[] = {
        {Join({0xFF, 3, 0, 'a', 'b', 'c'}, kNumbers), "abc"}, // wider prefixes than needed
        {Join({0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 'a', 'b', 'c'}, kNumbers), "abc"},
        {Join({0xFF, 0xFD, 0xFF, 'a'}, kNumbers),
         "the text length 65533 is larger than the 29 bytes that remain"},
        {Join({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, kNumbers),
         "the text length 4294967295 is larger than the 28 bytes that remain"},
        {Join({0xFF, 0xFE, 0xFF, 1, 'a', 0}, kNumbers),
         "the text is stored as a wide (UTF-16) string, which this record never holds"}};
    const Bytes good = Join({1, 'x'}, kNumbers);
    std::vector<std::pair<Bytes, std::string>> cases(std::begin(inputs), std::end(inputs));
    for (size_t cut = 0; cut < good.size(); ++cut) // every truncation of a good record
        cases.emplace_back(Bytes(good.begin(), good.begin() + cut), "");

    CChannelConfig before;
    before.m_strTitle = "keep";
    before.m_fGain = 2.5f;
    before.m_bAnticipation = false;
    for (const auto& [bytes, expected] : cases) {
        CChannelConfig c = before;
        CArchiveReader reader(bytes.data(), bytes.size());
        if (c.Serialize(reader)) {
            EXPECT_EQ(c.m_strTitle, expected);
            EXPECT_TRUE(c.m_bAnticipation);
            continue;
        }
        EXPECT_EQ(Encode(c), Encode(before)) << bytes.size();
        EXPECT_EQ(reader.Error(), expected.empty() ? reader.Error() : expected);
        EXPECT_FALSE(reader.Error().empty());
    }
}
