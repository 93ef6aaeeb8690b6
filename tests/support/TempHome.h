#pragma once
// Points KELVARIN_HOME and XDG_CONFIG_HOME at a fresh temporary folder for the life of a test, so
// no test touches the real home folder or settings; removes the folder afterwards.

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

class TempHome {
public:
    TempHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvarin-test-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        m_path = made ? made : "";
        setenv("KELVARIN_HOME", m_path.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_path + "/config").c_str(), 1);
    }
    ~TempHome() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
        unsetenv("KELVARIN_HOME");
        unsetenv("XDG_CONFIG_HOME");
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};
