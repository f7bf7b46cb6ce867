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
// flags, whether samples are clipped to -1..1 on the way in, and whether
// NaN and infinity can be stored as they are (float encodings only).
struct OutputFormat {
    int sndfileFormat = 0;
    bool clips = false;
    bool holdsNonFinite = false;
    std::string description;  // e.g. "WAV, 16-bit PCM"
    int maxSampleRateHz = 0;  // 0: any rate
    bool autoDowngrade = false;  // RF64 that libsndfile writes as WAV while it fits
    std::string note;         // why the container differs from the one asked for, if it does
};

// The output format for a path's extension and the requested sample format;
// throws AudioFileError for an unknown extension or a sample format the
// container cannot hold.
OutputFormat outputFormatFor(const std::string& path, bool formatGiven, SampleFormat format);

// The format fitted to an output of `frames` frames (-1: not known), decided
// before the render: a WAV over the 4 GiB its header can count becomes RF64,
// a WAV of unknown length is written so that libsndfile makes it RF64 only
// if it grows that far; an AIFF over 4 GiB is refused (AudioFileError).
OutputFormat fittedToLength(const OutputFormat& format, const std::string& path, std::int64_t frames, int channels);

// An input's length, as far as its header and libsndfile tell it.
struct InputLength {
    std::int64_t frames = 0;           // present; -1 when the file does not say (an Ogg without its end)
    std::int64_t announcedFrames = 0;  // what the header promises, which a cut-off file lacks
    std::int64_t unclaimedFrames = 0;  // audio after a chunk whose size says 0, never read
};

class AudioReader {
public:
    // Throws AudioFileError naming the file and the reason.
    explicit AudioReader(const std::string& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    int channels() const { return info_.channels; }
    int sampleRateHz() const { return info_.samplerate; }
    const InputLength& length() const { return length_; }

    // Reads up to `frames` interleaved frames; answers how many were read.
    std::int64_t read(float* interleaved, std::int64_t frames);

private:
    std::string path_;
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    InputLength length_;
};

// Samples changed on their way into a format that cannot hold them: finite
// ones beyond -1..1 clipped, NaN written as 0, infinity as full scale (±1).
struct ConformedSamples {
    std::int64_t clipped = 0;
    std::int64_t nan = 0;
    std::int64_t infinite = 0;

    // Changes `samples` in place as `format` needs.
    void conform(const OutputFormat& format, float* samples, std::int64_t count);
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

    // Writes interleaved frames, conformed first to what the format holds
    // (the samples are changed in place).
    void write(float* interleaved, std::int64_t frames);
    // Finishes the file (headers, the encoder's last pages).
    void finish();

    const ConformedSamples& conformed() const { return conformed_; }

private:
    [[noreturn]] void fail(const std::string& reason) const;

    std::string path_;
    OutputFormat format_;
    int channels_ = 0;
    FileIo io_;
    SNDFILE* file_ = nullptr;
    ConformedSamples conformed_;
};

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
