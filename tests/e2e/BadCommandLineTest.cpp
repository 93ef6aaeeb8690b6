// Catalogue of bad kelvarin-cli command lines: the exit code (2 usage, 1 failure) and the key
// phrase of the message on the error stream. Nothing is saved by any of them. The rows:
//   no arguments, unknown command, extra argument        2, the usage text
//   stream without a port, two ports, unknown option     2, the usage text
//   --count without a value                              2, the usage text
//   --count 0, -1, abc, beyond an int                    2, "--count takes a positive integer"
//   --timeout 0, abc, 1e999                              2, "--timeout takes a positive number"
//   stream on a file that is not a serial port           1, "cannot open the port"
//   probe -x, probe with an empty port                   2, the usage text
//   config show without a serial number, or with extra   2, the usage text
//   config show with a path as serial number             1, nothing stored (the file name is safe)
//   config set without assignments                       2, the usage text
//   an assignment without '='                            2, "Expected name=value", nothing saved
//   empty or unknown field name                          1, "unknown field" and the field list
//   title with a tab, or not single-byte text            1, which rule it breaks
//   position 8 or -2                                     1, "from -1 to 7"
//   wavelength 0 or abc                                  1, "from 1 to 999999"
//   gain 1,5 or nan or 1e999                             1, "not a finite number"
//   anticipation yes                                     1, "must be 0, 1, false or true"
//   record without --prefix, or --prefix without a value 2, the usage text
//   record --start without --end, or with --duration     2, the usage text
//   record --period 0, --duration abc                    2, "takes a positive whole number"
//   record --start tomorrow, or 30 February              1, "Not a date and time"
//   record on a file that is not a serial port           1, "No meter answered", no file
//   analyze without a file, --from abc, --from after --to 2, the usage text or the rule

#include "support/Subprocess.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

struct Row {
    std::vector<std::string> args;
    int exitCode;
    std::string phrase;
};

