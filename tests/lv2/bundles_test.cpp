// The LV2 bundles as LV2's own tools see them: lv2_validate accepts every
// one, lv2ls lists every effect, and lv2info shows the ports, defaults,
// ranges, scale points and presets the effects' texts and README promise.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "lv2/LV2TestSupport.h"

namespace {

using lv2test::kBundles;
using lv2test::runLv2Tool;

// lv2info's text, one entry per port symbol holding that port's lines.
std::map<std::string, std::string> portsBySymbol(const std::string& info) {
    std::map<std::string, std::string> ports;
    const std::regex portHeader("\n\tPort [0-9]+:\n");
    std::sregex_token_iterator piece(info.begin(), info.end(), portHeader, -1), end;
    for (++piece; piece != end; ++piece) {
        const std::string block = *piece;
        std::smatch symbol;
        if (std::regex_search(block, symbol, std::regex("Symbol: +([A-Za-z0-9_]+)"))) ports[symbol[1]] = block;
    }
    return ports;
}

TEST(Lv2Bundles, Lv2ValidateFindsNoErrorInAnyBundle) {
    for (const auto& bundle : kBundles) {
        SCOPED_TRACE(bundle.target);
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(lv2test::bundlePath(bundle)))
            if (entry.path().extension() == ".ttl") files.push_back(entry.path());
        ASSERT_GE(files.size(), 2u) << "a manifest and the plug-in's description";
        const tooltest::RunResult result = runLv2Tool("lv2_validate", files);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        EXPECT_NE((result.out + result.err).find("Found 0 errors"), std::string::npos) << result.out << result.err;
    }
}

// A control holds the host value from 0 to 1, so a unit on it would
// misstate it (Mix at full read as "1 %"): the only ports with a unit are
// the ones in frames, and a control's unit is told in its comment.
TEST(Lv2Bundles, OnlyPortsInFramesDeclareAUnit) {
    const std::regex unitTriple("<http://lv2plug.in/ns/extensions/units#unit> ([^ ]+) \\.");
    for (const auto& bundle : kBundles) {
        SCOPED_TRACE(bundle.target);
        const std::string turtle = "file://" + lv2test::bundlePath(bundle) + "/" + bundle.target + ".ttl";
        const tooltest::RunResult triples = runLv2Tool("sordi", {turtle});
        ASSERT_EQ(triples.exitCode, 0) << triples.err;
        int units = 0;
        for (std::sregex_iterator unit(triples.out.begin(), triples.out.end(), unitTriple), end; unit != end; ++unit) {
            EXPECT_EQ((*unit)[1], "<http://lv2plug.in/ns/extensions/units#frame>");
            ++units;
        }
        if (std::string(bundle.target) != "tapemotor") continue;
        EXPECT_EQ(units, 1) << "TapeMotor's tail";
        EXPECT_NE(triples.out.find("#comment> \"From 0 to 1; the effect shows it in %\""), std::string::npos);
    }
}

TEST(Lv2Bundles, Lv2lsListsEveryEffect) {
    const tooltest::RunResult result = runLv2Tool("lv2ls", {});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (const auto& bundle : kBundles) EXPECT_NE(result.out.find(std::string(bundle.uri) + "\n"), std::string::npos);
}

// What lv2info must show of one control port.
struct ControlExpectation {
    const char* symbol;
    const char* name;
    const char* defaultText;  // lv2info prints %f
    std::vector<const char*> lines;  // more lines the port's block holds
};

struct EffectExpectation {
    const char* uri;
    const char* name;
    std::vector<ControlExpectation> controls;
    std::vector<const char*> presets;
    bool events;  // an atom port for MIDI or time
};

const std::vector<EffectExpectation> kExpectations = {
    {"urn:tarvo:tapestop", "Tarvo TapeStop",
     {{"trigger", "Trigger", "0.000000", {"Minimum:     0.000000", "Maximum:     1.000000"}},
      {"speed", "Speed", "0.100000", {"Minimum:     0.000000", "Maximum:     1.000000"}},
      {"mix", "Mix", "1.000000", {}}},
     {},
     false},
    {"urn:tarvo:tapemotor", "Tarvo TapeMotor",
     {{"trigger", "Trigger", "0.000000", {"lv2core#toggled", "0.0 = \"Off\"", "1.0 = \"On\""}},
      {"stop", "Stop", nullptr, {}},
      {"start", "Start", nullptr, {}},
      {"sync", "Sync", "0.000000", {"lv2core#toggled", "0.0 = \"Off\"", "1.0 = \"On\""}},
      {"curve", "Curve", "0.500000", {}},
      {"mix", "Mix", "1.000000", {}}},
     {"Classic 1 s", "Quick brake", "Power down 2 bars", "Spin up", "Half stop"},
     true},
    {"urn:tarvo:stereogain", "Stereo Gain", {{"gain", "Gain", "0.500000", {}}}, {}, false},
    {"urn:tarvo:tempotremolo", "Tempo Tremolo", {{"rate", "Rate", nullptr, {}}, {"depth", "Depth", nullptr, {}}}, {},
     true},
    {"urn:tarvo:notegate", "Note Gate", {}, {}, true},
};

TEST(Lv2Bundles, Lv2infoShowsEveryParameterAsAControlPort) {
    for (const EffectExpectation& effect : kExpectations) {
        SCOPED_TRACE(effect.uri);
        const tooltest::RunResult result = runLv2Tool("lv2info", {effect.uri});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(std::regex_search(result.out, std::regex(std::string("Name: +") + effect.name + "\n")));
        const auto ports = portsBySymbol(result.out);
        for (const char* audio : {"in_1", "in_2", "out_1", "out_2"}) {
            ASSERT_EQ(ports.count(audio), 1u) << audio;
            EXPECT_NE(ports.at(audio).find("lv2core#AudioPort"), std::string::npos);
        }
        for (const ControlExpectation& control : effect.controls) {
            SCOPED_TRACE(control.symbol);
            ASSERT_EQ(ports.count(control.symbol), 1u) << result.out;
            const std::string& port = ports.at(control.symbol);
            EXPECT_NE(port.find("lv2core#ControlPort"), std::string::npos);
            EXPECT_NE(port.find("lv2core#InputPort"), std::string::npos);
            EXPECT_NE(port.find(std::string("Name:        ") + control.name + "\n"), std::string::npos) << port;
            if (control.defaultText != nullptr) {
                EXPECT_NE(port.find(std::string("Default:     ") + control.defaultText), std::string::npos) << port;
            }
            for (const char* line : control.lines) EXPECT_NE(port.find(line), std::string::npos) << line << port;
        }
        EXPECT_EQ(ports.count("events"), effect.events ? 1u : 0u);
        if (effect.events) {
            EXPECT_NE(ports.at("events").find("atom#AtomPort"), std::string::npos);
        }
        for (const char* preset : effect.presets)
            EXPECT_TRUE(std::regex_search(result.out, std::regex(std::string("\n\t +") + preset + "\n"))) << preset;
        // lv2info prints the heading even with no preset under it.
        if (effect.presets.empty()) {
            EXPECT_FALSE(std::regex_search(result.out, std::regex("Presets: *\n\t +[^\n]+\n"))) << result.out;
        }
    }
}

}  // namespace
