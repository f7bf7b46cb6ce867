// Audio files through libsndfile: reading any format it knows, writing the
// container named by the output's extension into a temporary file beside the
// output, which replaces the output only once everything has been written.
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

    // Reads up to `frames` interleaved frames; answers how many were read.
    std::int64_t read(float* interleaved, std::int64_t frames);

private:
    std::string path_;
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
};

class AudioWriter {
public:
    // Creates the temporary file beside `path`; throws AudioFileError.
    AudioWriter(const std::string& path, const OutputFormat& format, int channels, int sampleRateHz);
    // Removes the temporary file unless commit() succeeded.
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Writes interleaved frames, clipping first when the format clips.
    void write(float* interleaved, std::int64_t frames);
    // Closes the file and moves it onto the output path.
    void commit();

    std::int64_t clippedSamples() const { return clippedSamples_; }

private:
    void discard();

    std::string path_;
    std::string temporaryPath_;
    OutputFormat format_;
    int channels_ = 0;
    SNDFILE* file_ = nullptr;
    bool committed_ = false;
    std::int64_t clippedSamples_ = 0;
};

// Clips samples to -1..1 in place (a NaN becomes 0); answers how many changed.
std::int64_t clipSamples(float* samples, std::int64_t count);

}  // namespace tapestop
