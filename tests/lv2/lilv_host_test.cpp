// The LV2 bundles driven through lilv, the library LV2 hosts are built on, as
// a host that splits runs at its automation points and sends MIDI and the
// song position on the event port: every change lands on the frame the VST
// 2.4 library, driven by the host library, puts it on; and state saved from
// one instance brings another to the same sound.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>

#include "BlockProcessor.h"
#include "TransportHost.h"
#include "lv2/LV2TestSupport.h"

namespace {

constexpr double kSampleRateHz = 48000.0;
constexpr std::uint32_t kBlockFrames = 512;
constexpr std::size_t kFrames = 96000;
constexpr std::size_t kEventBytes = 8192;

struct UridMap {
    std::map<std::string, LV2_URID> ids;
    std::vector<std::string> uris;
    LV2_URID_Map map{this, [](LV2_URID_Map_Handle handle, const char* uri) {
                         auto* self = static_cast<UridMap*>(handle);
                         auto [found, added] = self->ids.emplace(uri, self->ids.size() + 1);
                         if (added) self->uris.push_back(uri);
                         return found->second;
                     }};
    LV2_URID_Unmap unmap{this, [](LV2_URID_Unmap_Handle handle, LV2_URID id) {
                             auto* self = static_cast<UridMap*>(handle);
                             return id >= 1 && id <= self->uris.size() ? self->uris[id - 1].c_str() : nullptr;
                         }};
    LV2_Feature mapFeature{LV2_URID__map, &map};
    LV2_Feature unmapFeature{LV2_URID__unmap, &unmap};
    const LV2_Feature* features[3] = {&mapFeature, &unmapFeature, nullptr};
    LV2_URID id(const char* uri) { return map.map(this, uri); }
};

// Events at a frame of the whole signal: a MIDI message or a song position.
struct Event {
    std::size_t frame;
    std::vector<std::uint8_t> midi;  // empty for a position
    float beatsPerMinute = 0.0f;
};

// Control values from a frame of the whole signal on.
struct ControlChange {
    std::size_t frame;
    const char* symbol;
    float value;
};

class LilvWorld {
public:
    LilvWorld() {
        ::setenv("LV2_PATH", lv2test::kBundleDir.c_str(), 1);
        world = lilv_world_new();
        lilv_world_load_all(world);
    }
    ~LilvWorld() { lilv_world_free(world); }
    const LilvPlugin* plugin(const std::string& uri) const {
        LilvNode* node = lilv_new_uri(world, uri.c_str());
        const LilvPlugin* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
        lilv_node_free(node);
        return found;
    }
    LilvWorld(const LilvWorld&) = delete;
    LilvWorld& operator=(const LilvWorld&) = delete;
    ::LilvWorld* world;
};

// One instance with its buffers; runs a stereo signal in blocks split at
// every control change, with events on the event port when it has one.
class Rig {
public:
    Rig(LilvWorld& lilv, const std::string& uri, UridMap* urids) : lilv_(lilv), urids_(urids) {
        plugin_ = lilv.plugin(uri);
        if (plugin_ == nullptr) throw std::runtime_error("lilv does not find " + uri);
        instance_ = lilv_plugin_instantiate(plugin_, kSampleRateHz, urids != nullptr ? urids->features : nullptr);
        if (instance_ == nullptr) throw std::runtime_error("cannot instantiate " + uri);
        const std::uint32_t ports = lilv_plugin_get_num_ports(plugin_);
        controls_.assign(ports, 0.0f);
        std::vector<float> defaults(ports, 0.0f);
        lilv_plugin_get_port_ranges_float(plugin_, nullptr, nullptr, defaults.data());
        for (std::uint32_t i = 0; i < ports; ++i) {
            if (!std::isnan(defaults[i])) controls_[i] = defaults[i];
            lilv_instance_connect_port(instance_, i, &controls_[i]);
        }
        if (hasPort("events")) lilv_instance_connect_port(instance_, index("events"), events_.get());
        lilv_instance_activate(instance_);
    }
    ~Rig() {
        lilv_instance_deactivate(instance_);
        lilv_instance_free(instance_);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    bool hasPort(const char* symbol) const {
        LilvNode* node = lilv_new_string(lilv_.world, symbol);
        const bool found = lilv_plugin_get_port_by_symbol(plugin_, node) != nullptr;
        lilv_node_free(node);
        return found;
    }
    std::uint32_t index(const char* symbol) const {
        LilvNode* node = lilv_new_string(lilv_.world, symbol);
        const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin_, node);
        lilv_node_free(node);
        if (port == nullptr) throw std::runtime_error(std::string("no port ") + symbol);
        return lilv_port_get_index(plugin_, port);
    }
    void set(const char* symbol, float value) { controls_[index(symbol)] = value; }
    LilvInstance* instance() { return instance_; }
    const LilvPlugin* plugin() { return plugin_; }
    float control(std::uint32_t port) const { return controls_[port]; }
    LV2_URID floatType() { return urids_->id(LV2_ATOM__Float); }

