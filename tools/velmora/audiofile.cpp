#include "tools/velmora/audiofile.h"

#include <sndfile.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velmora::cli {

bool parseSampleFormat(std::string_view text, SampleFormat& format) noexcept {
    if (text == "float") {
        format = SampleFormat::float32;
    } else if (text == "pcm24") {
        format = SampleFormat::pcm24;
    } else if (text == "pcm16") {
        format = SampleFormat::pcm16;
    } else {
        return false;
    }
    return true;
}

const char* sampleFormatName(SampleFormat format) noexcept {
    switch (format) {
        case SampleFormat::float32:
            return "float";
        case SampleFormat::pcm24:
            return "pcm24";
        case SampleFormat::pcm16:
            return "pcm16";
    }
    return "?";
}

bool fileTypeForPath(std::string_view path, FileType& type) noexcept {
    const std::size_t slash = path.find_last_of('/');
    const std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) {
        type = FileType::wav;
        return true;
    }
    std::string ext;
    for (char c : base.substr(dot + 1)) ext += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "wav" || ext == "wave") {
        type = FileType::wav;
    } else if (ext == "flac") {
        type = FileType::flac;
    } else if (ext == "aif" || ext == "aiff") {
        type = FileType::aiff;
    } else {
        return false;
    }
    return true;
}

AudioReader::~AudioReader() {
    if (file_) sf_close(file_);
}

bool AudioReader::open(const std::string& path, std::string& error) {
    SF_INFO info{};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (!file_) {
        error = sf_strerror(nullptr);
        return false;
    }
    channels_ = info.channels;
    sampleRate_ = info.samplerate;
    frames_ = info.frames;
    return true;
}

std::int64_t AudioReader::read(float* interleaved, std::int64_t frames) noexcept {
    if (!file_ || frames <= 0) return 0;
    const sf_count_t got = sf_readf_float(file_, interleaved, frames);
    return got > 0 ? got : 0;
}

AudioWriter::~AudioWriter() {
    discard();
}

void AudioWriter::discard() noexcept {
    if (file_) {
        sf_close(file_);
        file_ = nullptr;
    }
    if (!tempPath_.empty()) {
        std::remove(tempPath_.c_str());
        tempPath_.clear();
    }
}

bool AudioWriter::open(const std::string& path, FileType type, SampleFormat format, std::int32_t channels,
                       std::int32_t sampleRate, std::string& error) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    int major = SF_FORMAT_WAV;
    if (type == FileType::flac) major = SF_FORMAT_FLAC;
    if (type == FileType::aiff) major = SF_FORMAT_AIFF;
    int minor = SF_FORMAT_FLOAT;
    if (format == SampleFormat::pcm24) minor = SF_FORMAT_PCM_24;
    if (format == SampleFormat::pcm16) minor = SF_FORMAT_PCM_16;
    info.format = major | minor;
    if (!sf_format_check(&info)) {
        error = std::string("this file type cannot hold ") + sampleFormatName(format) + " samples at " +
                std::to_string(sampleRate) + " Hz";
        return false;
    }
    path_ = path;
    tempPath_ = path + ".partial-" + std::to_string(static_cast<long>(getpid()));
    file_ = sf_open(tempPath_.c_str(), SFM_WRITE, &info);
    if (!file_) {
        error = std::string("cannot write \"") + path + "\": " + sf_strerror(nullptr);
        tempPath_.clear();
        return false;
    }
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool AudioWriter::write(const float* interleaved, std::int64_t frames) noexcept {
    if (!file_) return false;
    return frames <= 0 || sf_writef_float(file_, interleaved, frames) == frames;
}

bool AudioWriter::commit(std::string& error) {
    if (!file_) {
        error = "no output file is open";
        return false;
    }
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        error = std::string("cannot finish \"") + path_ + "\": " + sf_error_number(closed);
        discard();
        return false;
    }
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        error = std::string("cannot write \"") + path_ + "\": " + std::strerror(errno);
        discard();
        return false;
    }
    tempPath_.clear();
    return true;
}

}  // namespace velmora::cli
