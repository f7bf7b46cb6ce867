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
#include <optional>
#include <utility>

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
// format (Vorbis) has no default; FLAC holds integers only. The Vorbis
// encoder refuses rates above 200 kHz, and only at the first write. WAV and
// AIFF count their bytes in 32 bits: a WAV that would not fit is written as
// RF64 (the same layout with 64-bit sizes, as broadcast tools do), an AIFF
// is refused.
struct ContainerRow {
    const char* extension;
    int major;
    const char* name;
    bool hasSampleFormat;
    SampleFormat defaultFormat;
    int maxSampleRateHz;
    bool countsIn32Bits;
    int majorBeyond32Bits;  // 0: none
};

constexpr int kAnyRate = 0;
constexpr int kVorbisMaxRateHz = 200000;

constexpr std::array kContainers{
    ContainerRow{"wav", SF_FORMAT_WAV, "WAV", true, SampleFormat::kFloat, kAnyRate, true, SF_FORMAT_RF64},
    ContainerRow{"w64", SF_FORMAT_W64, "Wave64", true, SampleFormat::kFloat, kAnyRate, false, 0},
    ContainerRow{"aif", SF_FORMAT_AIFF, "AIFF", true, SampleFormat::kFloat, kAnyRate, true, 0},
    ContainerRow{"aiff", SF_FORMAT_AIFF, "AIFF", true, SampleFormat::kFloat, kAnyRate, true, 0},
    ContainerRow{"caf", SF_FORMAT_CAF, "CAF", true, SampleFormat::kFloat, kAnyRate, false, 0},
    ContainerRow{"flac", SF_FORMAT_FLAC, "FLAC", true, SampleFormat::kPcm24, kAnyRate, false, 0},
    ContainerRow{"ogg", SF_FORMAT_OGG, "OGG", false, SampleFormat::kFloat, kVorbisMaxRateHz, false, 0},
    ContainerRow{"oga", SF_FORMAT_OGG, "OGG", false, SampleFormat::kFloat, kVorbisMaxRateHz, false, 0},
};

// The most a 32-bit size field counts, less room for every chunk but the
// audio (libsndfile's headers take well under a kilobyte).
constexpr std::int64_t k32BitSizeLimitBytes = 0xFFFFFFFFLL;
constexpr std::int64_t kHeaderAllowanceBytes = 4096;
constexpr double kBytesPerGigabyte = 1e9;

// Bytes per frame of the encodings whose size is fixed, to turn a header's
// byte count into frames.
struct SampleSizeRow {
    int subtype;
    int bytes;
};

