#pragma once
// `velmora render`: runs audio through VelmoraClient exactly as a host would.
//
// The client is reset with resetFromHost (rate, FRAMES, 1 or 2 inputs, 2 outputs); a preset is
// chosen with selectPresetFromHost, `--set` values reach their parameters through
// setParameterFromHost after being parsed by the parameter's own parseToNormalized; then the input
// followed by the tail (tailSizeInSeconds of zeros) is fed as one continuous stream cut into host
// blocks of FRAMES frames, with tempo 120, playing, and timeInSamples counting from 0 (an offline
// bounce from the song start). The client splits the blocks itself, so the output does not depend
// on FRAMES.
//
// By default the render starts settled at the requested settings, as a host's export does after its
// pre-roll: after the reset every glide of the chain runs to where it comes to rest at these
// settings, as the plug-in's own glides do (VelmoraClient::settle), with silent histories. With coldStart the chain starts as the plug-in does after a reset, its
// glides moving from their reset values over the first few hundred milliseconds.
//
// Failures carry one line of text naming the problem and the valid choices; the caller prints it.
// Main thread only.

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/velmora/audiofile.h"

namespace velmora {
class VelmoraClient;
}

namespace velmora::cli {

struct RenderOptions {
    std::string inputPath;  // empty: the built-in demo signal
    std::string outputPath;
    std::string preset;                 // name or index; empty: the client's start-up state
    std::vector<std::string> settings;  // "NAME=VALUE", applied in order after the preset
    std::int32_t blockFrames = 512;
    std::int32_t sampleRate = 48000;  // demo signal only
    bool sampleRateGiven = false;
    SampleFormat format = SampleFormat::float32;
    bool formatGiven = false;
    FileType fileType = FileType::wav;
    bool compensateLatency = false;
    bool coldStart = false;     // start from the plug-in's reset state instead of settled
    bool showProgress = false;  // draw a progress bar on stderr for long renders
    bool helpRequested = false;
    // A batch (tools/velmora/batch.h): every INPUT, rendered into outDir.
    std::string outDir;  // non-empty: a batch
    std::vector<std::string> batchInputs;
    std::int32_t jobs = 0;  // batch workers; 0: one per core
    // Frames processed so far are added here as the render goes (batch progress); may be null.
    std::atomic<std::int64_t>* framesDone = nullptr;
};

inline constexpr std::int32_t kMaxJobs = 256;

inline constexpr std::int32_t kMinBlockFrames = 1;
inline constexpr std::int32_t kMaxBlockFrames = 65536;
inline constexpr std::int32_t kMinDemoRate = 8000;
inline constexpr std::int32_t kMaxDemoRate = 384000;

// Parses the arguments that follow "render": [INPUT] OUTPUT, or INPUT... --out-dir DIR for a batch.
// False with a one-line message in error.
bool parseRenderArguments(std::span<const std::string> args, RenderOptions& options, std::string& error);

// The host's program change to a preset given by exact name (the first preset with that name) or
// by index, or a preset file (a name ending in .vstpreset) applied as a host applies a state,
// checked whole first. False with the valid names, or the file's problem, in error.
bool applyPreset(VelmoraClient& client, std::string_view preset, std::string& error);
bool isPresetFilePath(std::string_view preset);  // the name ends in ".vstpreset"

// "NAME=VALUE": finds the parameter by exact name (or, failing that, by a unique case-insensitive
// match), parses VALUE with its parseToNormalized and sets it through setParameterFromHost.
// Numbers outside the parameter's range are refused rather than silently clamped. False with a
// one-line message in error.
bool applySetting(VelmoraClient& client, std::string_view assignment, std::string& error);

struct RenderReport {
    std::int32_t numInputs = 0;
    std::int32_t sampleRate = 0;
    std::int64_t inputFrames = 0;
    std::int64_t tailFrames = 0;
    std::int64_t outputFrames = 0;
    std::int32_t latencySamples = 0;
};

// Exit codes of a render.
inline constexpr int kExitOk = 0;
inline constexpr int kExitWriteFailed = 1;  // the output could not be written completely
inline constexpr int kExitBadRequest = 2;   // bad argument, file, parameter, value or preset

// Renders options.inputPath (or the demo signal) to options.outputPath. Returns an exit code; on
// failure error holds one line and no output file exists (an existing one is left untouched).
int render(const RenderOptions& options, RenderReport& report, std::string& error);

// One host block that `play` has just run through the client.
struct PlayedBlock {
    std::int64_t position = 0;  // frames of the input before this block
    std::int32_t frames = 0;
    std::int32_t sampleRate = 0;
    const float* left = nullptr;  // the block's output
    const float* right = nullptr;
};

// Runs INPUT (a file, or the demo signal when the path is empty) through `client` the way `render`
// does, in host blocks of `blockFrames`, without the tail and without writing anything, and calls
// afterBlock after every block. The client is reset for the input's rate and channels first.
// Returns an exit code; on failure error holds one line.
int play(VelmoraClient& client, const std::string& inputPath, std::int32_t blockFrames,
         const std::function<void(const PlayedBlock&)>& afterBlock, std::string& error);

// The usage text of `velmora render`.
const char* renderUsage() noexcept;

}  // namespace velmora::cli