    // In place, as Ardour runs LV2 plug-ins, each input port shares its
    // buffer with the output port of its channel.
    enum class Buffers { Separate, InPlace };

    host::Signal run(const host::Signal& in, const std::vector<ControlChange>& changes = {},
                     const std::vector<Event>& events = {}, Buffers buffers = Buffers::Separate) {
        host::Signal out(2, std::vector<float>(in[0].size()));
        std::size_t nextChange = 0;
        for (std::size_t start = 0; start < in[0].size();) {
            while (nextChange < changes.size() && changes[nextChange].frame <= start)
                set(changes[nextChange].symbol, changes[nextChange].value), ++nextChange;
            std::size_t end = std::min(in[0].size(), start + kBlockFrames);
            if (nextChange < changes.size()) end = std::min(end, changes[nextChange].frame);
            fillEvents(events, start, end);
            for (std::uint32_t c = 0; c < 2; ++c) {
                float* input = const_cast<float*>(in[c].data() + start);
                if (buffers == Buffers::InPlace)
                    input = std::copy(input, input + (end - start), out[c].data() + start) - (end - start);
                lilv_instance_connect_port(instance_, index(c == 0 ? "in_1" : "in_2"), input);
                lilv_instance_connect_port(instance_, index(c == 0 ? "out_1" : "out_2"), out[c].data() + start);
            }
            lilv_instance_run(instance_, static_cast<std::uint32_t>(end - start));
            start = end;
        }
        return out;
    }

private:
    void fillEvents(const std::vector<Event>& events, std::size_t start, std::size_t end) {
        if (urids_ == nullptr || !hasPort("events")) return;
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, &urids_->map);
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<std::uint8_t*>(events_.get()), kEventBytes);
        LV2_Atom_Forge_Frame sequence;
        lv2_atom_forge_sequence_head(&forge, &sequence, 0);
        for (const Event& event : events) {
            if (event.frame < start || event.frame >= end) continue;
            lv2_atom_forge_frame_time(&forge, static_cast<std::int64_t>(event.frame - start));
            if (!event.midi.empty()) {
                lv2_atom_forge_atom(&forge, static_cast<std::uint32_t>(event.midi.size()),
                                    urids_->id(LV2_MIDI__MidiEvent));
                lv2_atom_forge_write(&forge, event.midi.data(), static_cast<std::uint32_t>(event.midi.size()));
            } else {
                LV2_Atom_Forge_Frame object;
                lv2_atom_forge_object(&forge, &object, 0, urids_->id(LV2_TIME__Position));
                lv2_atom_forge_key(&forge, urids_->id(LV2_TIME__speed));
                lv2_atom_forge_float(&forge, 1.0f);
                lv2_atom_forge_key(&forge, urids_->id(LV2_TIME__beatsPerMinute));
                lv2_atom_forge_float(&forge, event.beatsPerMinute);
                lv2_atom_forge_key(&forge, urids_->id(LV2_TIME__bar));
                lv2_atom_forge_long(&forge, 0);
                lv2_atom_forge_key(&forge, urids_->id(LV2_TIME__barBeat));
                lv2_atom_forge_float(&forge, 0.0f);
                lv2_atom_forge_pop(&forge, &object);
            }
        }
        lv2_atom_forge_pop(&forge, &sequence);
    }

    LilvWorld& lilv_;
    UridMap* urids_;
    const LilvPlugin* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    std::vector<float> controls_;
    std::unique_ptr<std::uint64_t[]> events_{new std::uint64_t[kEventBytes / 8]()};
};

