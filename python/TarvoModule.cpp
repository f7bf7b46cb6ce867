// _tarvo: the compiled half of the `tarvo` Python module. It holds a plug-in
// engine per Plugin object and moves numpy arrays in and out of it without a
// per-sample step in Python; tarvo/__init__.py builds the public names on it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <memory>
#include <mutex>

#include "Batch.h"
#include "Engine.h"
#include "Info.h"
#include "Render.h"
#include "RenderTimeline.h"

namespace py = pybind11;

namespace tarvo {

namespace {

using FloatArray = py::array_t<float, py::array::c_style>;

// One plug-in as Python holds it. Calls from two threads at once are refused
// rather than serialized: the plug-in's own state would interleave.
class PluginHandle {
public:
    explicit PluginHandle(const LoadOptions& options)
        : options_(options), engine_(loadEngine(options)), identity_(engine_->identity()) {}

    // Runs `work` on the engine with the GIL released.
    template <typename Work>
    auto use(Work&& work) {
        if (!engine_) throw PluginError("the plug-in is closed");
        std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
        if (!lock.owns_lock())
            throw PluginError("the plug-in is in use by another thread; give each thread its own plug-in, or lock");
        py::gil_scoped_release released;
        return work(*engine_);
    }

    void close() {
        std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
        if (!lock.owns_lock()) throw PluginError("the plug-in is in use by another thread");
        engine_.reset();
    }

    const Identity& identity() const { return identity_; }
    const LoadOptions& options() const { return options_; }

private:
    LoadOptions options_;
    std::unique_ptr<Engine> engine_;
    Identity identity_;
    std::mutex busy_;
};

host::Timeline timelineOf(py::array_t<std::int64_t, py::array::c_style | py::array::forcecast> parameterFrames,
                          py::array_t<std::int32_t, py::array::c_style | py::array::forcecast> parameterIndices,
                          py::array_t<float, py::array::c_style | py::array::forcecast> parameterValues,
                          py::array_t<std::int64_t, py::array::c_style | py::array::forcecast> midiFrames,
                          py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast> midiBytes) {
    const auto changes = parameterFrames.size();
    if (parameterIndices.size() != changes || parameterValues.size() != changes)
        throw InputError("parameter frames, indices and values differ in length");
    if (midiBytes.size() != midiFrames.size() * 3) throw InputError("MIDI messages take three bytes each");
    host::Timeline timeline;
    for (py::ssize_t i = 0; i < changes; ++i)
        timeline.parameters.push_back({parameterFrames.data()[i], parameterIndices.data()[i], parameterValues.data()[i]});
    for (py::ssize_t i = 0; i < midiFrames.size(); ++i) {
        const std::uint8_t* bytes = midiBytes.data() + 3 * i;
        timeline.midi.push_back({midiFrames.data()[i], bytes[0], bytes[1], bytes[2]});
    }
    return timeline;
}

// The plug-in's inputs from the caller's channels: as many channels as
// inputs, one to one; or one channel, which feeds the first two inputs as a
// mono file does in the renderer (further inputs get silence).
std::vector<const float*> inputChannels(const FloatArray& audio, int inputs, std::vector<float>& silence) {
    const auto channels = audio.shape(0);
    const auto frames = audio.shape(1);
    const float* samples = audio.data();
    std::vector<const float*> in;
    if (channels == inputs) {
        for (int c = 0; c < inputs; ++c) in.push_back(samples + c * frames);
        return in;
    }
    if (channels != 1)
        throw InputError("the audio has " + std::to_string(channels) + " channels; the plug-in has " +
                         std::to_string(inputs) + " inputs: give " + std::to_string(inputs) +
                         " channels, or one, which feeds the first two inputs");
    if (inputs > 2) silence.assign(static_cast<std::size_t>(frames), 0.0f);
    for (int c = 0; c < inputs; ++c) in.push_back(c < 2 ? samples : silence.data());
    return in;
}

py::array_t<float> runThrough(PluginHandle& plugin, const FloatArray& audio, const host::Timeline& timeline,
                              const Transport& transport, bool restart, bool reset) {
    if (audio.ndim() != 2) throw InputError("audio must have two dimensions: (channels, frames)");
    const Identity& identity = plugin.identity();
    std::vector<float> silence;
    const std::vector<const float*> in = inputChannels(audio, std::max(identity.inputs, 0), silence);
    const auto frames = audio.shape(1);
    py::array_t<float> out({static_cast<py::ssize_t>(std::max(identity.outputs, 0)), frames});
    std::vector<float*> outputs;
    for (py::ssize_t c = 0; c < out.shape(0); ++c) outputs.push_back(out.mutable_data() + c * frames);
    plugin.use([&](Engine& engine) {
        if (reset) engine.reset();
        if (restart) engine.startStream(transport);
        if (!timeline.parameters.empty() || !timeline.midi.empty()) engine.schedule(timeline);
        engine.process(in.data(), outputs.data(), frames, restart);
        return 0;
    });
    return out;
}

}  // namespace

}  // namespace tarvo

