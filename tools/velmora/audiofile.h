#pragma once
// Audio files for the command-line tool, through libsndfile.
//
// AudioReader reads any file libsndfile understands as interleaved floats in [-1, 1].
// AudioWriter writes a new file under a temporary name beside the destination and moves it into
// place only when commit() succeeds, so a failed render never leaves a half-written output (nor
// replaces an existing one). One thread per object (a batch renders files on several threads);
// not copyable.

#include <cstdint>
#include <string>
#include <string_view>

struct sf_private_tag;

namespace velmora::cli {

enum class SampleFormat { float32, pcm24, pcm16 };
enum class FileType { wav, flac, aiff };

// "float", "pcm24", "pcm16"; false for anything else.
bool parseSampleFormat(std::string_view text, SampleFormat& format) noexcept;
const char* sampleFormatName(SampleFormat format) noexcept;
inline constexpr const char* kSampleFormatChoices = "float, pcm24, pcm16";

// The container an output path asks for by its extension (case-insensitive): .wav/.wave or none ->
// WAV, .flac -> FLAC, .aif/.aiff -> AIFF. False for any other extension.
bool fileTypeForPath(std::string_view path, FileType& type) noexcept;
inline constexpr const char* kFileTypeChoices = ".wav, .flac, .aiff (or .aif)";

class AudioReader {
public:
    AudioReader() = default;
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    // False with libsndfile's reason in error when the file cannot be opened or decoded.
    bool open(const std::string& path, std::string& error);
    std::int32_t channels() const noexcept { return channels_; }
    std::int32_t sampleRate() const noexcept { return sampleRate_; }
    // Length as the file's header states it (may be unknown for some streams: then <= 0).
    std::int64_t framesHint() const noexcept { return frames_; }
    // Reads up to `frames` interleaved frames; returns how many were read (0 at the end).
    std::int64_t read(float* interleaved, std::int64_t frames) noexcept;

private:
    sf_private_tag* file_ = nullptr;
    std::int32_t channels_ = 0;
    std::int32_t sampleRate_ = 0;
    std::int64_t frames_ = 0;
};

class AudioWriter {
public:
    AudioWriter() = default;
    // Removes the temporary file when commit() was not reached.
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Opens a temporary file beside `path`. Float samples written later are clipped to [-1, 1]
    // for the integer formats.
    bool open(const std::string& path, FileType type, SampleFormat format, std::int32_t channels,
              std::int32_t sampleRate, std::string& error);
    bool write(const float* interleaved, std::int64_t frames) noexcept;
    // Closes the file and renames it to the destination.
    bool commit(std::string& error);

private:
    void discard() noexcept;

    sf_private_tag* file_ = nullptr;
    std::string path_;
    std::string tempPath_;
};

}  // namespace velmora::cli