host::Signal noise() {
    const tooltest::Audio audio = tooltest::testSignal(kFrames, 2, static_cast<int>(kSampleRateHz));
    host::Signal signal(2, std::vector<float>(kFrames));
    for (std::size_t i = 0; i < kFrames; ++i) signal[0][i] = audio.samples[2 * i], signal[1][i] = audio.samples[2 * i + 1];
    return signal;
}

// The VST 2.4 twin, driven by the host library with the same timeline.
host::Signal vstRender(const char* target, const host::Signal& in, const host::Timeline& timeline,
                       double tempoBpm = host::TransportHost::kDefaultTempoBpm) {
    host::PluginLibrary library(std::string(TAPESTOP_BUILD_DIR) + "/" + target + ".so");
    host::TransportHost transport(kSampleRateHz, kBlockFrames);
    transport.setTempo(tempoBpm);
    host::Effect effect(library, transport);
    effect.start(static_cast<float>(kSampleRateHz), kBlockFrames);
    return host::processSignal(effect, in, kBlockFrames, timeline, &transport);
}

bool sameBits(const host::Signal& a, const host::Signal& b) {
    return tooltest::sameBits(a[0], b[0]) && tooltest::sameBits(a[1], b[1]);
}

// TapeStop's Trigger (parameter 0), with no host feature at all: the stop
// begins on frame 1,000 and ends on frame 30,001, inside 512-frame blocks.
TEST(Lv2Host, ControlChangesLandOnTheFrameTheHostSplitsTheRunAt) {
    LilvWorld lilv;
    Rig rig(lilv, "urn:tarvo:tapestop", nullptr);
    const host::Signal in = noise();
    const host::Signal lv2 = rig.run(in, {{1000, "trigger", 1.0f}, {30001, "trigger", 0.0f}});
    const host::Signal vst = vstRender("tapestop", in, {{{1000, 0, 1.0f}, {30001, 0, 0.0f}}, {}});
    EXPECT_TRUE(sameBits(lv2, vst));
    EXPECT_EQ(lv2[0][999], in[0][999]);
    EXPECT_NE(lv2[0][1500], in[0][1500]);
}

// TapeMotor's motor stops on a note-on at frame 700 and runs again on its
// note-off at frame 40,100, both inside blocks, as MIDI on the event port.
TEST(Lv2Host, MidiNotesReachTheEffectAtTheirFrames) {
    LilvWorld lilv;
    UridMap urids;
    Rig rig(lilv, "urn:tarvo:tapemotor", &urids);
    const host::Signal in = noise();
    const host::Signal lv2 = rig.run(in, {}, {{700, {0x90, 60, 100}}, {40100, {0x80, 60, 0}}});
    const host::Signal vst = vstRender("tapemotor", in, {{}, {{700, 0x90, 60, 100}, {40100, 0x80, 60, 0}}});
    EXPECT_TRUE(sameBits(lv2, vst));
    EXPECT_EQ(lv2[0][699], in[0][699]);
    EXPECT_NE(lv2[0][20000], in[0][20000]);
}

// With Sync on, TapeMotor's stop of one bar lasts as long as the song's
// tempo says: 60 BPM from the host's time:Position gives the render of a
// VST 2.4 host at 60 BPM, not the 120 BPM the effect assumes without one.
TEST(Lv2Host, TheSongTempoReachesTheEffect) {
    LilvWorld lilv;
    UridMap urids;
    Rig rig(lilv, "urn:tarvo:tapemotor", &urids);
    const host::Signal in = noise();
    const std::vector<ControlChange> settings = {{0, "sync", 1.0f}, {0, "stop", 0.75f}, {0, "trigger", 1.0f}};
    const host::Signal lv2 = rig.run(in, settings, {{0, {}, 60.0f}});
    const host::Timeline timeline{{{0, 3, 1.0f}, {0, 1, 0.75f}, {0, 0, 1.0f}}, {}};
    EXPECT_TRUE(sameBits(lv2, vstRender("tapemotor", in, timeline, 60.0)));
    EXPECT_FALSE(sameBits(lv2, vstRender("tapemotor", in, timeline, 120.0)));
}

