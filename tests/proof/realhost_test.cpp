// A third-party host looks at the built plug-ins: Ardour's VST 2.4 scanner
// (Debian package "ardour") loads each library in its own process, asks it
// for its identity and writes what it saw into an XML cache file. The test
// reads that file, not the scanner's exit code: the scanner answers 0 also
// when it could not load a plug-in, and then writes no file.
//
// Skipped when the scanner is not installed, unless TAPESTOP_REQUIRE_REAL_HOST
// is set (CI sets it, after installing the package). TAPESTOP_PLUGIN_DIR
// points it at another folder of plug-ins than the build tree, such as an
// installed lib/vst. The scanner runs without LXVST_PATH and VST_PATH, so
// nothing but its own defaults and the library given take part. Skipped in sanitizer
// builds, whose libraries load only into sanitized processes.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr char kScannerDir[] = "/usr/lib/ardour7";
constexpr char kScanner[] = "/usr/lib/ardour7/ardour-vst-scanner";
constexpr char kScanTimeoutSeconds[] = "120";

// What the host must have seen of one plug-in library in the build tree.
// Unset fields are not checked (an example's values are added as it settles).
struct ExpectedPlugin {
    const char* file;           // in the top of the build tree, or in TAPESTOP_PLUGIN_DIR
    bool required;              // fail when the library is missing, else skip
    std::optional<long> id;     // uniqueID, as the scanner writes it (decimal)
    std::optional<std::string> name;
    std::optional<std::string> creator;
    std::optional<int> inputs;
    std::optional<int> outputs;
    std::optional<bool> instrument;
    std::optional<bool> canProcessReplacing;
    std::optional<bool> hasEditor;
    std::optional<std::string> category;
    std::optional<int> midiInputs;
};

const ExpectedPlugin kExpectedPlugins[] = {
    {"tapestop.so", true, 1953198458 /* 'tkqz' */, "Tarvo TapeStop", "Tarvo Pellwick", 2, 2, false, true, false, {}, {}},
    // The example effect of examples/StereoGain.
    {"stereogain.so", false, 1416054638 /* 'TgGn' */, "Stereo Gain", "Tarvo Examples", 2, 2, false, true, false, {}, {}},
    // The example effect of examples/TempoTremolo.
    {"tempotremolo.so", false, 1416057970 /* 'TgTr' */, "Tempo Tremolo", "Tarvo Examples", 2, 2, false, true, false,
     {}, {}},
    // The example effect of examples/NoteGate.
    {"notegate.so", false, 1416056423 /* 'TgNg' */, "Note Gate", "Tarvo Examples", 2, 2, false, true, false, {}, {}},
    // TapeMotor takes MIDI notes, so the host gives it a MIDI input; it has a window of its own.
    {"tapemotor.so", true, 1416908143 /* 'TtMo' */, "Tarvo TapeMotor", "Tarvo Pellwick", 2, 2, false, true, true,
     "Effect", 1},
};

bool scannerRequired() { return std::getenv("TAPESTOP_REQUIRE_REAL_HOST") != nullptr; }

fs::path pluginDir() {
    const char* dir = std::getenv("TAPESTOP_PLUGIN_DIR");
    return dir != nullptr ? fs::path(dir) : fs::path(TAPESTOP_BUILD_DIR);
}

// A private, empty home and cache, so no earlier scan takes part.
class ScratchHome {
public:
    ScratchHome() {
        std::string pattern = (fs::temp_directory_path() / "tapestop-realhost-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        fs::create_directories(dir_ / "home");
        fs::create_directories(dir_ / "cache");
    }
    ~ScratchHome() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    const fs::path& dir() const { return dir_; }

private:
    fs::path dir_;
};

// Runs the scanner on one library; answers its exit status.
int runScanner(const fs::path& library, const ScratchHome& scratch) {
    std::vector<std::string> env = {"HOME=" + (scratch.dir() / "home").string(),
                                    "XDG_CACHE_HOME=" + (scratch.dir() / "cache").string(),
                                    std::string("LD_LIBRARY_PATH=") + kScannerDir};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable(*entry);
        bool replaced = false;
        for (const char* name : {"HOME=", "XDG_CACHE_HOME=", "LD_LIBRARY_PATH=", "LD_PRELOAD=", "LXVST_PATH=", "VST_PATH="})
            replaced = replaced || variable.rfind(name, 0) == 0;
        if (!replaced) env.push_back(variable);
    }
    std::vector<std::string> args = {"timeout", kScanTimeoutSeconds, kScanner, "-f", library.string()};
    std::vector<char*> argv, envp;
    for (std::string& arg : args) argv.push_back(arg.data());
    for (std::string& variable : env) envp.push_back(variable.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "timeout", nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<fs::path> cacheFiles(const fs::path& root) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && entry.path().extension() == ".v2i") found.push_back(entry.path());
    return found;
}

