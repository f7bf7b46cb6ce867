#include "AudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tapestop {

namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

struct SampleFormatRow {
    SampleFormat format;
    const char* name;
    int subtype;
    const char* description;
};

constexpr std::array kSampleFormats{
    SampleFormatRow{SampleFormat::kPcm16, "pcm16", SF_FORMAT_PCM_16, "16-bit PCM"},
    SampleFormatRow{SampleFormat::kPcm24, "pcm24", SF_FORMAT_PCM_24, "24-bit PCM"},
    SampleFormatRow{SampleFormat::kFloat, "float", SF_FORMAT_FLOAT, "32-bit float"},
};

const SampleFormatRow& rowFor(SampleFormat format) {
    return *std::find_if(kSampleFormats.begin(), kSampleFormats.end(),
                         [format](const SampleFormatRow& row) { return row.format == format; });
}

// Containers by extension. A container that stores no choice of sample
// format (Vorbis) has no default; FLAC holds integers only.
struct ContainerRow {
    const char* extension;
    int major;
    const char* name;
    bool hasSampleFormat;
    SampleFormat defaultFormat;
};

constexpr std::array kContainers{
    ContainerRow{"wav", SF_FORMAT_WAV, "WAV", true, SampleFormat::kFloat},
    ContainerRow{"w64", SF_FORMAT_W64, "Wave64", true, SampleFormat::kFloat},
    ContainerRow{"aif", SF_FORMAT_AIFF, "AIFF", true, SampleFormat::kFloat},
    ContainerRow{"aiff", SF_FORMAT_AIFF, "AIFF", true, SampleFormat::kFloat},
    ContainerRow{"caf", SF_FORMAT_CAF, "CAF", true, SampleFormat::kFloat},
    ContainerRow{"flac", SF_FORMAT_FLAC, "FLAC", true, SampleFormat::kPcm24},
    ContainerRow{"ogg", SF_FORMAT_OGG, "OGG", false, SampleFormat::kFloat},
    ContainerRow{"oga", SF_FORMAT_OGG, "OGG", false, SampleFormat::kFloat},
};

std::string lowerExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string knownExtensions() {
    std::string list;
    for (const ContainerRow& row : kContainers) list += (list.empty() ? "." : ", .") + std::string(row.extension);
    return list;
}

const ContainerRow& containerFor(const std::string& path) {
    const std::string extension = lowerExtension(path);
    for (const ContainerRow& row : kContainers)
        if (extension == row.extension) return row;
    throw AudioFileError("cannot tell the output format of " + quoted(path) + " from its extension; use one of " +
                         knownExtensions());
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The permissions a newly created file would get, rather than mkstemp's 0600.
mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

SampleFormat parseSampleFormat(const std::string& text) {
    for (const SampleFormatRow& row : kSampleFormats)
        if (text == row.name) return row.format;
    throw AudioFileError("unknown sample format '" + text + "'; use pcm16, pcm24 or float");
}

std::string sampleFormatName(SampleFormat format) { return rowFor(format).name; }

OutputFormat outputFormatFor(const std::string& path, bool formatGiven, SampleFormat format) {
    const ContainerRow& container = containerFor(path);
    if (!container.hasSampleFormat) {
        if (formatGiven)
            throw AudioFileError(std::string(container.name) + " output is Vorbis-encoded; --format does not apply to " +
                                 quoted(path));
        return OutputFormat{container.major | SF_FORMAT_VORBIS, false, std::string(container.name) + ", Vorbis"};
    }
    const SampleFormatRow& sample = rowFor(formatGiven ? format : container.defaultFormat);
    OutputFormat result{container.major | sample.subtype, sample.format != SampleFormat::kFloat,
                        std::string(container.name) + ", " + sample.description};
    SF_INFO probe{};
    probe.channels = 2;
    probe.samplerate = 48000;
    probe.format = result.sndfileFormat;
    if (!sf_format_check(&probe))
        throw AudioFileError(std::string(container.name) + " cannot hold " + sample.description + " samples (" +
                             quoted(path) + "); choose another --format");
    return result;
}

// --- AudioReader

AudioReader::AudioReader(const std::string& path) : path_(path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        throw AudioFileError("cannot read input " + quoted(path) + ": " + std::strerror(errno));
    if (S_ISDIR(status.st_mode)) throw AudioFileError("cannot read input " + quoted(path) + ": it is a directory");
    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (file_ == nullptr)
        throw AudioFileError("cannot read input " + quoted(path) + ": " + sf_strerror(nullptr));
}

AudioReader::~AudioReader() { sf_close(file_); }

std::int64_t AudioReader::read(float* interleaved, std::int64_t frames) {
    const sf_count_t read = sf_readf_float(file_, interleaved, frames);
    if (read < frames && sf_error(file_) != SF_ERR_NO_ERROR)
        throw AudioFileError("error reading " + quoted(path_) + ": " + sf_strerror(file_));
    return read;
}

// --- AudioWriter

AudioWriter::AudioWriter(const std::string& path, const OutputFormat& format, int channels, int sampleRateHz)
    : path_(path), format_(format), channels_(channels) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        throw AudioFileError("cannot write output " + quoted(path) + ": it is a directory");
    std::string pattern = directoryOf(path) + "/." + baseNameOf(path) + ".tapestop-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw AudioFileError("cannot write output " + quoted(path) + ": " + std::strerror(errno));
    temporaryPath_ = pattern;
    ::fchmod(fd, newFileMode());
    ::close(fd);
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRateHz;
    info.format = format.sndfileFormat;
    file_ = sf_open(temporaryPath_.c_str(), SFM_WRITE, &info);
    if (file_ == nullptr) {
        const std::string reason = sf_strerror(nullptr);
        discard();
        throw AudioFileError("cannot write output " + quoted(path) + " as " + format.description + ": " + reason);
    }
    // Our own clipping runs first; this keeps libsndfile from ever wrapping.
    if (format.clips) sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioWriter::~AudioWriter() {
    if (!committed_) discard();
}

void AudioWriter::write(float* interleaved, std::int64_t frames) {
    if (format_.clips) clippedSamples_ += clipSamples(interleaved, frames * channels_);
    if (sf_writef_float(file_, interleaved, frames) != frames)
        throw AudioFileError("error writing " + quoted(path_) + ": " + sf_strerror(file_));
}

void AudioWriter::commit() {
    SNDFILE* file = file_;
    file_ = nullptr;
    if (sf_close(file) != 0) throw AudioFileError("error finishing " + quoted(path_) + ": " + sf_strerror(nullptr));
    if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0)
        throw AudioFileError("cannot move the finished output onto " + quoted(path_) + ": " + std::strerror(errno));
    committed_ = true;
}

void AudioWriter::discard() {
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
    if (!temporaryPath_.empty()) std::remove(temporaryPath_.c_str());
}

std::int64_t clipSamples(float* samples, std::int64_t count) {
    std::int64_t clipped = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        const float sample = samples[i];
        if (sample >= -1.0f && sample <= 1.0f) continue;
        samples[i] = std::isnan(sample) ? 0.0f : std::clamp(sample, -1.0f, 1.0f);
        ++clipped;
    }
    return clipped;
}

}  // namespace tapestop