// Ardour runs LV2 plug-ins in place. The tape effects read a frame's input
// again after writing its output (to blend the tape with the dry signal), and
// the VST 2.4 hosts they were made for give separate buffers; in place they
// must still render what their VST 2.4 twins render.
TEST(Lv2Host, InPlaceBuffersRenderWhatSeparateBuffersRender) {
    struct Case {
        const char* target;
        const char* uri;
        std::vector<ControlChange> lv2;
        host::Timeline vst;
    };
    const Case cases[] = {
        {"tapestop", "urn:tarvo:tapestop", {{0, "mix", 0.8f}, {1000, "trigger", 1.0f}},
         {{{0, 2, 0.8f}, {1000, 0, 1.0f}}, {}}},
        {"tapemotor", "urn:tarvo:tapemotor", {{0, "mix", 0.6f}, {1000, "trigger", 1.0f}},
         {{{0, 5, 0.6f}, {1000, 0, 1.0f}}, {}}},
    };
    LilvWorld lilv;
    UridMap urids;
    const host::Signal in = noise();
    for (const Case& c : cases) {
        Rig rig(lilv, c.uri, &urids);
        const host::Signal lv2 = rig.run(in, c.lv2, {}, Rig::Buffers::InPlace);
        EXPECT_TRUE(sameBits(lv2, vstRender(c.target, in, c.vst))) << c.target;
        EXPECT_NE(lv2[0][20000], in[0][20000]) << c.target;
    }
}

// State saved through the state extension (and the port values the host
// keeps) brings a fresh instance to the same sound as the first.
TEST(Lv2Host, StateSavedFromOneInstanceRestoresAnother) {
    LilvWorld lilv;
    UridMap urids;
    const host::Signal in = noise();
    Rig first(lilv, "urn:tarvo:tapemotor", &urids);
    first.set("stop", 0.3f);
    first.set("curve", 0.8f);
    first.set("mix", 0.6f);
    first.run(in);
    LilvState* state = lilv_state_new_from_instance(
        first.plugin(), first.instance(), &urids.map, nullptr, nullptr, nullptr, nullptr,
        [](const char* symbol, void* data, std::uint32_t* size, std::uint32_t* type) -> const void* {
            auto* rig = static_cast<Rig*>(data);
            *size = sizeof(float);
            *type = rig->floatType();
            static thread_local float value;
            value = rig->control(rig->index(symbol));
            return &value;
        },
        &first, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
    ASSERT_NE(state, nullptr);
    char* text = lilv_state_to_string(lilv.world, &urids.map, &urids.unmap, state, "urn:tarvo:test-state", nullptr);
    const std::string saved(text);
    lilv_free(text);
    EXPECT_NE(saved.find("urn:tarvo:tapemotor#stop"), std::string::npos) << saved;
    EXPECT_NE(saved.find("urn:tarvo:lv2:state#program"), std::string::npos) << saved;

    Rig second(lilv, "urn:tarvo:tapemotor", &urids);
    lilv_state_restore(state, second.instance(),
                       [](const char* symbol, void* data, const void* value, std::uint32_t, std::uint32_t) {
                           static_cast<Rig*>(data)->set(symbol, *static_cast<const float*>(value));
                       },
                       &second, 0, nullptr);
    lilv_state_free(state);
    const std::vector<ControlChange> trigger = {{100, "trigger", 1.0f}};
    Rig fresh(lilv, "urn:tarvo:tapemotor", &urids);
    Rig reference(lilv, "urn:tarvo:tapemotor", &urids);
    reference.set("stop", 0.3f);
    reference.set("curve", 0.8f);
    reference.set("mix", 0.6f);
    const host::Signal restored = second.run(in, trigger);
    EXPECT_TRUE(sameBits(restored, reference.run(in, trigger)));
    EXPECT_FALSE(sameBits(restored, fresh.run(in, trigger)));
}

}  // namespace