constexpr std::array kSampleSizes{
    SampleSizeRow{SF_FORMAT_PCM_S8, 1}, SampleSizeRow{SF_FORMAT_PCM_U8, 1}, SampleSizeRow{SF_FORMAT_PCM_16, 2},
    SampleSizeRow{SF_FORMAT_PCM_24, 3}, SampleSizeRow{SF_FORMAT_PCM_32, 4}, SampleSizeRow{SF_FORMAT_FLOAT, 4},
    SampleSizeRow{SF_FORMAT_DOUBLE, 8}, SampleSizeRow{SF_FORMAT_ULAW, 1},   SampleSizeRow{SF_FORMAT_ALAW, 1},
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

// Where a container's header states its length, as libsndfile's log shows
// it: the audio chunk's bytes ("data : 384000 (should be 8000)"; a Wave64
// chunk's size counts its own 24-byte header; AIFF's SSND chunk starts with
// 8 bytes of offset and block size) or the frames themselves (AIFF's COMM
// chunk, RF64's ds64 chunk). Where a header states both, the larger counts.
struct AnnouncedLengthRow {
    int major;
    const char* field;
    bool inFrames;
    long long chunkHeaderBytes;
};

constexpr long long kW64ChunkHeaderBytes = 24;
constexpr long long kAiffSoundHeaderBytes = 8;

constexpr std::array kAnnouncedLengths{
    AnnouncedLengthRow{SF_FORMAT_WAV, "\ndata : ", false, 0},
    AnnouncedLengthRow{SF_FORMAT_WAVEX, "\ndata : ", false, 0},
    AnnouncedLengthRow{SF_FORMAT_W64, "\ndata : ", false, kW64ChunkHeaderBytes},
    AnnouncedLengthRow{SF_FORMAT_AIFF, "\n  Frames      : ", true, 0},
    AnnouncedLengthRow{SF_FORMAT_AIFF, "\n SSND : ", false, kAiffSoundHeaderBytes},
    AnnouncedLengthRow{SF_FORMAT_RF64, "\n  Frames    : ", true, 0},
};

// A chunk size of all ones is what streaming writers put there when they
// cannot know the length, and announces nothing.
constexpr long long kUnknownChunkBytes = 0xFFFFFFFFLL;

std::string logOf(SNDFILE* file) {
    std::string log(16384, '\0');
    sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    log.resize(std::strlen(log.c_str()));
    return log;
}

// The number after `field` in the log, if the field is there.
std::optional<long long> logNumber(const std::string& log, const std::string& field) {
    const auto at = log.find(field);
    long long number = 0;
    if (at == std::string::npos || std::sscanf(log.c_str() + at + field.size(), "%lld", &number) != 1)
        return std::nullopt;
    return number;
}

// Bytes per sample of a libsndfile format; 0 for an encoding of no fixed size.
int sampleBytesOf(int sndfileFormat) {
    const auto size = std::find_if(kSampleSizes.begin(), kSampleSizes.end(), [&](const SampleSizeRow& row) {
        return row.subtype == (sndfileFormat & SF_FORMAT_SUBMASK);
    });
    return size == kSampleSizes.end() ? 0 : size->bytes;
}

// What the header says about the length, against what libsndfile found.
// Guarded by Render.ACutShortInputIsRenderedWithAWarning (a WAV and an AIFF).
InputLength lengthOf(SNDFILE* file, const SF_INFO& info) {
    const std::int64_t present = info.frames == SF_COUNT_MAX ? -1 : info.frames;
    InputLength length{present, std::max<std::int64_t>(present, 0)};
    const int frameBytes = sampleBytesOf(info.format) * info.channels;
    if (frameBytes == 0 || length.frames < 0) return length;
    const std::string log = logOf(file);
    const int major = info.format & SF_FORMAT_TYPEMASK;
    for (const AnnouncedLengthRow& row : kAnnouncedLengths) {
        if (row.major != major) continue;
        const std::optional<long long> stated = logNumber(log, row.field);
        if (stated && *stated != kUnknownChunkBytes) {
            const long long frames = row.inFrames ? *stated : (*stated - row.chunkHeaderBytes) / frameBytes;
            length.announcedFrames = std::max<long long>({frames, info.frames, length.announcedFrames});
        }
        // A WAV whose writer never filled in the audio chunk's size: the
        // parser takes the audio for further chunks, and says where they began.
        const std::optional<long long> fileBytes = logNumber(log, "Length : ");
        const std::optional<long long> audioStart = logNumber(log, ") at position ");
        if (!row.inFrames && stated == 0 && fileBytes && audioStart && *fileBytes > *audioStart)
            length.unclaimedFrames = (*fileBytes - *audioStart) / frameBytes;
    }
    return length;
}

constexpr std::int64_t kWritebackBytes = 8 << 20;

sf_count_t fileLength(void* user) {
    struct stat status {};
    return ::fstat(static_cast<FileIo*>(user)->fd, &status) == 0 ? status.st_size : -1;
}

sf_count_t seekFile(sf_count_t offset, int whence, void* user) {
    return ::lseek(static_cast<FileIo*>(user)->fd, offset, whence);
}

sf_count_t tellFile(void* user) { return ::lseek(static_cast<FileIo*>(user)->fd, 0, SEEK_CUR); }

// Whole transfers, retried where the kernel moved less; the first failure's
// reason is kept for the message.
template <typename Transfer, typename Bytes>
sf_count_t transferAll(FileIo& io, Bytes* bytes, sf_count_t count, Transfer transfer) {
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t moved = transfer(io.fd, bytes + done, static_cast<std::size_t>(count - done));
        if (moved < 0 && errno == EINTR) continue;
        if (moved <= 0) {
            if (moved < 0 && io.firstError == 0) io.firstError = errno;
            break;
        }
        done += moved;
    }
    return done;
}

sf_count_t readFile(void* buffer, sf_count_t count, void* user) {
    return transferAll(*static_cast<FileIo*>(user), static_cast<char*>(buffer), count, ::read);
}

