// Audio files through libsndfile: reading any format it knows, writing the
// container named by the output's extension into a file descriptor.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <sndfile.h>

namespace tapestop {

class AudioFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class SampleFormat { kPcm16, kPcm24, kFloat };

// Parses "pcm16", "pcm24" or "float"; throws AudioFileError otherwise.
SampleFormat parseSampleFormat(const std::string& text);
std::string sampleFormatName(SampleFormat format);

// What an output file will hold: container and encoding as libsndfile
// flags, and whether samples are clipped to -1..1 on the way in.
struct OutputFormat {
    int sndfileFormat = 0;
    bool clips = false;
    std::string description;  // e.g. "WAV, 16-bit PCM"
    int maxSampleRateHz = 0;  // 0: any rate
};

// The output format for a path's extension and the requested sample format;
// throws AudioFileError for an unknown extension or a sample format the
// container cannot hold.
OutputFormat outputFormatFor(const std::string& path, bool formatGiven, SampleFormat format);

class AudioReader {
public:
    // Throws AudioFileError naming the file and the reason.
    explicit AudioReader(const std::string& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    int channels() const { return info_.channels; }
    int sampleRateHz() const { return info_.samplerate; }
    std::int64_t frames() const { return info_.frames; }
    // The frames the file's header announces, which a cut-off file lacks.
    std::int64_t announcedFrames() const { return announcedFrames_; }

    // Reads up to `frames` interleaved frames; answers how many were read.
    std::int64_t read(float* interleaved, std::int64_t frames);

private:
    std::string path_;
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    std::int64_t announcedFrames_ = 0;
};

// The file's bytes go through this, so that the reason a write failed (a
// full disk, a size limit) is known whatever the container.
struct FileIo {
    int fd = -1;
    int firstError = 0;  // errno of the first failed call
    std::int64_t bytesSinceWriteback = 0;
};

class AudioWriter {
public:
    // Writes into `fd`, which it does not close; `path` names it in
    // messages. Throws AudioFileError.
    AudioWriter(int fd, const std::string& path, const OutputFormat& format, int channels, int sampleRateHz);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Writes interleaved frames, clipping first when the format clips.
    void write(float* interleaved, std::int64_t frames);
    // Finishes the file (headers, the encoder's last pages).
    void finish();

    std::int64_t clippedSamples() const { return clippedSamples_; }

private:
    [[noreturn]] void fail(const std::string& reason) const;

    std::string path_;
    OutputFormat format_;
    int channels_ = 0;
    FileIo io_;
    SNDFILE* file_ = nullptr;
    std::int64_t clippedSamples_ = 0;
};

// Clips samples to -1..1 in place (a NaN becomes 0); answers how many changed.
std::int64_t clipSamples(float* samples, std::int64_t count);

// The level of what a plug-in put out: the largest finite magnitude, and how
// many samples were not numbers or infinite, which no peak can show.
struct SampleLevels {
    float peak = 0.0f;
    std::int64_t nanSamples = 0;
    std::int64_t infiniteSamples = 0;

    void add(const float* samples, std::int64_t count);

private:
    void addNonFinite(const float* samples, std::int64_t count);
};

}  // namespace tapestop
