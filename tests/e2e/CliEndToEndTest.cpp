// kelvarin-cli against simulated meters on real pseudo-terminals.

#include "acquisition/AcquisitionFile.h"
#include "acquisition/AcquisitionReader.h"
#include "detectors/ChannelConfig.h"
#include "detectors/ChannelConfigFile.h"
#include "detectors/DisplayAidsFile.h"
#include "link/LocalTime.h"
#include "link/NumberText.h"
#include "render/StatisticsTable.h"
#include "render/ValueFormat.h"
#include "sim/MeterSimulator.h"
#include "support/ReadFile.h"
#include "support/SteadyMeter.h"
#include "support/Subprocess.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

const std::string kCli = KELVARIN_CLI_PATH;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

MeterProfile SteadyMeter(const std::string& serial) {
    MeterProfile profile;
    profile.name = "KLV-TEST";
    profile.serialReply = "S/N " + serial;
    profile.nominalWatts = 1.5e-3;
    profile.readingsPerSecond = 40;
    profile.noise = 0;
    profile.drift = false;
    return profile;
}

std::vector<std::string> Commands(const CMeterSimulator& meter) {
    const std::string text = ReceivedText(meter);
    std::vector<std::string> commands;
    for (size_t at = text.find('*'); at != std::string::npos;) {
        const size_t next = text.find('*', at + 1);
        commands.push_back(text.substr(at, next - at));
        at = next;
    }
    return commands;
}

