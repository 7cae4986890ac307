#include "tools/velmora/render.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "effect/main.h"
#include "korvo/client/presetfile.h"
#include "korvo/core/fpcontrol.h"
#include "tools/demo/demo.h"

namespace velmora::cli {

namespace {

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string numberText(double value) {
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Whole decimal number without sign or trailing text.
bool parseIndex(std::string_view text, std::int64_t& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool parseBoundedInt(std::string_view text, std::int32_t min, std::int32_t max, std::int32_t& value) {
    std::int64_t v = 0;
    if (!parseIndex(text, v) || v < min || v > max) return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

std::string parameterList(const VelmoraClient& client) {
    std::string list;
    for (std::int32_t i = 0; i < client.parameterCount(); ++i) {
        if (i > 0) list += ", ";
        list += quoted(client.parameter(i).name());
    }
    return list;
}

// What a parameter accepts, in words: "yes" or "no", one of "sine", ..., a number from -90 to 90.
std::string validValues(const korvo::Parameter& parameter) {
    if (dynamic_cast<const korvo::BoolParameter*>(&parameter)) return "\"yes\" or \"no\"";
    if (const auto* e = dynamic_cast<const korvo::EnumParameter*>(&parameter)) {
        std::string text = "one of ";
        for (std::int32_t i = 0; i < e->possibleValueCount(); ++i) {
            if (i > 0) text += ", ";
            text += quoted(e->possibleValue(i));
        }
        return text;
    }
    if (const auto* n = dynamic_cast<const korvo::IntegerParameter*>(&parameter)) {
        return "a whole number from " + std::to_string(n->minValue()) + " to " +
               std::to_string(n->maxValue());
    }
    if (const auto* f = dynamic_cast<const korvo::FloatParameter*>(&parameter)) {
        std::string text = "a number from " + numberText(f->minValue()) + " to " + numberText(f->maxValue());
        if (!f->label().empty()) text += " " + f->label();
        return text;
    }
    return "a value";
}

// Refuses numbers the parameter would silently clamp (or map NaN to its minimum).
bool numberInRange(const korvo::Parameter& parameter, std::string_view text) {
    double lo = 0.0, hi = 0.0;
    if (const auto* n = dynamic_cast<const korvo::IntegerParameter*>(&parameter)) {
        if (dynamic_cast<const korvo::EnumParameter*>(&parameter)) return true;
        lo = n->minValue();
        hi = n->maxValue();
    } else if (const auto* f = dynamic_cast<const korvo::FloatParameter*>(&parameter)) {
        lo = f->minValue();
        hi = f->maxValue();
    } else {
        return true;
    }
    const std::string copy(text);
    char* end = nullptr;
    const double parsed = std::strtod(copy.c_str(), &end);
    if (end == copy.c_str()) return true;  // not a number at all: parseToNormalized already ruled
    // The parameters read text into a float; compare what they would store.
    const double value = static_cast<double>(static_cast<float>(parsed));
    if (std::isnan(value)) return false;
    return value >= lo && value <= hi;
}

// The input stream: a file or the demo signal, read as interleaved frames.
class Source {
public:
    bool openFile(const std::string& path, std::string& error) {
        std::string reason;
        if (!reader_.open(path, reason)) {
            error = "cannot read " + quoted(path) + ": " + reason;
            return false;
        }
        if (reader_.channels() != 1 && reader_.channels() != 2) {
            error = quoted(path) + " has " + std::to_string(reader_.channels()) +
                    " channels; valid inputs are mono (1) or stereo (2)";
            return false;
        }
        if (reader_.sampleRate() <= 0) {
            error = quoted(path) + " has no valid sample rate";
            return false;
        }
        channels_ = reader_.channels();
        sampleRate_ = reader_.sampleRate();
        framesHint_ = reader_.framesHint();
        return true;
    }

    void openDemo(std::int32_t sampleRate) {
        demo_ = makeDemoSignal(sampleRate);
        isDemo_ = true;
        channels_ = 1;
        sampleRate_ = sampleRate;
        framesHint_ = static_cast<std::int64_t>(demo_.size());
    }

    std::int32_t channels() const noexcept { return channels_; }
    std::int32_t sampleRate() const noexcept { return sampleRate_; }
    std::int64_t framesHint() const noexcept { return framesHint_; }

    std::int64_t read(float* interleaved, std::int64_t frames) {
        if (!isDemo_) return reader_.read(interleaved, frames);
        const std::int64_t left = static_cast<std::int64_t>(demo_.size()) - demoPosition_;
        const std::int64_t n = std::max<std::int64_t>(0, std::min(frames, left));
        std::copy_n(demo_.begin() + demoPosition_, n, interleaved);
        demoPosition_ += n;
        return n;
    }

private:
    AudioReader reader_;
    std::vector<float> demo_;
    std::int64_t demoPosition_ = 0;
    bool isDemo_ = false;
    std::int32_t channels_ = 0;
    std::int32_t sampleRate_ = 0;
    std::int64_t framesHint_ = 0;
};

// A progress bar on stderr, drawn only once a render has run for two seconds.
class Progress {
public:
    Progress(bool enabled, std::int64_t total) : enabled_(enabled && total > 0), total_(total) {
        start_ = std::chrono::steady_clock::now();
    }
    ~Progress() {
        if (shown_) std::fputs("\n", stderr);
    }

    // Draws the full bar when one is showing; the line ends when the bar goes away.
    void finish() {
        if (shown_) draw(100);
    }

    void update(std::int64_t done) {
        if (!enabled_ || ++calls_ % 64 != 0) return;
        const auto elapsed = std::chrono::steady_clock::now() - start_;
        if (!shown_ && elapsed < std::chrono::seconds(2)) return;
        const int percent = static_cast<int>(std::min<std::int64_t>(100, done * 100 / total_));
        if (shown_ && percent == lastPercent_) return;
        shown_ = true;
        draw(percent);
    }

private:
    void draw(int percent) {
        lastPercent_ = percent;
        char bar[41];
        const int filled = percent * 40 / 100;
        for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
        bar[40] = '\0';
        std::fprintf(stderr, "\rvelmora render [%s] %3d%%", bar, percent);
        std::fflush(stderr);
    }

    bool enabled_;
    bool shown_ = false;
    int lastPercent_ = -1;
    std::int64_t total_;
    std::int64_t calls_ = 0;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace

const char* renderUsage() noexcept {
    return "usage: velmora render [INPUT] OUTPUT [options]\n"
           "       velmora render INPUT... --out-dir DIR [options]\n"
           "  Runs INPUT (any file libsndfile reads, mono or stereo) through the effect and writes a\n"
           "  stereo OUTPUT that includes the effect's whole tail. Without INPUT a built-in demo signal\n"
           "  (clicks, a melody, pink-noise bursts; mono) is rendered. OUTPUT is WAV, or FLAC / AIFF by\n"
           "  its extension (.wav, .flac, .aiff, .aif).\n"
           "options:\n"
           "  --preset NAME|INDEX     a factory preset, by exact name or index (see velmora info), or a\n"
           "                          preset file (FILE.vstpreset)\n"
           "  --set NAME=VALUE        a parameter in its own text form, e.g. --set Pan=-45,\n"
           "                          --set \"Test Mono=yes\", --set \"LFO Wave=saw\" (repeatable; applied\n"
           "                          in order, after the preset)\n"
           "  --block FRAMES          host block size, 1 to 65536 (default 512)\n"
           "  --rate HZ               sample rate of the demo signal, 8000 to 384000 (default 48000);\n"
           "                          with INPUT the file's own rate is used and --rate is refused\n"
           "  --format float|pcm24|pcm16\n"
           "                          sample format (default float; pcm24 for .flac, which holds no floats)\n"
           "  --compensate-latency    drop the effect's reported latency so the output lines up with\n"
           "                          the input\n"
           "  --cold-start            start as the plug-in does after a reset, its glides moving from\n"
           "                          their start values during the first few hundred milliseconds\n"
           "                          (by default the render starts settled at the requested settings,\n"
           "                          as a host's export does after its pre-roll)\n"
           "  --out-dir DIR           render every INPUT into DIR (made if missing) under its own file\n"
           "                          name (.wav when its type cannot be written), on all cores; a file\n"
           "                          that fails is reported and the others are still rendered\n"
           "  --jobs N                with --out-dir: render N files at a time (default: one per core)\n"
           "exit codes: 0 done, 2 bad argument, file, parameter, value or preset (nothing written),\n"
           "            1 the output could not be written; for --out-dir the code of the first file\n"
           "            that failed\n";
}

bool parseRenderArguments(std::span<const std::string> args, RenderOptions& options, std::string& error) {
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasInlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasInlineValue = true;
            }
        }
        const auto takeValue = [&](const char* what) {
            if (hasInlineValue) return true;
            if (i + 1 >= args.size()) {
                error = arg + " needs a value: " + what;
                return false;
            }
            value = args[++i];
            return true;
        };

        if (arg == "-h" || arg == "--help") {
            options.helpRequested = true;
        } else if (arg == "--preset") {
            if (!takeValue("a preset name or index")) return false;
            options.preset = value;
        } else if (arg == "--set") {
            if (!takeValue("NAME=VALUE")) return false;
            options.settings.push_back(value);
        } else if (arg == "--block") {
            if (!takeValue("FRAMES")) return false;
            if (!parseBoundedInt(value, kMinBlockFrames, kMaxBlockFrames, options.blockFrames)) {
                error = "invalid --block " + quoted(value) + "; valid: a whole number of frames from " +
                        std::to_string(kMinBlockFrames) + " to " + std::to_string(kMaxBlockFrames);
                return false;
            }
        } else if (arg == "--rate") {
            if (!takeValue("HZ")) return false;
            if (!parseBoundedInt(value, kMinDemoRate, kMaxDemoRate, options.sampleRate)) {
                error = "invalid --rate " + quoted(value) + "; valid: a whole number of Hz from " +
                        std::to_string(kMinDemoRate) + " to " + std::to_string(kMaxDemoRate);
                return false;
            }
            options.sampleRateGiven = true;
        } else if (arg == "--format") {
            if (!takeValue(kSampleFormatChoices)) return false;
            if (!parseSampleFormat(value, options.format)) {
                error = "invalid --format " + quoted(value) + "; valid: " + kSampleFormatChoices;
                return false;
            }
            options.formatGiven = true;
        } else if (arg == "--compensate-latency" && !hasInlineValue) {
            options.compensateLatency = true;
        } else if (arg == "--cold-start" && !hasInlineValue) {
            options.coldStart = true;
        } else if (arg == "--out-dir") {
            if (!takeValue("DIR")) return false;
            if (value.empty()) {
                error = "empty --out-dir folder name";
                return false;
            }
            options.outDir = value;
        } else if (arg == "--jobs") {
            if (!takeValue("N")) return false;
            if (!parseBoundedInt(value, 1, kMaxJobs, options.jobs)) {
                error = "invalid --jobs " + quoted(value) + "; valid: a whole number from 1 to " +
                        std::to_string(kMaxJobs);
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + quoted(args[i]) +
                    "; valid: --preset, --set, --block, --rate, --format, --compensate-latency, --cold-start, "
                    "--out-dir, --jobs";
            return false;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (options.helpRequested) return true;

    if (!options.outDir.empty()) {
        // A batch: every file name is an input; outputs are named after them (batch.h).
        if (positional.empty()) {
            error = "missing INPUT files; usage: velmora render INPUT... --out-dir DIR [options]";
            return false;
        }
        if (options.sampleRateGiven) {
            error = "--rate applies to the demo signal only; INPUT files are rendered at their own rate";
            return false;
        }
        for (const std::string& input : positional) {
            if (input.empty()) {
                error = "empty INPUT file name";
                return false;
            }
        }
        options.batchInputs = positional;
        return true;
    }
    if (options.jobs != 0) {
        error = "--jobs applies to a batch (INPUT... --out-dir DIR)";
        return false;
    }

    if (positional.empty() || positional.size() > 2) {
        error = positional.empty() ? "missing OUTPUT; usage: velmora render [INPUT] OUTPUT [options]"
                                   : "too many file names (" + std::to_string(positional.size()) +
                                         "); usage: velmora render [INPUT] OUTPUT [options]";
        return false;
    }
    options.outputPath = positional.back();
    options.inputPath = positional.size() == 2 ? positional[0] : std::string();
    if (options.outputPath.empty()) {
        error = "empty OUTPUT file name";
        return false;
    }
    if (!fileTypeForPath(options.outputPath, options.fileType)) {
        error = "unknown output file type " + quoted(options.outputPath) +
                "; valid extensions: " + kFileTypeChoices;
        return false;
    }
    if (options.fileType == FileType::flac) {
        if (!options.formatGiven) {
            options.format = SampleFormat::pcm24;
        } else if (options.format == SampleFormat::float32) {
            error = "FLAC holds no float samples; valid --format for .flac: pcm24, pcm16";
            return false;
        }
    }
    if (!options.inputPath.empty() && options.sampleRateGiven) {
        error = "--rate applies to the demo signal only; an INPUT file is rendered at its own rate";
        return false;
    }
    if (!options.inputPath.empty() && options.inputPath == options.outputPath) {
        error = "INPUT and OUTPUT are the same file " + quoted(options.inputPath);
        return false;
    }
    return true;
}

bool isPresetFilePath(std::string_view preset) {
    constexpr std::string_view kExtension = ".vstpreset";
    return preset.size() >= kExtension.size() && preset.substr(preset.size() - kExtension.size()) == kExtension;
}

bool applyPresetFile(VelmoraClient& client, const std::string& path, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!korvo::readWholeFile(path, bytes, error)) return false;
    if (const char* problem = korvo::readPresetFileInto(client, bytes.data(), bytes.size(), true)) {
        error = path + ": " + problem;
        return false;
    }
    return true;
}

bool applyPreset(VelmoraClient& client, std::string_view preset, std::string& error) {
    if (isPresetFilePath(preset)) return applyPresetFile(client, std::string(preset), error);
    const korvo::PresetBank& bank = client.presetBank();
    std::int32_t found = -1;
    for (std::int32_t i = 0; i < bank.count() && found < 0; ++i) {
        if (bank.presetName(i) == preset) found = i;
    }
    std::int64_t index = 0;
    if (found < 0 && parseIndex(preset, index) && index < bank.count())
        found = static_cast<std::int32_t>(index);
    if (found < 0) {
        std::string names;
        for (std::int32_t i = 0; i < bank.count(); ++i) {
            bool seen = false;
            for (std::int32_t j = 0; j < i && !seen; ++j) seen = bank.presetName(j) == bank.presetName(i);
            if (seen) continue;
            if (!names.empty()) names += ", ";
            names += quoted(bank.presetName(i));
        }
        error = "unknown preset " + quoted(preset) + "; valid: an index from 0 to " +
                std::to_string(bank.count() - 1) + " or a name: " + names;
        return false;
    }
    client.presetBank().selectPresetFromHost(found);
    return true;
}

bool applySetting(VelmoraClient& client, std::string_view assignment, std::string& error) {
    const std::size_t eq = assignment.find('=');
    if (eq == std::string_view::npos) {
        error =
            "--set needs NAME=VALUE, got " + quoted(assignment) + "; valid names: " + parameterList(client);
        return false;
    }
    const std::string_view name = assignment.substr(0, eq);
    const std::string_view value = assignment.substr(eq + 1);

    std::int32_t index = -1;
    for (std::int32_t i = 0; i < client.parameterCount() && index < 0; ++i) {
        if (client.parameter(i).name() == name) index = i;
    }
    if (index < 0) {
        const std::string wanted = lowerCase(name);
        std::int32_t matches = 0;
        for (std::int32_t i = 0; i < client.parameterCount(); ++i) {
            if (lowerCase(client.parameter(i).name()) == wanted) {
                index = i;
                ++matches;
            }
        }
        if (matches != 1) index = -1;
    }
    if (index < 0) {
        error = "unknown parameter " + quoted(name) + "; valid: " + parameterList(client);
        return false;
    }

    korvo::Parameter& parameter = client.parameter(index);
    const korvo::ParseResult parsed = parameter.parseToNormalized(value);
    if (!parsed.ok || !std::isfinite(parsed.normalized) || !numberInRange(parameter, value)) {
        error = "invalid value " + quoted(value) + " for " + quoted(parameter.name()) +
                "; valid: " + validValues(parameter);
        return false;
    }
    client.setParameterFromHost(index, static_cast<float>(parsed.normalized));
    return true;
}

int render(const RenderOptions& options, RenderReport& report, std::string& error) {
    // The floating-point setting a host entry of the plug-in runs under (denormals flushed), so a
    // render gives the plug-in's own bits.
    korvo::FPControl guard;
    Source source;
    if (options.inputPath.empty()) {
        source.openDemo(options.sampleRate);
    } else if (!source.openFile(options.inputPath, error)) {
        return kExitBadRequest;
    }

    auto client = korvo::makeHeap<VelmoraClient>();
    if (!options.preset.empty() && !applyPreset(*client, options.preset, error)) return kExitBadRequest;
    for (const std::string& setting : options.settings) {
        if (!applySetting(*client, setting, error)) return kExitBadRequest;
    }

    const std::int32_t numInputs = source.channels();
    const std::int32_t rate = source.sampleRate();
    const std::int32_t block = options.blockFrames;
    if (!client->isLegalChannelConfig(numInputs, 2)) {
        error = "the effect does not accept " + std::to_string(numInputs) + " input channels";
        return kExitBadRequest;
    }

    AudioWriter writer;
    if (!writer.open(options.outputPath, options.fileType, options.format, 2, rate, error)) {
        return kExitBadRequest;
    }

    const std::int32_t latency = client->latencySamples(static_cast<double>(rate));
    const std::int64_t tailFrames =
        std::llround(static_cast<double>(client->tailSizeInSeconds()) * static_cast<double>(rate));
    const std::int64_t skip = options.compensateLatency ? latency : 0;

    report = RenderReport{};
    report.numInputs = numInputs;
    report.sampleRate = rate;
    report.tailFrames = tailFrames;
    report.latencySamples = latency;

    client->resetFromHost(static_cast<double>(rate), block, numInputs, 2);
    if (!options.coldStart) client->settle();

    const std::size_t blockSize = static_cast<std::size_t>(block);
    std::vector<float> interleavedIn(blockSize * static_cast<std::size_t>(numInputs));
    std::vector<float> inLeft(blockSize), inRight(blockSize), outLeft(blockSize), outRight(blockSize);
    std::vector<float> interleavedOut(blockSize * 2);

    Progress progress(options.showProgress, source.framesHint() + tailFrames + skip);
    std::int64_t position = 0;      // frames fed to the client so far
    std::int64_t inputFrames = -1;  // known once the source has run dry
    std::int64_t written = 0;
    while (inputFrames < 0 || position < inputFrames + tailFrames + skip) {
        std::int64_t frames = block;
        if (inputFrames >= 0)
            frames = std::min<std::int64_t>(frames, inputFrames + tailFrames + skip - position);

        std::int64_t got = 0;
        if (inputFrames < 0) {
            while (got < frames) {
                const std::int64_t n = source.read(interleavedIn.data() + got * numInputs, frames - got);
                if (n <= 0) break;
                got += n;
            }
            if (got < frames) {
                inputFrames = position + got;
                frames = std::min<std::int64_t>(frames, inputFrames + tailFrames + skip - position);
            }
        }
        if (frames <= 0) break;
        for (std::int64_t i = 0; i < frames; ++i) {
            const bool fromInput = i < got;
            inLeft[static_cast<std::size_t>(i)] =
                fromInput ? interleavedIn[static_cast<std::size_t>(i * numInputs)] : 0.0f;
            inRight[static_cast<std::size_t>(i)] =
                fromInput ? interleavedIn[static_cast<std::size_t>(i * numInputs + numInputs - 1)] : 0.0f;
        }

        // The client advances these pointer arrays in place, so they are rebuilt for every block.
        const float* inputs[2] = {inLeft.data(), inRight.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        korvo::HostTiming timing;
        timing.tempo = 120.0;
        timing.hostIsPlaying = true;
        timing.timeInSamples = position;
        client->processAudioFromHost(inputs, numInputs, outputs, 2, static_cast<std::int32_t>(frames),
                                     timing);

        const std::int64_t first = std::max<std::int64_t>(0, skip - position);
        std::int64_t count = 0;
        for (std::int64_t i = first; i < frames; ++i, ++count) {
            interleavedOut[static_cast<std::size_t>(count * 2)] = outLeft[static_cast<std::size_t>(i)];
            interleavedOut[static_cast<std::size_t>(count * 2 + 1)] = outRight[static_cast<std::size_t>(i)];
        }
        if (!writer.write(interleavedOut.data(), count)) {
            error = "cannot write " + quoted(options.outputPath) + " (disk full?)";
            return kExitWriteFailed;
        }
        written += count;
        position += frames;
        progress.update(position);
        if (options.framesDone != nullptr) options.framesDone->fetch_add(frames, std::memory_order_relaxed);
    }

    if (!writer.commit(error)) return kExitWriteFailed;
    progress.finish();
    report.inputFrames = inputFrames;
    report.outputFrames = written;
    return kExitOk;
}

int play(VelmoraClient& client, const std::string& inputPath, std::int32_t blockFrames,
         const std::function<void(const PlayedBlock&)>& afterBlock, std::string& error) {
    Source source;
    if (inputPath.empty()) {
        source.openDemo(48000);
    } else if (!source.openFile(inputPath, error)) {
        return kExitBadRequest;
    }
    const std::int32_t numInputs = source.channels();
    if (!client.isLegalChannelConfig(numInputs, 2)) {
        error = "the effect does not accept " + std::to_string(numInputs) + " input channels";
        return kExitBadRequest;
    }
    client.resetFromHost(static_cast<double>(source.sampleRate()), blockFrames, numInputs, 2);
    const auto blockSize = static_cast<std::size_t>(blockFrames);
    std::vector<float> interleaved(blockSize * static_cast<std::size_t>(numInputs));
    std::vector<float> inLeft(blockSize), inRight(blockSize), outLeft(blockSize), outRight(blockSize);
    std::int64_t position = 0;
    for (;;) {
        std::int64_t got = 0;
        while (got < blockFrames) {
            const std::int64_t n = source.read(interleaved.data() + got * numInputs, blockFrames - got);
            if (n <= 0) break;
            got += n;
        }
        if (got == 0) break;
        for (std::int64_t i = 0; i < got; ++i) {
            inLeft[static_cast<std::size_t>(i)] = interleaved[static_cast<std::size_t>(i * numInputs)];
            inRight[static_cast<std::size_t>(i)] =
                interleaved[static_cast<std::size_t>(i * numInputs + numInputs - 1)];
        }
        const float* inputs[2] = {inLeft.data(), inRight.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        korvo::HostTiming timing;
        timing.tempo = 120.0;
        timing.hostIsPlaying = true;
        timing.timeInSamples = position;
        client.processAudioFromHost(inputs, numInputs, outputs, 2, static_cast<std::int32_t>(got), timing);
        afterBlock(PlayedBlock{position, static_cast<std::int32_t>(got), source.sampleRate(), outLeft.data(),
                               outRight.data()});
        position += got;
        if (got < blockFrames) break;
    }
    return kExitOk;
}

}  // namespace velmora::cli