TEST(BadCommandLine, EachBadCommandLineExitsWithItsCodeAndMessage) {
    TempHome home;
    const std::string notPort = home.Path() + "/not-a-port";
    std::ofstream(notPort) << "1.0\r\n";
    const std::string prefix = home.Path() + "/run", newYear = "2027-01-01 00:00:00";
    const std::string usage = "Usage:", count = "--count takes a positive integer, not \"";
    const std::string timeout = "--timeout takes a positive number", notFinite = "not a finite";
    const Row rows[] = {
        {{}, 2, usage},
        {{"frobnicate"}, 2, usage},
        {{"ports", "extra"}, 2, usage},
        {{"stream"}, 2, usage},
        {{"stream", "--count", "5"}, 2, usage},
        {{"stream", "x", "y"}, 2, usage},
        {{"stream", "x", "--verbose"}, 2, usage},
        {{"stream", "x", "--count"}, 2, usage},
        {{"stream", "x", "--count", "0"}, 2, count + "0\""},
        {{"stream", "x", "--count", "-1"}, 2, count + "-1\""},
        {{"stream", "x", "--count", "abc"}, 2, count + "abc\""},
        {{"stream", "x", "--count", "99999999999"}, 2, count + "99999999999\""},
        {{"stream", "x", "--timeout", "0"}, 2, timeout},
        {{"stream", "x", "--timeout", "abc"}, 2, timeout},
        {{"stream", "x", "--timeout", "1e999"}, 2, timeout},
        {{"stream", notPort, "--count", "1"}, 1, notPort + ": cannot open the port"},
        {{"probe", "-x"}, 2, usage},
        {{"probe", ""}, 2, usage},
        {{"config", "show"}, 2, usage},
        {{"config", "show", ""}, 2, usage},
        {{"config", "show", "KV1", "m_fGain=2"}, 2, usage},
        {{"config", "show", "../../x"}, 1, "No configuration stored for serial number ../../x"},
        {{"config", "set", "KV1"}, 2, usage},
        {{"config", "set", "KV1", "m_fGain=2", "m_fGain"}, 2, "Expected name=value, got"},
        {{"config", "set", "KV1", "=1"}, 1, ": unknown field\nFields: m_strTitle"},
        {{"config", "set", "KV1", "m_strTitle=a\tb"}, 1, "must not contain blanks or control"},
        {{"config", "set", "KV1", "m_strTitle=\xCE\xB1"}, 1, "the title must be single-byte"},
        {{"config", "set", "KV1", "m_strTitle=\xC3"}, 1, "the title must be single-byte"},
        {{"config", "set", "KV1", "m_nPosition=8"}, 1, "an integer from -1 to 7"},
        {{"config", "set", "KV1", "m_nPosition=-2"}, 1, "an integer from -1 to 7"},
        {{"config", "set", "KV1", "m_nWavelength=0"}, 1, "an integer from 1 to 999999"},
        {{"config", "set", "KV1", "m_nWavelength=abc"}, 1, "an integer from 1 to 999999"},
        {{"config", "set", "KV1", "m_fGain=1,5"}, 1, notFinite},
        {{"config", "set", "KV1", "m_fOffset=nan"}, 1, notFinite},
        {{"config", "set", "KV1", "m_fLevelHigh=1e999"}, 1, notFinite},
        {{"config", "set", "KV1", "m_bAnticipation=yes"}, 1, "must be 0, 1, false or true"},
        {{"record", notPort}, 2, usage},
        {{"record", "--prefix"}, 2, usage},
        {{"record", "--prefix", prefix, "--start", newYear}, 2, usage},
        {{"record", "--prefix", prefix, "--duration", "5", "--start", newYear, "--end", newYear},
         2,
         usage},
        {{"record", "--prefix", prefix, "--period", "0"}, 2, "--period takes a positive whole"},
        {{"record", "--prefix", prefix, "--duration", "abc"}, 2, "--duration takes a positive"},
        {{"record", "--prefix", prefix, "--start", "tomorrow", "--end", newYear},
         1,
         "Not a date and time (YYYY-MM-DD HH:MM:SS): \"tomorrow\""},
        {{"record", "--prefix", prefix, "--start", newYear, "--end", "2027-02-30 00:00:00"},
         1,
         "Not a date and time"},
        {{"record", "--prefix", prefix, notPort}, 1, "No meter answered on the 1 port probed"},
        {{"analyze"}, 2, usage},
        {{"analyze", notPort, "--from", "abc"}, 2, "--from takes a number of seconds"},
        {{"analyze", notPort, "--from", "5", "--to", "1"}, 2, "--from must not come after --to"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> command = {KELVARIN_CLI_PATH};
        command.insert(command.end(), row.args.begin(), row.args.end());
        const ProcessResult r = RunProgram(command);
        const std::string what = testing::PrintToString(row.args);
        EXPECT_EQ(r.exitCode, row.exitCode) << what << r.err;
        EXPECT_NE(r.err.find(row.phrase), std::string::npos) << what << r.err;
        EXPECT_EQ(r.out, "") << what;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.Path()), {}), 1)
        << "nothing was saved";
}

} // namespace

// --help and --version by the usual conventions: standard output, exit 0, the project's version.
TEST(GoodCommandLine, HelpAndVersionGoToStandardOutput) {
    for (const std::string& program :
         {std::string(KELVARIN_CLI_PATH), std::string(KELVARIN_SIM_PATH)}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        for (const char* help : {"--help", "-h"}) {
            const ProcessResult r = RunProgram({program, help});
            EXPECT_EQ(r.exitCode, 0) << name << " " << help;
            EXPECT_EQ(r.out.rfind("Usage: " + name + " ", 0), 0u) << r.out;
            EXPECT_NE(r.out.find("--version"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("Exit status:"), std::string::npos) << r.out;
            EXPECT_EQ(r.err, "");
        }
        const ProcessResult r = RunProgram({program, "--version"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, name + " " KELVARIN_VERSION "\n");
        EXPECT_EQ(r.err, "");
    }
}