TEST(CliEndToEnd, ProbeListsEachMeterWithItsStoredPositionAndTitle) {
    TempHome home;
    CSimulatorSet meters;
    std::string error;
    ASSERT_TRUE(meters.Start(2, error)) << error;
    MeterProfile silentProfile = SteadyMeter("000");
    CMeterSimulator silent(silentProfile);
    ASSERT_TRUE(silent.Start(error)) << error;
    silent.SetFault(MeterFault::Silence);
    // A meter that answers 150 ms late, and one whose answers come in two pieces, the second
    // 130 ms after the question (a loaded machine, a slow hub): both are read whole.
    MeterProfile lateProfile = SteadyMeter("LATE150");
    lateProfile.replyDelayMs = 150;
    CMeterSimulator late(lateProfile);
    ASSERT_TRUE(late.Start(error)) << error;
    MeterProfile splitProfile = SteadyMeter("SPLIT130");
    splitProfile.replyRestMs = 130;
    CMeterSimulator split(splitProfile);
    ASSERT_TRUE(split.Start(error)) << error;

    CChannelConfig stored;
    stored.m_nPosition = 3;
    stored.m_strTitle = "Bench-A";
    const std::string serial0 = meters.Meter(0).Profile().serialReply.substr(4);
    ASSERT_TRUE(SaveChannelConfigFile(serial0, stored, error)) << error;

    const ProcessResult r =
        RunProgram({kCli, "probe", meters.Meter(0).PortPath(), meters.Meter(1).PortPath(),
                    silent.PortPath(), late.PortPath(), split.PortPath()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(Fields(lines[0]),
              (std::vector<std::string>{"3", meters.Meter(0).PortPath(),
                                        meters.Meter(0).Profile().name, serial0, "Bench-A"}));
    EXPECT_EQ(
        Fields(lines[1]),
        (std::vector<std::string>{"-1", meters.Meter(1).PortPath(), meters.Meter(1).Profile().name,
                                  meters.Meter(1).Profile().serialReply.substr(4), ""}));
    EXPECT_EQ(Fields(lines[2]), (std::vector<std::string>{"-1", silent.PortPath(), "", "", ""}));
    EXPECT_EQ(Fields(lines[3]),
              (std::vector<std::string>{"-1", late.PortPath(), "KLV-TEST", "LATE150", ""}));
    EXPECT_EQ(Fields(lines[4]),
              (std::vector<std::string>{"-1", split.PortPath(), "KLV-TEST", "SPLIT130", ""}));
    EXPECT_EQ(Commands(late), (std::vector<std::string>{"*CSU", "*NAM", "*SNN"}));
    // The probe asks and listens; it never starts the stream.
    EXPECT_EQ(Commands(meters.Meter(1)), (std::vector<std::string>{"*CSU", "*NAM", "*SNN"}));
    EXPECT_FALSE(meters.Meter(1).IsStreaming());
}

TEST(CliEndToEnd, ProbeReportsAPortThatCannotBeOpened) {
    TempHome home;
    const ProcessResult r = RunProgram({kCli, "probe", "/dev/kelvarin-missing"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "-1\t/dev/kelvarin-missing\t\t\t\n");
    EXPECT_NE(r.err.find("Open(): CreateFile() failed, invalid handle value\r\n: (2) No such file"),
              std::string::npos)
        << r.err;
}

TEST(CliEndToEnd, StreamCalibratesWithTheStoredSettingsAndDropsGarbage) {
    TempHome home;
    std::string error;
    CMeterSimulator meter(SteadyMeter("KV9001"));
    ASSERT_TRUE(meter.Start(error)) << error;
    meter.SetFault(MeterFault::NonNumberLines);
    CChannelConfig stored;
    stored.m_fGain = 2.0f;
    stored.m_fOffset = 0.5f;
    stored.m_nWavelength = 532;
    ASSERT_TRUE(SaveChannelConfigFile("KV9001", stored, error)) << error;

    const ProcessResult r =
        RunProgram({kCli, "stream", meter.PortPath(), "--count", "12", "--stats"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 12u + 8u) << r.out;
    const std::vector<std::string> table(lines.begin() + 12, lines.end());
    lines.resize(12);
    const auto sent = meter.SentReadings();
    ASSERT_FALSE(sent.empty());
    float raw = 0;
    ASSERT_TRUE(ParseLeadingFloat(sent.front(), raw));
    const float product = 2.0f * raw;
    const float value = product + 0.5f;
    std::string number, prefix;
    FormatNumberAndPrefix(number, prefix, FindRange(value, 0), value);
    double lastTime = 0;
    for (const std::string& line : lines) {
        const auto fields = Fields(line);
        ASSERT_EQ(fields.size(), 3u) << line;
        EXPECT_EQ(fields[1], FormatG(value));
        EXPECT_EQ(fields[2], number + prefix + "W");
        const double t = std::stod(fields[0]);
        EXPECT_GE(t, lastTime);
        lastTime = t;
    }
    // Statistics of the twelve equal readings.
    std::string power;
    FormatValue(power, value, 1);
    ASSERT_EQ(table.size(), 8u);
    EXPECT_EQ(table[0], "Current Value:\t" + power + "W");
    EXPECT_EQ(table[1], "Maximum:\t" + power + "W");
    EXPECT_EQ(table[3], "Average:\t" + power + "W");
    EXPECT_EQ(table[5], "RMS Stability:\t0.0000 %");
    EXPECT_EQ(table[7].rfind("Time:\t", 0), 0u);
    EXPECT_EQ(table[7].substr(table[7].size() - 8), " seconds");

    EXPECT_TRUE(StopsStreaming(meter)) << "the tool stops the meter before it exits";
    EXPECT_EQ(meter.Wavelength(), 532);
    const auto commands = Commands(meter);
    ASSERT_GE(commands.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(commands.end() - 3, commands.end()),
              (std::vector<std::string>{"*PWC  532", "*CAU", "*CSU"}));
}

// The head's kept zero is taken off, and the third column shows the unit asked: dBm, and dB
// and % against the reference given or the head's own.
TEST(CliEndToEnd, StreamInDbmAndDbWithTheHeadsZeroAndReference) {
    TempHome home;
    std::string error;
    MeterProfile milliwatt = SteadyMeter("KV9004");
    milliwatt.nominalWatts = 1.5e-3;
    CMeterSimulator meter(milliwatt);
    ASSERT_TRUE(meter.Start(error)) << error;
    CDisplayAids aids;
    aids.m_fZero = 0.5e-3f;
    aids.m_reference = CDisplayAids::Reference::Value;
    aids.m_fReferenceWatts = 2e-3;
    ASSERT_TRUE(SaveDisplayAidsFile("KV9004", aids, error)) << error;

    const auto third = [&](std::vector<std::string> extra) {
        std::vector<std::string> command{kCli, "stream", meter.PortPath(), "--count", "3"};
        command.insert(command.end(), extra.begin(), extra.end());
        const ProcessResult r = RunProgram(command);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::string> shown;
        for (const std::string& line : Lines(r.out)) {
            const auto fields = Fields(line);
            EXPECT_EQ(fields.size(), 3u) << line;
            if (fields.size() == 3u) {
                EXPECT_EQ(fields[1], FormatG(1.5e-3f - 0.5e-3f)) << "zeroed watts";
                shown.push_back(fields[2]);
            }
        }
        return shown;
    };
    EXPECT_EQ(third({"--unit", "dBm"}), std::vector<std::string>(3, "0.00 dBm"));
    EXPECT_EQ(third({"--unit", "dB"}), std::vector<std::string>(3, "-3.01 dB"));
    EXPECT_EQ(third({"--unit", "%", "--reference", "1.25e-3"}),
              std::vector<std::string>(3, "80.00 %"));
    EXPECT_EQ(third({}), std::vector<std::string>(3, "1.000 mW"));

    for (const std::vector<std::string>& refused : {std::vector<std::string>{"--unit", "dbm"},
                                                    {"--unit", "mW"},
                                                    {"--reference", "0"},
                                                    {"--unit", "dB", "--reference", "-1e-3"}}) {
        std::vector<std::string> command{kCli, "stream", meter.PortPath()};
        command.insert(command.end(), refused.begin(), refused.end());
        const ProcessResult r = RunProgram(command);
        EXPECT_EQ(r.exitCode, 2) << refused.back();
        EXPECT_FALSE(r.err.empty());
    }
}

TEST(CliEndToEnd, StreamEndsCleanlyOnHangUpAndOnInterrupt) {
    TempHome home;
    std::string error;
    MeterProfile microwatts = SteadyMeter("KV9002");
    microwatts.nominalWatts = 2.5e-6;
    CMeterSimulator meter(microwatts);
    ASSERT_TRUE(meter.Start(error)) << error;
    {
        Subprocess stream({kCli, "stream", meter.PortPath()});
        ASSERT_TRUE(stream.WaitForOutput("\n", 10000));
        // The micro prefix reaches the terminal as UTF-8.
        EXPECT_TRUE(stream.WaitForOutput("\t2.500 \xC2\xB5W\n", 10000));
        meter.SetFault(MeterFault::HangUp);
        const ProcessResult r = stream.Finish(10000);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("the meter stopped answering"), std::string::npos) << r.err;
    }
    CMeterSimulator second(SteadyMeter("KV9003"));
    ASSERT_TRUE(second.Start(error)) << error;
    Subprocess stream({kCli, "stream", second.PortPath()});
    ASSERT_TRUE(stream.WaitForOutput("\n", 10000));
    stream.Signal(SIGINT);
    const ProcessResult r = stream.Finish(10000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(StopsStreaming(second));
    EXPECT_EQ(Commands(second).back(), "*CSU");
}

TEST(CliEndToEnd, ConfigShowSetAndTheirFailures) {
    TempHome home;
    EXPECT_EQ(RunProgram({kCli}).exitCode, 2);
    EXPECT_EQ(RunProgram({kCli, "stream"}).exitCode, 2);
    EXPECT_EQ(RunProgram({kCli, "stream", "x", "--count", "0"}).exitCode, 2);
    EXPECT_EQ(RunProgram({kCli, "config", "show", "KV1"}).exitCode, 1);

    ProcessResult r = RunProgram({kCli, "config", "set", "KV2401", "m_strTitle=Oscillator",
                                  "m_fGain=1.25", "m_nWavelength=10600", "m_bAnticipation=0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunProgram({kCli, "config", "show", "KV2401"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "m_strTitle=Oscillator\nm_nPosition=-1\nm_fGain=1.25\nm_fOffset=0\n"
                     "m_fLevelHigh=0\nm_fLevelLow=0\nm_nWavelength=10600\nm_bAnticipation=0\n"
                     "zero=0\nunit=W\nreference=none\n");

    // The zero, unit and reference go to their own file; the record stays as it was.
    const std::string record = ReadFile(ConfigFilePath("KV2401"));
    r = RunProgram({kCli, "config", "set", "KV2401", "zero=2.5e-6", "unit=dB", "reference=0.001"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Saved " + DisplayAidsFilePath("KV2401") + "\n");
    EXPECT_EQ(ReadFile(ConfigFilePath("KV2401")), record);
    r = RunProgram({kCli, "config", "show", "KV2401"});
    EXPECT_NE(r.out.find("\nzero=2.5e-06\nunit=dB\nreference=0.001\n"), std::string::npos) << r.out;
    for (const char* refused : {"unit=dbm", "unit=mW", "reference=0", "reference=-1e-3"}) {
        r = RunProgram({kCli, "config", "set", "KV2401", "zero=0", refused});
        EXPECT_EQ(r.exitCode, 2) << refused;
        EXPECT_FALSE(r.err.empty()) << refused;
    }
    EXPECT_NE(RunProgram({kCli, "config", "show", "KV2401"}).out.find("\nzero=2.5e-06\n"),
              std::string::npos)
        << "a refused set changes nothing";
    r = RunProgram({kCli, "config", "set", "KV2401", "zero=0", "reference=position 2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(RunProgram({kCli, "config", "show", "KV2401"})
                  .out.find("\nzero=0\nunit=dB\n"
                            "reference=position 2\n"),
              std::string::npos)
        << "zero=0 clears";

    r = RunProgram({kCli, "config", "set", "KV2401", "m_fGain=1,5"});
    EXPECT_EQ(r.exitCode, 1);
    r = RunProgram({kCli, "config", "set", "KV2401", "m_strTitle=two words"});
    EXPECT_EQ(r.exitCode, 1);
    r = RunProgram({kCli, "config", "set", "KV2401", "m_fColour=1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("unknown field"), std::string::npos);
    EXPECT_NE(RunProgram({kCli, "config", "show", "KV2401"}).out.find("m_fGain=1.25"),
              std::string::npos)
        << "a refused change leaves the file as it was";

    // A damaged file is reported with its path and is not overwritten.
    const std::string path = ConfigFilePath("KV2401");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "\x05"
                                                               "ab";
    r = RunProgram({kCli, "config", "show", "KV2401"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
    EXPECT_EQ(RunProgram({kCli, "config", "set", "KV2401", "m_fGain=2"}).exitCode, 1);
}

} // namespace

namespace {

// The data lines of an acquisition file without their timestamps, each timestamp checked.
std::vector<std::string> DataWithoutTimes(const std::string& text, size_t headerSize) {
    std::vector<std::string> rest;
    for (size_t at = headerSize; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            rest.push_back("<no line end>" + text.substr(at));
            break;
        }
        std::time_t t = 0;
        EXPECT_TRUE(ParseAcquisitionTimestamp(text.substr(at, 19), t)) << text.substr(at, 19);
        rest.push_back(text.substr(at + 19, end - at - 19));
        at = end + 2;
    }
    return rest;
}

} // namespace

// The file of the window, from a terminal: meters in the order of their stored positions, the
// stored title or "Position_%i", the empty line of a start by hand, D / P + 1 whole lines.
TEST(CliRecord, RecordsTheWindowsFileFromEveryMeterThatAnswers) {
    TempHome home;
    CChannelConfig seed;
    seed.m_strTitle = "Seed";
    seed.m_nPosition = 1;
    seed.m_nWavelength = 532;
    std::string error;
    ASSERT_TRUE(SaveChannelConfigFile("KV7001", seed, error)) << error;
    CMeterSimulator first(SteadyMeter("KV7001"));
    MeterProfile weak = SteadyMeter("KV7002");
    weak.nominalWatts = 2.5e-6;
    CMeterSimulator second(weak);
    ASSERT_TRUE(first.Start(error) && second.Start(error)) << error;

    // The meter without a stored position is listed first, and still comes second.
    const ProcessResult r = RunProgram({kCli, "record", "--prefix", home.Path() + "/run",
                                        "--duration", "2", second.PortPath(), first.PortPath()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> out = Lines(r.out);
    ASSERT_EQ(out.size(), 2u) << r.out;
    const std::string file = out[0];
    EXPECT_EQ(out[1], "Acquistion completed : " + file);
    EXPECT_EQ(file.rfind(home.Path() + "/run", 0), 0u);
    EXPECT_EQ(file.size(), home.Path().size() + 4 + 15 + 4); // "/run" + date + ".txt"

    const std::string text = ReadFile(file);
    const std::string header = "2\r\n\tSeed\tPosition_2\t\r\n" + std::string(82, '-') + "\r\n\r\n";
    ASSERT_EQ(text.substr(0, header.size()), header);
    // The first head reads at the 532 nm stored for it, the second at the default 1064 nm.
    const std::string at532 =
        FormatAcquisitionReading(std::stof(FormatReading(ModelPower(first.Profile(), 0, 532))));
    EXPECT_EQ(DataWithoutTimes(text, header.size()),
              std::vector<std::string>(3, "\t" + at532 + "\t2.5e-06\t"));
    EXPECT_EQ(first.Wavelength(), 532);
    EXPECT_TRUE(StopsStreaming(first) && StopsStreaming(second));
    EXPECT_EQ(Commands(first).back(), "*CSU");
    EXPECT_EQ(Commands(second).back(), "*CSU");
}

TEST(CliRecord, InterruptEndsLikeStopAndBadPrefixesAreNamed) {
    TempHome home;
    std::string error;
    CMeterSimulator meter(SteadyMeter("KV7003"));
    ASSERT_TRUE(meter.Start(error)) << error;
    {
        Subprocess record({kCli, "record", "--prefix", home.Path() + "/long", "--duration", "600",
                           meter.PortPath()});
        ASSERT_TRUE(record.WaitForOutput(".txt\n", 20000));
        const std::string file = Lines(record.Output())[0];
        ASSERT_TRUE(WaitUntil([&] { return ReadAcquisitionText(ReadFile(file)).m_nLines >= 2; }));
        record.Signal(SIGINT);
        const ProcessResult r = record.Finish(20000);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out.find("Acquistion completed"), std::string::npos);
        const std::string text = ReadFile(file);
        EXPECT_EQ(text.substr(text.size() - 3), "\t\r\n");
        const std::string header = "1\r\n\tPosition_1\t\r\n" + std::string(82, '-') + "\r\n\r\n";
        const auto data = DataWithoutTimes(text, header.size());
        EXPECT_GE(data.size(), 2u);
        EXPECT_EQ(data, std::vector<std::string>(data.size(), "\t0.0015\t"));
        EXPECT_TRUE(StopsStreaming(meter));
        EXPECT_EQ(Commands(meter).back(), "*CSU");
    }
    const ProcessResult r =
        RunProgram({kCli, "record", "--prefix", home.Path() + "/no/such/run", meter.PortPath()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Unable to create the acquisition file " + home.Path() + "/no/such/run"),
              std::string::npos)
        << r.err << "the meter received:" << TimedReceivedText(meter);
    EXPECT_NE(r.err.find(".txt: No such file or directory"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

// Single-byte text as the tool prints it (the micro sign as UTF-8).
std::string Utf8(const std::string& latin1) {
    std::string out;
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// What record wrote, analyze reads: one line per channel, the panel's figures over the range.
TEST(CliAnalyze, FiguresOfWhatRecordWroteAndOfBrokenFiles) {
    TempHome home;
    std::string error;
    MeterProfile noisy = SteadyMeter("KV7101");
    noisy.noise = 0.01;
    CMeterSimulator first(noisy), second(SteadyMeter("KV7102"));
    ASSERT_TRUE(first.Start(error) && second.Start(error)) << error;
    const ProcessResult recorded =
        RunProgram({kCli, "record", "--prefix", home.Path() + "/an", "--duration", "3",
                    first.PortPath(), second.PortPath()});
    ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
    const std::string file = Lines(recorded.out)[0];

    // Every value in the file is a reading the meter sent.
    const CAcquisitionData data = ReadAcquisitionText(ReadFile(file));
    std::vector<float> sent;
    for (const std::string& text : first.SentReadings())
        sent.push_back(std::stof(text));
    CStatistics expected;
    expected.Reset();
    expected.m_bEnabled = true;
    for (const CGraphData& point : data.m_series[0]) {
        EXPECT_NE(std::find(sent.begin(), sent.end(), point.fValue), sent.end()) << point.fValue;
        expected.AddSample(point.fValue);
    }

    ProcessResult r = RunProgram({kCli, "analyze", file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> out = Lines(r.out);
    ASSERT_EQ(out.size(), 3u) << r.out;
    EXPECT_EQ(out[0], "channel\tname\tsamples\tfrom\tto\tAverage\tMaximum\tMinimum\tRMS "
                      "Stability\tPTP Stability\tStd Dev");
    std::vector<std::string> row = Fields(out[1]);
    ASSERT_EQ(row.size(), 11u);
    EXPECT_EQ(row[0], "1");
    EXPECT_EQ(row[1], "Position_1");
    EXPECT_EQ(row[2], "4");
    EXPECT_EQ(row[3], "0");
    EXPECT_EQ(row[4], FormatG(data.m_series[0].back().fTime));
    const auto panel = StatisticsPanelLines(expected, "W");
    for (size_t k = 0; k < 6; ++k)
        EXPECT_EQ(row[5 + k], Utf8(panel[k].second)) << k;
    row = Fields(out[2]);
    EXPECT_EQ(row[5], "1.50 mW");
    EXPECT_EQ(row[8], "0.0000 %");

    // A range: only the samples inside it, bounds included.
    r = RunProgram({kCli, "analyze", file, "--from", "1", "--to", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    out = Lines(r.out);
    EXPECT_EQ(Fields(out[1])[2], "1");
    EXPECT_EQ(Fields(out[1])[3], "1");

    // A broken file: its messages on the error stream, what was read on the output, exit 1.
    std::ofstream(home.Path() + "/broken.txt", std::ios::binary)
        << "1\r\n\tA\t\r\n"
        << std::string(82, '-') << "\r\n\r\n"
        << "04/03/2011-12:30:00\t0.5\t\r\n04/03/2011-12:30:01\tlow\t\r\n";
    r = RunProgram({kCli, "analyze", home.Path() + "/broken.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Bad Value Format\nlow\n");
    EXPECT_EQ(Lines(r.out).size(), 2u);
    r = RunProgram({kCli, "analyze", home.Path() + "/none.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Unable to open " + home.Path() + "/none.txt: No such file or directory\n");
}

// A meter unplugged during a recording through its stable path: its column holds its last
// reading while it is out, then records live readings again; every line keeps both columns.
// A line only ever holds a reading the meter sent, the latest one record had at its tick: on a
// machine that wakes record late, a line may repeat the one before, so the held run is the
// longest one, across the time out.
TEST(CliRecord, AnUnpluggedMeterHoldsItsColumnThenRecordsAgain) {
    TempHome home;
    // A laser that fades steadily through the whole run, so that live readings never rise and
    // two taken a second apart differ.
    MeterProfile noisy = SteadyMeter("KV7011");
    noisy.sagAfterSeconds = 0;
    noisy.sagDepth = 0.9;
    noisy.sagMinutes = 0.5;
    CMeterSimulator steady(SteadyMeter("KV7010"));
    CMeterSimulator unplugged(noisy);
    unplugged.SetLinkPath(home.Path() + "/" + LinkName(noisy));
    std::string error;
    ASSERT_TRUE(steady.Start(error) && unplugged.Start(error)) << error;

    Subprocess record({kCli, "record", "--prefix", home.Path() + "/run", "--duration", "10",
                       steady.PortPath(), unplugged.StablePath()});
    ASSERT_TRUE(record.WaitForOutput(".txt\n", 15000)) << record.Finish(5000).err;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    unplugged.Replug(1500);
    const ProcessResult r = record.Finish(30000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string port = unplugged.StablePath();
    const auto count = [&](const std::string& text) {
        size_t n = 0;
        for (size_t at = r.err.find(text); at != std::string::npos; at = r.err.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count(port + ": the meter stopped answering: "), 1u) << r.err;
    EXPECT_EQ(count(port + ": the meter answers again\n"), 1u) << r.err;
    EXPECT_EQ(unplugged.ReplugCount(), 1);

    const std::string text = ReadFile(Lines(r.out)[0]);
    SCOPED_TRACE("record said:\n" + r.err + "and wrote:\n" + text);
    const CAcquisitionData data = ReadAcquisitionText(text);
    EXPECT_EQ(data.m_messages, std::vector<std::string>{});
    ASSERT_EQ(data.m_nLines, 11);
    ASSERT_EQ(data.m_nChannels, 2);
    ASSERT_EQ(data.m_series[0].size(), 11u);
    ASSERT_EQ(data.m_series[1].size(), 11u);
    std::vector<float> sent;
    for (const std::string& reading : unplugged.SentReadings())
        sent.push_back(std::stof(reading));
    const std::vector<CGraphData>& values = data.m_series[1];
    size_t heldFrom = 0, heldTo = 0; // the longest run of one value
    for (size_t i = 0, from = 0; i < values.size(); ++i) {
        EXPECT_NE(std::find(sent.begin(), sent.end(), values[i].fValue), sent.end()) << i;
        if (i > 0) {
            EXPECT_LE(values[i].fValue, values[i - 1].fValue) << "line " << i;
            if (values[i].fValue != values[i - 1].fValue)
                from = i;
        }
        if (i - from > heldTo - heldFrom) {
            heldFrom = from;
            heldTo = i;
        }
    }
    EXPECT_GT(heldFrom, 0u) << "a live reading before the time out";
    EXPECT_GE(heldTo - heldFrom, 2u) << "held over three lines at least";
    EXPECT_LT(heldTo + 2, values.size()) << "live readings after the re-plug";
    EXPECT_LT(values.back().fValue, values[heldTo].fValue);
}

namespace {

// A window by time whose only meter is lost before it starts and until after it has ended:
// nothing is recorded, and record says so and exits 1 (it used to record one line once the
// meter came back, and call it completed).
TEST(CliRecord, AWindowThatEndsWithItsMeterLostIsNotRecorded) {
    TempHome home;
    MeterProfile profile = SteadyMeter("KV7020");
    CMeterSimulator meter(profile);
    meter.SetLinkPath(home.Path() + "/" + LinkName(profile));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    const std::time_t start = std::time(nullptr) + 8; // binding takes well under a second
    Subprocess record({kCli, "record", "--prefix", home.Path() + "/unseen", "--start",
                       LocalDateTimeText(start), "--end", LocalDateTimeText(start + 1),
                       meter.StablePath()});
    ASSERT_TRUE(WaitUntil([&] { return meter.IsStreaming(); }, std::chrono::milliseconds(15000)))
        << record.Errors() << "\nthe meter received:" << TimedReceivedText(meter);
    meter.Replug(15000);
    const ProcessResult r = record.Finish(40000);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("No detector was connected during the acquisition window from " +
                         LocalDateTimeText(start) + " to " + LocalDateTimeText(start + 1) +
                         ": nothing was recorded\n"),
              std::string::npos)
        << r.err;
    for (const auto& entry : std::filesystem::directory_iterator(home.Path()))
        EXPECT_EQ(entry.path().filename().string().rfind("unseen", 0), std::string::npos);
}

} // namespace
