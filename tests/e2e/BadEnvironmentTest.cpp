// Catalogue of bad values of the environment variables kelvarin-cli and the core read, and what
// comes of each (exit code, output, key phrase of the error). XDG_CONFIG_HOME is read only by the
// GUI's profile store, through Qt, so it has no row here. The rows:
//   KELVARIN_HOME unset or empty         $HOME is the data root (and "/" when HOME is unset too)
//   KELVARIN_HOME a file                 saving fails, "cannot create folder"; nothing is stored
//   KELVARIN_HOME a missing folder       saving creates it with its parents
//   KELVARIN_HOME with blanks            works like any other path
//   KELVARIN_PORTS empty or only ':'     no port
//   KELVARIN_PORTS with repeats          each device once, also a name and its /dev path
//   KELVARIN_PORTS with 30 entries       the first 20
//   KELVARIN_PORTS with a relative name  taken under /dev ("zero" is /dev/zero, not a port)
//   KELVARIN_PORTS a missing device      listed; the probe notes it cannot be opened and succeeds
// Every row sets HOME to a temporary folder and KELVARIN_PORTS_ONLY=1, which leaves out the
// system's ports.

#include "settings/DataRoot.h"
#include "support/Subprocess.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>

namespace {

// Sets (or with nullopt unsets) environment variables until it goes out of scope.
class ScopedEnv {
public:
    void Set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        Apply(name, value);
    }
    ~ScopedEnv() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            Apply(it->first, it->second);
    }

private:
    static void Apply(const std::string& name, const std::optional<std::string>& value) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

struct Row {
    const char* name;
    std::optional<std::string> value; // '@' stands for the temporary folder here and below
    std::vector<std::string> args;
    int exitCode;
    std::string out; // exact
    std::string errPhrase;
};

TEST(BadEnvironment, EachBadValueHasTheListedEffect) {
    TempHome home;
    const std::string at = home.Path();
    std::ofstream(at + "/file") << "x";
    std::string ports30, ports20;
    for (int i = 0; i < 30; ++i) {
        ports30 += "/dev/pts/" + std::to_string(200 + i) + ":";
        ports20 += i < 20 ? "/dev/pts/" + std::to_string(200 + i) + "\n" : "";
    }
    const std::vector<std::string> set = {"config", "set", "KV1", "m_fGain=2"},
                                   show = {"config", "show", "KV1"}, ports = {"ports"},
                                   probe = {"probe"};
    const std::string repeats = "ttyKV0:/dev/ttyKV0:/dev/pts/91:ttyKV0:/dev/pts/91",
                      missing = "/dev/kelvarin-missing", home1 = "Saved @/home/Kelvarin/KV1.dat\n";
    const char *kh = "KELVARIN_HOME", *kp = "KELVARIN_PORTS";
    const Row rows[] = {
        {kh, std::nullopt, set, 0, home1, ""},
        {kh, "", set, 0, home1, ""},
        {kh, "@/file", set, 1, "", "cannot create folder @/file/Kelvarin"},
        {kh, "@/file", show, 1, "", "No configuration stored"},
        {kh, "@/new/deeper", set, 0, "Saved @/new/deeper/Kelvarin/KV1.dat\n", ""},
        {kh, "@/with blanks", set, 0, "Saved @/with blanks/Kelvarin/KV1.dat\n", ""},
        {kp, "", ports, 0, "", ""},
        {kp, ":::", ports, 0, "", ""},
        {kp, repeats, ports, 0, "ttyKV0\n/dev/pts/91\n", ""},
        {kp, ports30, ports, 0, ports20, ""},
        {kp, "zero", probe, 0, "-1\tzero\t\t\t\n", "GetCommState() failed"},
        {kp, missing, probe, 0, "-1\t" + missing + "\t\t\t\n", missing + ": cannot open the port"},
    };
    const auto expand = [&](std::string text) {
        for (size_t p = text.find('@'); p != std::string::npos; p = text.find('@', p + at.size()))
            text.replace(p, 1, at);
        return text;
    };
    ScopedEnv fixed;
    fixed.Set("KELVARIN_PORTS_ONLY", "1");
    fixed.Set("HOME", at + "/home");
    for (const Row& row : rows) {
        ScopedEnv env;
        env.Set(row.name, row.value ? std::optional<std::string>(expand(*row.value)) : row.value);
        std::vector<std::string> command = {KELVARIN_CLI_PATH};
        command.insert(command.end(), row.args.begin(), row.args.end());
        const ProcessResult r = RunProgram(command);
        const std::string what = row.name + ("=" + row.value.value_or("(unset)"));
        EXPECT_EQ(r.exitCode, row.exitCode) << what << r.err;
        EXPECT_EQ(r.out, expand(row.out)) << what;
        EXPECT_NE(r.err.find(expand(row.errPhrase)), std::string::npos) << what << r.err;
    }

    ScopedEnv env;
    env.Set("KELVARIN_HOME", "");
    env.Set("HOME", std::nullopt);
    EXPECT_EQ(DataRoot(), "/");
}

} // namespace