// Every few megabytes the disk is asked to start writing what has come so
// far, without waiting for it: the writing then overlaps the render, and the
// fsync that makes the file durable at the end finds little left to do.
sf_count_t writeFile(const void* buffer, sf_count_t count, void* user) {
    auto& io = *static_cast<FileIo*>(user);
    const sf_count_t written = transferAll(io, static_cast<const char*>(buffer), count, ::write);
    io.bytesSinceWriteback += written;
    if (io.bytesSinceWriteback >= kWritebackBytes) {
        ::sync_file_range(io.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        io.bytesSinceWriteback = 0;
    }
    return written;
}

SF_VIRTUAL_IO kDescriptorIo{fileLength, seekFile, readFile, writeFile, tellFile};

// Magnitudes compared as the bits of positive floats, whose order is the
// order of their values: no serial chain of float compares, and NaN and
// infinity sorted out on the way.
constexpr std::int32_t kMagnitudeMask = 0x7fffffff;
constexpr std::int32_t kInfinityBits = 0x7f800000;
constexpr int kLevelLanes = 4;  // samples per step of the level scan: one vector register

// The largest magnitude in the block, NaN and infinity sorting above every
// number, as the bits of a positive float. Four lanes at once as one vector
// value; signed lanes, since magnitudes are below 2^31 and signed compares
// are the ones every x86-64 vector unit has.
std::int32_t largestMagnitudeBits(const float* samples, std::int64_t count) {
    using Lanes = std::int32_t __attribute__((vector_size(kLevelLanes * sizeof(std::int32_t))));
    Lanes largest{};
    const auto addLanes = [&](const Lanes& bits) {
        const Lanes magnitude = bits & kMagnitudeMask;
        const Lanes larger = magnitude > largest;
        largest = (magnitude & larger) | (largest & ~larger);
    };
    std::int64_t i = 0;
    for (; i + kLevelLanes <= count; i += kLevelLanes) {
        Lanes bits;
        std::memcpy(&bits, samples + i, sizeof bits);
        addLanes(bits);
    }
    Lanes rest{};  // zeros count as silence
    std::memcpy(&rest, samples + i, static_cast<std::size_t>(count - i) * sizeof(float));
    addLanes(rest);
    std::int32_t result = 0;
    for (int lane = 0; lane < kLevelLanes; ++lane) result = std::max(result, largest[lane]);
    return result;
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
        return OutputFormat{container.major | SF_FORMAT_VORBIS, false, false, std::string(container.name) + ", Vorbis",
                            container.maxSampleRateHz, false, ""};
    }
    const SampleFormatRow& sample = rowFor(formatGiven ? format : container.defaultFormat);
    const bool isFloat = sample.format == SampleFormat::kFloat;
    OutputFormat result{container.major | sample.subtype, !isFloat, isFloat,
                        std::string(container.name) + ", " + sample.description, container.maxSampleRateHz, false, ""};
    SF_INFO probe{};
    probe.channels = 2;
    probe.samplerate = 48000;
    probe.format = result.sndfileFormat;
    if (!sf_format_check(&probe))
        throw AudioFileError(std::string(container.name) + " cannot hold " + sample.description + " samples (" +
                             quoted(path) + "); choose another --format");
    return result;
}

OutputFormat fittedToLength(const OutputFormat& format, const std::string& path, std::int64_t frames, int channels) {
    const ContainerRow& container = containerFor(path);
    if (!container.countsIn32Bits) return format;
    const std::int64_t audioBytes = frames * channels * sampleBytesOf(format.sndfileFormat);
    if (frames >= 0 && audioBytes + kHeaderAllowanceBytes <= k32BitSizeLimitBytes) return format;
    const std::string encoding = format.description.substr(format.description.find(','));
    char gigabytes[32];
    std::snprintf(gigabytes, sizeof gigabytes, "%.2f GB", static_cast<double>(audioBytes) / kBytesPerGigabyte);
    if (container.majorBeyond32Bits == 0) {
        if (frames < 0) return format;  // an input of unknown length: nothing to decide on
        throw AudioFileError("cannot write output " + quoted(path) + ": its " + gigabytes + " of audio are more than " +
                             container.name + " can hold (4 GiB); choose .wav (written as RF64), .w64 or .caf");
    }
    OutputFormat fitted = format;
    fitted.sndfileFormat = container.majorBeyond32Bits | (format.sndfileFormat & SF_FORMAT_SUBMASK);
    if (frames < 0) {
        fitted.autoDowngrade = true;
        return fitted;
    }
    fitted.description = "RF64" + encoding;
    fitted.note = std::string(gigabytes) + " of audio are more than " + container.name +
                  " can hold (4 GiB): written as RF64, its 64-bit form";
    return fitted;
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
    length_ = lengthOf(file_, info_);
}

