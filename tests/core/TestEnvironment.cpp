// Every core test, and every zephyrix-cli the tests start, runs with its own
// home, settings and menu folders inside the build tree, never the user's.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

const bool kEnvironmentSet = [] {
    const std::string home = ZX_TEST_HOME;
    const auto set = [](const char* name, const std::string& value) {
        std::filesystem::create_directories(value);
        ::setenv(name, value.c_str(), 1);
    };
    set("HOME", home);
    set("XDG_CONFIG_HOME", home + "/config");
    set("XDG_CONFIG_DIRS", home + "/system");
    set("XDG_DATA_HOME", home + "/data");
    return true;
}();

} // namespace
