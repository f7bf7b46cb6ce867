// Running the built `tapestop` program as a user does, and the audio files
// and reference renders the tool tests compare its results with.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sndfile.h>

#include "BlockProcessor.h"
#include "PluginHost.h"

extern char** environ;

namespace tooltest {

// In a sanitizer build, the sanitizer would turn a plug-in's segmentation
// fault into an abort and its exit(0) into a leak report; tests about how a
// plug-in ends have the sanitizer leave both alone.
inline void letFaultsThrough() {
    const char* options = std::getenv("ASAN_OPTIONS");
    const std::string joined = std::string(options == nullptr ? "" : options) + ":handle_segv=0:detect_leaks=0";
    ::setenv("ASAN_OPTIONS", joined.c_str(), 1);
}

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A directory of its own for each test, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tapestop-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> entries() const { return entriesOf(path_); }
    // The names in a folder, hidden ones too, sorted.
    static std::vector<std::string> entriesOf(const std::filesystem::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

// A program started with its output collected into files, and stdin from a
// file if given; it may be signalled while it runs.
class StartedProgram {
public:
    StartedProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& stdinPath = "/dev/null", const std::string& workingDirectory = "") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!workingDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, stdinPath.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, scratch_.file("stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, scratch_.file("stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) throw std::runtime_error("cannot start " + program);
    }
    ~StartedProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    void signal(int number) const { ::kill(pid_, number); }

    // Waits until the program has started a child process of its own; false
    // if it has none within `limit`.
    bool waitForChild(std::chrono::milliseconds limit) const {
        const std::string children = "/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children";
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!slurp(children).empty()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Waits for the end; the exit code is -1 when a signal ended it.
    RunResult wait() {
        int status = 0;
        ::waitpid(std::exchange(pid_, -1), &status, 0);
        return RunResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(scratch_.file("stdout")),
                         slurp(scratch_.file("stderr"))};
    }

private:
    TempDir scratch_;
    pid_t pid_ = -1;
};

// Runs a program to its end with its output collected.
inline RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                            const std::string& stdinPath = "/dev/null", const std::string& workingDirectory = "") {
    return StartedProgram(program, args, stdinPath, workingDirectory).wait();
}

inline RunResult runTool(const std::vector<std::string>& args) { return runProgram(TAPESTOP_CLI, args); }

struct Audio {
    int channels = 0;
    int sampleRateHz = 0;
    int format = 0;
    std::vector<float> samples;  // interleaved
    std::int64_t frames() const { return channels == 0 ? 0 : static_cast<std::int64_t>(samples.size()) / channels; }
};

inline void writeAudio(const std::string& path, const Audio& audio, int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
    SF_INFO info{};
    info.channels = audio.channels;
    info.samplerate = audio.sampleRateHz;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error("cannot write " + path);
    sf_writef_float(file, audio.samples.data(), audio.frames());
    sf_close(file);
}

inline Audio readAudio(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) throw std::runtime_error("cannot read " + path);
    Audio audio{info.channels, info.samplerate, info.format,
                std::vector<float>(static_cast<std::size_t>(info.frames * info.channels))};
    sf_readf_float(file, audio.samples.data(), info.frames);
    sf_close(file);
    return audio;
}

// Noise-like samples in -0.9..0.9 in which neighbouring samples differ, so
// that a frame played twice or skipped shows.
inline Audio testSignal(std::int64_t frames, int channels, int sampleRateHz) {
    Audio audio{channels, sampleRateHz, 0, std::vector<float>(static_cast<std::size_t>(frames * channels))};
    std::uint32_t state = 2463534242u;
    for (float& sample : audio.samples) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        sample = static_cast<float>(static_cast<double>(state) / 4294967296.0 * 1.8 - 0.9);
    }
    return audio;
}

using Change = host::ParameterChange;

// What a host does with a stereo signal, through the host library: start,
// the settings before the first frame, then blocks of at most `blockFrames`
// that end at every change.
inline std::vector<float> referenceRender(const std::string& pluginPath, const Audio& stereo, int blockFrames,
                                          const std::vector<Change>& settings, const std::vector<Change>& changes) {
    host::PluginLibrary library(pluginPath);
    host::Host h;
    host::Effect effect(library, h);
    effect.start(static_cast<float>(stereo.sampleRateHz), blockFrames);
    host::Timeline timeline{settings, {}};
    timeline.parameters.insert(timeline.parameters.end(), changes.begin(), changes.end());
    host::Signal in(2, std::vector<float>(static_cast<std::size_t>(stereo.frames())));
    for (std::size_t i = 0; i < in[0].size(); ++i) {
        in[0][i] = stereo.samples[2 * i];
        in[1][i] = stereo.samples[2 * i + 1];
    }
    const host::Signal out = host::processSignal(effect, in, blockFrames, timeline);
    effect.stop();
    std::vector<float> interleaved(stereo.samples.size());
    for (std::size_t i = 0; i < in[0].size(); ++i) {
        interleaved[2 * i] = out[0][i];
        interleaved[2 * i + 1] = out[1][i];
    }
    return interleaved;
}

inline bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace tooltest
