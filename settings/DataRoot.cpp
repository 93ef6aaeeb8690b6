#include "settings/DataRoot.h"

#include <cstdlib>

namespace {

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

std::string DataRoot() {
    // KELVARIN_HOME lets a lab (and the tests) keep the files away from the user's home.
    std::string root = EnvOrEmpty("KELVARIN_HOME");
    if (root.empty())
        root = EnvOrEmpty("HOME");
    if (root.empty()) {
#ifdef _WIN32
        root = "c:\\";
#else
        root = "/";
#endif
    }
    return root;
}