AudioReader::~AudioReader() { sf_close(file_); }

std::int64_t AudioReader::read(float* interleaved, std::int64_t frames) {
    const sf_count_t read = sf_readf_float(file_, interleaved, frames);
    if (read < frames && sf_error(file_) != SF_ERR_NO_ERROR)
        throw AudioFileError("error reading " + quoted(path_) + ": " + sf_strerror(file_));
    return read;
}

// --- AudioWriter

AudioWriter::AudioWriter(int fd, const std::string& path, const OutputFormat& format, int channels, int sampleRateHz)
    : path_(path), format_(format), channels_(channels), io_{fd} {
    if (format.maxSampleRateHz != kAnyRate && sampleRateHz > format.maxSampleRateHz)
        throw AudioFileError("cannot write output " + quoted(path) + ": " + format.description + " holds at most " +
                             std::to_string(format.maxSampleRateHz) + " Hz, the input has " +
                             std::to_string(sampleRateHz) + " Hz; choose .wav, .w64 or .caf");
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRateHz;
    info.format = format.sndfileFormat;
    file_ = sf_open_virtual(&kDescriptorIo, SFM_WRITE, &info, &io_);
    if (file_ == nullptr)
        throw AudioFileError("cannot write output " + quoted(path) + " as " + format.description + " at " +
                             std::to_string(sampleRateHz) + " Hz: " + sf_strerror(nullptr));
    // The render measures its own peak; libsndfile's optional PEAK chunk
    // would scan every sample a second time.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    // Our own clipping runs first; this keeps libsndfile from ever wrapping.
    if (format.clips) sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (format.autoDowngrade) sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
}

AudioWriter::~AudioWriter() {
    if (file_ != nullptr) sf_close(file_);
}

// A failed write's reason is the system's where there was one: libsndfile's
// own text for it can be "Not a valid error number" or "bug in libsndfile".
void AudioWriter::fail(const std::string& reason) const {
    throw AudioFileError("cannot write output " + quoted(path_) + ": " +
                         (io_.firstError != 0 ? std::string(std::strerror(io_.firstError)) : reason));
}

void AudioWriter::write(float* interleaved, std::int64_t frames) {
    conformed_.conform(format_, interleaved, frames * channels_);
    if (sf_writef_float(file_, interleaved, frames) != frames || io_.firstError != 0) fail(sf_strerror(file_));
}

void AudioWriter::finish() {
    SNDFILE* file = std::exchange(file_, nullptr);
    const int closed = sf_close(file);
    if (closed != 0 || io_.firstError != 0) fail(sf_error_number(closed));
}

void ConformedSamples::conform(const OutputFormat& format, float* samples, std::int64_t count) {
    if (!format.clips && format.holdsNonFinite) return;
    for (std::int64_t i = 0; i < count; ++i) {
        const float sample = samples[i];
        if (sample >= -1.0f && sample <= 1.0f) continue;
        if (std::isnan(sample)) {
            samples[i] = 0.0f;
            ++nan;
        } else if (std::isinf(sample)) {
            samples[i] = std::copysign(1.0f, sample);
            ++infinite;
        } else if (format.clips) {
            samples[i] = std::clamp(sample, -1.0f, 1.0f);
            ++clipped;
        }
    }
}

void SampleLevels::add(const float* samples, std::int64_t count) {
    const std::int32_t largest = largestMagnitudeBits(samples, count);
    // Guarded by Render.NanAndInfiniteOutputIsCountedAndWarned.
    if (largest >= kInfinityBits) {
        addNonFinite(samples, count);
        return;
    }
    float blockPeak;
    std::memcpy(&blockPeak, &largest, sizeof blockPeak);
    peak = std::max(peak, blockPeak);
}

// The rare block that holds NaN or infinity, one sample at a time.
void SampleLevels::addNonFinite(const float* samples, std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i) {
        if (std::isnan(samples[i])) {
            ++nanSamples;
        } else if (std::isinf(samples[i])) {
            ++infiniteSamples;
        } else {
            peak = std::max(peak, std::fabs(samples[i]));
        }
    }
}

}  // namespace tapestop