PYBIND11_MODULE(_tarvo, m) {
    using namespace tarvo;
    m.doc() = "The compiled engine under the tarvo module; use tarvo, not this.";

    static py::exception<PluginError> pluginError(m, "PluginError", PyExc_RuntimeError);
    static py::exception<PluginCrashed> pluginCrashed(m, "PluginCrashed", pluginError.ptr());
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const Interrupted& error) {
            PyErr_SetString(PyExc_KeyboardInterrupt, error.what());
        } catch (const tapestop::Interrupted& error) {
            PyErr_SetString(PyExc_KeyboardInterrupt, error.what());
        } catch (const PluginCrashed& error) {
            pluginCrashed(error.what());
        } catch (const PluginError& error) {
            pluginError(error.what());
        } catch (const host::HostError& error) {
            pluginError(error.what());
        } catch (const InputError& error) {
            PyErr_SetString(PyExc_ValueError, error.what());
        } catch (const tapestop::UsageError& error) {
            PyErr_SetString(PyExc_ValueError, error.what());
        }
    });

    py::class_<PluginHandle>(m, "Engine")
        .def(py::init([](const std::string& path, double sampleRateHz, std::int32_t blockFrames, bool isolated,
                         double timeLimitSeconds) {
                 return std::make_unique<PluginHandle>(
                     LoadOptions{path, sampleRateHz, blockFrames, isolated, timeLimitSeconds});
             }),
             py::arg("path"), py::arg("sample_rate"), py::arg("block_size"), py::arg("isolated"),
             py::arg("time_limit"))
        .def("identity",
             [](PluginHandle& plugin) {
                 const Identity& id = plugin.identity();
                 py::dict info;
                 info["name"] = py::bytes(id.name).attr("decode")("utf-8", "replace");
                 info["vendor"] = py::bytes(id.vendor).attr("decode")("utf-8", "replace");
                 info["product"] = py::bytes(id.product).attr("decode")("utf-8", "replace");
                 info["unique_id"] = id.uniqueId;
                 info["unique_id_text"] = host::fourCharText(id.uniqueId);
                 info["version"] = id.version;
                 info["inputs"] = id.inputs;
                 info["outputs"] = id.outputs;
                 info["parameters"] = id.parameters;
                 info["programs"] = id.programs;
                 info["flags"] = id.flags;
                 info["category"] = tapestop::categoryName(id.category);
                 return info;
             })
        .def("parameter_names",
             [](PluginHandle& plugin) { return plugin.use([](Engine& e) { return e.parameterNames(); }); })
        .def("parameter",
             [](PluginHandle& plugin, std::int32_t i) { return plugin.use([&](Engine& e) { return e.parameter(i); }); })
        .def("set_parameter",
             [](PluginHandle& plugin, std::int32_t i, float value) {
                 plugin.use([&](Engine& e) { e.setParameter(i, value); return 0; });
             })
        .def("display", [](PluginHandle& plugin,
                           std::int32_t i) { return plugin.use([&](Engine& e) { return e.parameterDisplay(i); }); })
        .def("label", [](PluginHandle& plugin,
                         std::int32_t i) { return plugin.use([&](Engine& e) { return e.parameterLabel(i); }); })
        .def("value_of_text",
             [](PluginHandle& plugin, std::int32_t i, const std::string& text) {
                 return plugin.use([&](Engine& e) { return e.valueOfText(i, text); });
             })
        .def("program_names",
             [](PluginHandle& plugin) { return plugin.use([](Engine& e) { return e.programNames(); }); })
        .def("program", [](PluginHandle& plugin) { return plugin.use([](Engine& e) { return e.program(); }); })
        .def("set_program",
             [](PluginHandle& plugin, std::int32_t i) { plugin.use([&](Engine& e) { e.setProgram(i); return 0; }); })
        .def("state",
             [](PluginHandle& plugin) { return py::bytes(plugin.use([](Engine& e) { return e.state(); })); })
        .def("set_state",
             [](PluginHandle& plugin, const py::bytes& bytes) {
                 const std::string state = bytes;
                 plugin.use([&](Engine& e) { e.setState(state); return 0; });
             })
        .def("tail_frames", [](PluginHandle& plugin) { return plugin.use([](Engine& e) { return e.tailFrames(); }); })
        .def("latency_frames",
             [](PluginHandle& plugin) { return plugin.use([](Engine& e) { return e.latencyFrames(); }); })
        .def("reset", [](PluginHandle& plugin) { plugin.use([](Engine& e) { e.reset(); return 0; }); })
        .def("set_transport",
             [](PluginHandle& plugin, double tempo, std::int32_t beats, std::int32_t unit) {
                 plugin.use([&](Engine& e) { e.setTransport(Transport{tempo, beats, unit}); return 0; });
             })
        .def("stream_position",
             [](PluginHandle& plugin) { return plugin.use([](Engine& e) { return e.streamPosition(); }); })
        .def("run",
             [](PluginHandle& plugin, const FloatArray& audio, py::array_t<std::int64_t> parameterFrames,
                py::array_t<std::int32_t> parameterIndices, py::array_t<float> parameterValues,
                py::array_t<std::int64_t> midiFrames, py::array_t<std::uint8_t> midiBytes, double tempo,
                std::int32_t beats, std::int32_t unit, bool restart, bool reset) {
                 const host::Timeline timeline =
                     timelineOf(parameterFrames, parameterIndices, parameterValues, midiFrames, midiBytes);
                 return runThrough(plugin, audio, timeline, Transport{tempo, beats, unit}, restart, reset);
             })
        .def("close", &PluginHandle::close);

    m.def("frames_at",
          [](py::array_t<double, py::array::c_style | py::array::forcecast> seconds, int sampleRateHz) {
              py::array_t<std::int64_t> frames(seconds.size());
              for (py::ssize_t i = 0; i < seconds.size(); ++i)
                  frames.mutable_data()[i] = tapestop::framesAt(
                      tapestop::TimeSpec{seconds.data()[i], tapestop::TimeSpec::Unit::kSeconds, ""}, sampleRateHz);
              return frames;
          },
          "Frames at the given seconds, rounded as `tapestop render` rounds.");

    m.def("render_jobs",
          [](const std::string& jobsJson, int workers, bool force, bool progress) {
              // The batch's interrupt watch is process-wide: one batch at a time.
              static std::mutex oneBatch;
              py::gil_scoped_release released;
              const std::lock_guard<std::mutex> lock(oneBatch);
              return tapestop::runBatchJson(jobsJson, workers, force, progress);
          },
          py::arg("jobs_json"), py::arg("workers"), py::arg("force"), py::arg("progress"),
          "Renders jobs given as JSON; answers the report as JSON.");
}
