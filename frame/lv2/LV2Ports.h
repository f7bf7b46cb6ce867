// The LV2 face of an effect on the frame: which ports it has, in which
// order, and what their symbols are. The adapter that runs inside the plug-in
// and the generator that writes its .ttl at build time both derive the ports
// from here, from what a fresh effect answers, so the two cannot disagree.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::lv2 {

// The extension a plug-in built on the frame answers in its state: its
// program number, its chunk (for effects whose programs are chunks) and one
// value per parameter, under the plug-in's URI, '#' and the port symbol.
inline constexpr const char* kStateProgramUri = "urn:tarvo:lv2:state#program";
inline constexpr const char* kStateChunkUri = "urn:tarvo:lv2:state#chunk";
// The VST 2.4 canDo texts that give an effect the event port.
inline constexpr const char* kReceiveMidiCanDo = "receiveVstMidiEvent";
inline constexpr const char* kReceiveTimeCanDo = "receiveVstTimeInfo";

// Ports in index order: audio inputs, audio outputs, one control input per
// parameter, then latency and tail outputs and the event input where the
// effect has them.
struct PortLayout {
    std::uint32_t audioInputs = 0;
    std::uint32_t audioOutputs = 0;
    std::uint32_t parameters = 0;
    bool hasLatency = false;  // the effect reports a delay at creation
    bool hasTail = false;     // the effect reports a tail at creation
    bool hasEvents = false;   // the effect receives MIDI or reads time

    std::uint32_t firstAudioOutput() const { return audioInputs; }
    std::uint32_t firstControl() const { return audioInputs + audioOutputs; }
    std::uint32_t latencyPort() const { return firstControl() + parameters; }
    std::uint32_t tailPort() const { return latencyPort() + (hasLatency ? 1 : 0); }
    std::uint32_t eventPort() const { return tailPort() + (hasTail ? 1 : 0); }
    std::uint32_t portCount() const { return eventPort() + (hasEvents ? 1 : 0); }
};

// A port symbol from a parameter name: lower case, every run of characters
// other than letters and digits one '_', none at either end, a leading '_'
// before a digit, and "_2", "_3"... after a symbol already taken. LV2 allows
// only [_a-zA-Z][_a-zA-Z0-9]* and unique symbols per plug-in.
inline std::vector<std::string> portSymbols(const std::vector<std::string>& names,
                                            const std::vector<std::string>& reserved) {
    std::vector<std::string> symbols;
    auto taken = [&](const std::string& symbol) {
        for (const std::string& other : reserved)
            if (other == symbol) return true;
        for (const std::string& other : symbols)
            if (other == symbol) return true;
        return false;
    };
    for (const std::string& name : names) {
        std::string symbol;
        bool gap = false;
        for (const unsigned char c : name) {
            if (std::isalnum(c) != 0 && c < 0x80) {
                if (gap && !symbol.empty()) symbol += '_';
                symbol += static_cast<char>(std::tolower(c));
                gap = false;
            } else {
                gap = true;
            }
        }
        if (symbol.empty()) symbol = "parameter";
        if (std::isdigit(static_cast<unsigned char>(symbol[0])) != 0) symbol.insert(0, "_");
        std::string unique = symbol;
        for (int suffix = 2; taken(unique); ++suffix) unique = symbol + "_" + std::to_string(suffix);
        symbols.push_back(unique);
    }
    return symbols;
}

// Symbols the audio, latency, tail and event ports take first.
inline std::vector<std::string> fixedSymbols(const PortLayout& layout) {
    std::vector<std::string> symbols;
    for (std::uint32_t i = 0; i < layout.audioInputs; ++i) symbols.push_back("in_" + std::to_string(i + 1));
    for (std::uint32_t i = 0; i < layout.audioOutputs; ++i) symbols.push_back("out_" + std::to_string(i + 1));
    symbols.insert(symbols.end(), {"latency", "tail", "events"});
    return symbols;
}

}  // namespace tarvo::lv2
