#include "tools/velmora/batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "effect/main.h"

namespace velmora::cli {

namespace {

namespace fs = std::filesystem;

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

// Where an input's output goes: its file name in the folder, .wav when its type cannot be written.
std::string outputPathFor(const std::string& outDir, const std::string& input) {
    fs::path name = fs::path(input).filename();
    FileType type;
    if (!fileTypeForPath(name.string(), type)) name.replace_extension(".wav");
    return (fs::path(outDir) / name).string();
}

// A path to compare outputs with inputs and with each other: absolute, "." and ".." resolved and
// symbolic links followed as far as the path exists.
std::string comparable(const std::string& path) {
    std::error_code ignored;
    const fs::path p = fs::weakly_canonical(fs::absolute(path, ignored), ignored);
    return p.lexically_normal().string();
}

// Frames a file will take (input, tail and skipped latency), from its header; 0 when unknown.
std::int64_t expectedFrames(const std::string& input, VelmoraClient& client, bool compensateLatency) {
    AudioReader reader;
    std::string ignored;
    if (!reader.open(input, ignored) || reader.framesHint() <= 0 || reader.sampleRate() <= 0) return 0;
    const double rate = reader.sampleRate();
    return reader.framesHint() + std::llround(static_cast<double>(client.tailSizeInSeconds()) * rate) +
           (compensateLatency ? client.latencySamples(rate) : 0);
}

}  // namespace

bool batchFileOptions(const RenderOptions& batch, std::size_t index, RenderOptions& options,
                      std::string& error) {
    options = batch;
    options.batchInputs.clear();
    options.outDir.clear();
    options.jobs = 0;
    options.showProgress = false;
    options.inputPath = batch.batchInputs[index];
    options.outputPath = outputPathFor(batch.outDir, options.inputPath);
    if (!fileTypeForPath(options.outputPath, options.fileType)) options.fileType = FileType::wav;
    // As for a single OUTPUT of this type: FLAC holds integers only.
    if (options.fileType == FileType::flac) {
        if (!options.formatGiven) {
            options.format = SampleFormat::pcm24;
        } else if (options.format == SampleFormat::float32) {
            error = "FLAC holds no float samples; valid --format for .flac: pcm24, pcm16 (" +
                    inQuotes(options.inputPath) + ")";
            return false;
        }
    }
    return true;
}

bool checkBatch(const RenderOptions& batch, std::string& error) {
    if (batch.batchInputs.empty()) {
        error = "missing INPUT files; usage: velmora render INPUT... --out-dir DIR [options]";
        return false;
    }
    std::error_code failure;
    fs::create_directories(batch.outDir, failure);
    if (!fs::is_directory(batch.outDir)) {
        error = "cannot make the output folder " + inQuotes(batch.outDir) +
                (failure ? ": " + failure.message() : std::string(": a file of that name exists"));
        return false;
    }
    std::map<std::string, std::string> inputs;   // comparable input path -> as given
    std::map<std::string, std::string> outputs;  // comparable output path -> its input
    for (const std::string& input : batch.batchInputs) inputs.emplace(comparable(input), input);
    for (std::size_t i = 0; i < batch.batchInputs.size(); ++i) {
        const std::string& input = batch.batchInputs[i];
        const std::string output = comparable(outputPathFor(batch.outDir, input));
        if (auto same = inputs.find(output); same != inputs.end()) {
            error = "the output for " + inQuotes(input) + " would replace the input " +
                    inQuotes(same->second) + "; choose another --out-dir";
            return false;
        }
        if (auto [it, added] = outputs.emplace(output, input); !added) {
            error = inQuotes(it->second) + " and " + inQuotes(input) + " would both be written to " +
                    inQuotes(outputPathFor(batch.outDir, input));
            return false;
        }
    }
    return true;
}

std::string BatchProgress::update(double elapsedSeconds, std::int64_t framesDone, std::int64_t framesTotal,
                                  std::size_t filesDone, std::size_t files) {
    if (elapsedSeconds < kDelaySeconds) return {};
    const std::int64_t percent =
        framesTotal > 0 ? std::min<std::int64_t>(100, framesDone * 100 / framesTotal) : 0;
    std::string line = "velmora render: " + std::to_string(filesDone) + " of " + std::to_string(files) +
                       " files, " + std::to_string(percent) + "%";
    if (line == last_) return {};
    last_ = line;
    return line;
}

int renderBatch(const RenderOptions& batch, bool stderrIsTerminal, std::ostream& err) {
    std::string error;
    if (!checkBatch(batch, error)) {
        err << "velmora render: " << error << "\n";
        return kExitBadRequest;
    }
    const std::size_t files = batch.batchInputs.size();
    std::size_t workers = batch.jobs > 0 ? static_cast<std::size_t>(batch.jobs)
                                         : std::max(1u, std::thread::hardware_concurrency());
    workers = std::min(workers, files);

    // The share of audio rendered, for the progress line: every file's length from its header.
    std::int64_t framesTotal = 0;
    if (stderrIsTerminal) {
        auto client = korvo::makeHeap<VelmoraClient>();
        for (const std::string& input : batch.batchInputs)
            framesTotal += expectedFrames(input, *client, batch.compensateLatency);
    }

    std::atomic<std::int64_t> framesDone{0};
    std::atomic<std::size_t> next{0};
    std::vector<int> codes(files, kExitOk);
    std::mutex mutex;  // guards err, filesDone and the progress line
    std::condition_variable finished;
    std::size_t filesDone = 0;
    BatchProgress progress;
    bool lineShown = false;

    auto work = [&] {
        for (std::size_t i = next++; i < files; i = next++) {
            RenderOptions options;
            std::string message;
            int code = kExitBadRequest;
            if (batchFileOptions(batch, i, options, message)) {
                options.framesDone = &framesDone;
                RenderReport report;
                code = render(options, report, message);
            }
            std::lock_guard<std::mutex> lock(mutex);
            codes[i] = code;
            if (code != kExitOk) {
                if (lineShown) err << "\r\x1b[K";  // the message takes the progress line's place
                err << "velmora render: " << message << "\n";
                lineShown = false;
            }
            ++filesDone;
            finished.notify_one();
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t w = 0; w < workers; ++w) threads.emplace_back(work);

    const auto start = std::chrono::steady_clock::now();
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (filesDone < files) {
            finished.wait_for(lock, std::chrono::milliseconds(200));
            if (!stderrIsTerminal) continue;
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const std::string line =
                progress.update(elapsed, framesDone.load(), framesTotal, filesDone, files);
            // A changed line, or the line again after a message took its place.
            if (!line.empty() || (progress.shown() && !lineShown)) {
                err << "\r\x1b[K" << progress.text() << std::flush;
                lineShown = true;
            }
        }
        // The closing state of the line, which then ends.
        if (progress.shown()) {
            const std::string line =
                progress.update(BatchProgress::kDelaySeconds, framesTotal, framesTotal, files, files);
            if (!line.empty() || !lineShown) err << "\r\x1b[K" << progress.text();
            err << "\n";
        }
    }
    for (std::thread& t : threads) t.join();

    std::size_t failed = 0;
    int code = kExitOk;
    for (int c : codes) {
        if (c == kExitOk) continue;
        ++failed;
        if (code == kExitOk) code = c;
    }
    if (failed > 0 && files > 1) err << "velmora render: " << failed << " of " << files << " files failed\n";
    return code;
}

}  // namespace velmora::cli
