#pragma once
// Switches the process to a German locale, whose decimal separator is a comma, as a user's Qt
// application may run. The locale is built into a folder of this process's own, so tests in
// parallel never share it. Returns false (with the reason) where no locale can be built.

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

class CommaLocale {
public:
    bool Use(std::string& why) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvarin-locale-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            why = "no temporary folder";
            return false;
        }
        m_dir = pattern;
        const std::string command =
            "localedef -i de_DE -f UTF-8 " + m_dir + "/de_DE.UTF-8 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            why = "cannot build a German locale here (localedef and locale sources)";
            return false;
        }
        setenv("LOCPATH", m_dir.c_str(), 1);
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
            why = "the German locale does not load";
            return false;
        }
        char printed[32];
        std::snprintf(printed, sizeof printed, "%g", 0.5);
        if (std::string(printed) != "0,5") {
            why = "the locale did not take effect";
            return false;
        }
        return true;
    }
    ~CommaLocale() {
        std::setlocale(LC_ALL, "C");
        unsetenv("LOCPATH");
        std::error_code ec;
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir, ec);
    }

private:
    std::string m_dir;
};
