#pragma once
// Helpers for the command-line tool's tests: a temporary folder and plain file I/O through
// libsndfile.

#include <sndfile.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora::cli::test {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-cli-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }
    // Names of every entry, to prove nothing (not even a temporary) was left behind.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename());
        return names;
    }

private:
    std::string path_;
};

struct Audio {
    std::int32_t channels = 0;
    std::int32_t sampleRate = 0;
    int format = 0;              // libsndfile's format word
    std::vector<float> samples;  // interleaved
    std::int64_t frames() const {
        return channels ? static_cast<std::int64_t>(samples.size()) / channels : 0;
    }
    float at(std::int64_t frame, std::int32_t channel) const {
        return samples[static_cast<std::size_t>(frame * channels + channel)];
    }
};

inline bool writeAudio(const std::string& path, const Audio& audio,
                       int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
    SF_INFO info{};
    info.channels = audio.channels;
    info.samplerate = audio.sampleRate;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const sf_count_t written = sf_writef_float(file, audio.samples.data(), audio.frames());
    sf_close(file);
    return written == audio.frames();
}

inline Audio readAudio(const std::string& path) {
    Audio audio;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return audio;
    audio.channels = info.channels;
    audio.sampleRate = info.samplerate;
    audio.format = info.format;
    audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(file, audio.samples.data(), info.frames);
    audio.samples.resize(static_cast<std::size_t>(got * info.channels));
    sf_close(file);
    return audio;
}

// Deterministic white noise in [-amplitude, amplitude).
inline std::vector<float> noise(std::size_t count, float amplitude, std::uint32_t seed = 1) {
    std::vector<float> out(count);
    for (float& s : out) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<float>(static_cast<std::int32_t>(seed)) * (amplitude / 2147483648.0f);
    }
    return out;
}

inline Audio monoAudio(std::vector<float> samples, std::int32_t rate) {
    Audio a;
    a.channels = 1;
    a.sampleRate = rate;
    a.samples = std::move(samples);
    return a;
}

inline Audio stereoAudio(const std::vector<float>& left, const std::vector<float>& right, std::int32_t rate) {
    Audio a;
    a.channels = 2;
    a.sampleRate = rate;
    for (std::size_t i = 0; i < left.size(); ++i) {
        a.samples.push_back(left[i]);
        a.samples.push_back(right[i]);
    }
    return a;
}

}  // namespace velmora::cli::test
