#include "sim/MeterCommandReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Feeds the bytes 5 ms apart from `startMs`, as the application paces them.
std::vector<MeterCommand> FeedAll(CMeterCommandReader& reader, const std::string& bytes,
                                  int64_t startMs = 0) {
    std::vector<MeterCommand> commands;
    for (char byte : bytes) {
        if (auto command = reader.Feed(byte, startMs))
            commands.push_back(*command);
        startMs += 5;
    }
    return commands;
}

} // namespace

TEST(MeterCommandReader, FourByteCommandsCompleteOnTheirFourthByte) {
    const std::pair<const char*, MeterCommand::Kind> cases[] = {
        {"*CSU", MeterCommand::StopStream},     {"*NAM", MeterCommand::AskName},
        {"*SNN", MeterCommand::AskSerial},      {"*CAU", MeterCommand::StartStream},
        {"*ANT", MeterCommand::AnticipationOn}, {"*ANF", MeterCommand::AnticipationOff}};
    for (const auto& [text, kind] : cases) {
        CMeterCommandReader reader;
        EXPECT_TRUE(FeedAll(reader, std::string(text, 3)).empty()) << text;
        auto command = reader.Feed(text[3], 15);
        ASSERT_TRUE(command) << text;
        EXPECT_EQ(command->kind, kind) << text;
    }
}

TEST(MeterCommandReader, WavelengthFieldEndsAtNextCommandGapOrMaximumLength) {
    CMeterCommandReader reader;
    auto commands = FeedAll(reader, "*PWC 1064*NAM*PWC100000*CSU");
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].kind, MeterCommand::SetWavelength);
    EXPECT_EQ(commands[0].wavelength, 1064);
    EXPECT_EQ(commands[1].kind, MeterCommand::AskName); // the '*' that ended the field counts
    EXPECT_EQ(commands[2].wavelength, 100000);
    EXPECT_EQ(commands[3].kind, MeterCommand::StopStream);

    EXPECT_TRUE(FeedAll(reader, "*PWC  532", 1000).empty()); // last byte at 1040 ms
    EXPECT_EQ(reader.MsUntilDeadline(1050), CMeterCommandReader::kFieldIdleMs - 10);
    EXPECT_FALSE(reader.Poll(1040 + CMeterCommandReader::kFieldIdleMs - 1));
    auto command = reader.Poll(1040 + CMeterCommandReader::kFieldIdleMs);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->wavelength, 532);
    EXPECT_EQ(reader.MsUntilDeadline(2000), -1);

    // A digit that comes after the gap no longer belongs to the field.
    FeedAll(reader, "*PWC 1064");
    command = reader.Feed('5', 200);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->wavelength, 1064);

    // Read late by a busy reader, a digit that came while the port was watched within the gap
    // still belongs to the field (the meter's UART would have had it in time); one that came
    // only after the gap does not.
    FeedAll(reader, "*PWC 106", 3000); // last byte at 3035 ms
    EXPECT_FALSE(reader.Feed('4', 3036, 3100));
    command = reader.Poll(3100 + CMeterCommandReader::kFieldIdleMs);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->wavelength, 1064);
    FeedAll(reader, "*PWC 106", 4000);
    command = reader.Feed('4', 4035 + CMeterCommandReader::kFieldIdleMs, 4100);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->wavelength, 106);

    // A full field completes without waiting for the gap; what follows is stray.
    commands = FeedAll(reader, "*PWC" + std::string(CMeterCommandReader::kMaxFieldLength - 3, ' ') +
                                   "12345*");
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].wavelength, 123);
}

TEST(MeterCommandReader, StrayBrokenAndBadInputIsSkipped) {
    CMeterCommandReader reader;
    auto commands = FeedAll(reader, "xx\r\n\x01*SNN*NA*NAM*XYZ*nam*CAU");
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].kind, MeterCommand::AskSerial);
    EXPECT_EQ(commands[1].kind, MeterCommand::AskName);
    EXPECT_EQ(commands[2].kind, MeterCommand::StartStream);

    // Blanks only, a sign without digits, a minus among digits, a value beyond int.
    commands = FeedAll(reader, "*PWC     *PWC   - *PWC10-64*PWC9999999999*CSU");
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].kind, MeterCommand::StopStream);

    commands = FeedAll(reader, "*PWC   -5*CSU");
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].wavelength, -5);
}