// The attributes of every VST2Info element of a cache file.
std::vector<std::map<std::string, std::string>> pluginEntries(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    const std::string xml = text.str();
    const std::regex element(R"(<VST2Info\s([^>]*)/?>)");
    const std::regex attribute(R"re(([A-Za-z_]+)="([^"]*)")re");
    std::vector<std::map<std::string, std::string>> entries;
    for (std::sregex_iterator it(xml.begin(), xml.end(), element), end; it != end; ++it) {
        const std::string attributes = (*it)[1];
        std::map<std::string, std::string> fields;
        for (std::sregex_iterator a(attributes.begin(), attributes.end(), attribute); a != end; ++a)
            fields[(*a)[1]] = (*a)[2];
        entries.push_back(fields);
    }
    return entries;
}

std::string flag(bool on) { return on ? "1" : "0"; }

class RealHost : public testing::TestWithParam<ExpectedPlugin> {};

void PrintTo(const ExpectedPlugin& plugin, std::ostream* out) { *out << plugin.file; }

TEST_P(RealHost, ArdourScannerSeesTheDeclaredIdentity) {
    const ExpectedPlugin& expected = GetParam();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitized library loads only into a sanitized process, which the scanner is not";
#endif
    if (!fs::exists(kScanner)) {
        if (scannerRequired()) FAIL() << kScanner << " is missing: install the Debian package 'ardour'";
        GTEST_SKIP() << kScanner << " is not installed (Debian package 'ardour')";
    }
    const fs::path library = pluginDir() / expected.file;
    if (!fs::exists(library)) {
        if (expected.required) FAIL() << library << " was not built";
        GTEST_SKIP() << library << " is not built";
    }

    const ScratchHome scratch;
    runScanner(fs::absolute(library), scratch);  // its status says nothing; the cache file does
    const std::vector<fs::path> files = cacheFiles(scratch.dir());
    ASSERT_EQ(files.size(), 1u) << "the scanner wrote no cache file for " << library << ": it could not load it";
    const auto entries = pluginEntries(files.front());
    ASSERT_EQ(entries.size(), 1u) << "one plug-in per library";
    const auto& seen = entries.front();

    EXPECT_FALSE(seen.at("name").empty());
    std::map<std::string, std::string> wanted;
    if (expected.id) wanted["id"] = std::to_string(*expected.id);
    if (expected.name) wanted["name"] = *expected.name;
    if (expected.creator) wanted["creator"] = *expected.creator;
    if (expected.inputs) wanted["n_inputs"] = std::to_string(*expected.inputs);
    if (expected.outputs) wanted["n_outputs"] = std::to_string(*expected.outputs);
    if (expected.instrument) wanted["is_instrument"] = flag(*expected.instrument);
    if (expected.canProcessReplacing) wanted["can_process_replace"] = flag(*expected.canProcessReplacing);
    if (expected.hasEditor) wanted["has_editor"] = flag(*expected.hasEditor);
    if (expected.category) wanted["category"] = *expected.category;
    if (expected.midiInputs) wanted["n_midi_inputs"] = std::to_string(*expected.midiInputs);
    for (const auto& [field, value] : wanted) {
        ASSERT_EQ(seen.count(field), 1u) << "the cache file has no " << field;
        EXPECT_EQ(seen.at(field), value) << field;
    }
}

INSTANTIATE_TEST_SUITE_P(BuiltPlugins, RealHost, testing::ValuesIn(kExpectedPlugins),
                         [](const testing::TestParamInfo<ExpectedPlugin>& info) {
                             std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
