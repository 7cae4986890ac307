#pragma once
// `velmora render IN... --out-dir DIR`: many files in one call, on all cores.
//
// Every input is rendered exactly as `velmora render IN DIR/NAME` would render it alone, with the
// same options (preset, settings, block size, format, latency compensation). The output keeps the
// input's file name; an input whose type cannot be written (say .ogg) gets the same name with .wav.
// The folder is created when missing.
//
// The request as a whole is refused (exit 2, nothing written) when there is no input, when the
// folder cannot be made, when two inputs would write the same output, or when an output would
// replace its own input. After that, files are independent: a file that fails is reported on
// stderr with the same one-line message a single render gives, and the others are still rendered.
// The exit code is 0 when every file was rendered, otherwise the code of the first failed file in
// argument order (1: an output could not be written; 2: the file or a setting was refused). With
// more than one input a closing line counts the failures.
//
// While a batch runs longer than two seconds and stderr is a terminal, one progress line (files
// done and the share of all audio rendered) is kept up to date on stderr.
//
// Threads: one worker per core (or --jobs N), each rendering whole files with its own effect
// instance; the calling thread reports. [main-thread]

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/velmora/render.h"

namespace velmora::cli {

// The single-file options of input `index` of a batch: its input path, its output path in the
// batch folder, the output type and the sample format that go with it. False with a one-line
// message when the format cannot be written to that type.
bool batchFileOptions(const RenderOptions& batch, std::size_t index, RenderOptions& options,
                      std::string& error);

// Checks what concerns the batch as a whole (see above); false with a one-line message.
bool checkBatch(const RenderOptions& batch, std::string& error);

// Renders every input of the batch; messages go to err. Returns the exit code described above.
int renderBatch(const RenderOptions& batch, bool stderrIsTerminal, std::ostream& err);

// The progress line of a batch, decided from elapsed time and counts alone (no clock inside):
// nothing before two seconds, then a line whenever its text changes.
class BatchProgress {
public:
    static constexpr double kDelaySeconds = 2.0;

    // The text to draw now ("" for nothing): "velmora render: 3 of 10 files, 47%".
    std::string update(double elapsedSeconds, std::int64_t framesDone, std::int64_t framesTotal,
                       std::size_t filesDone, std::size_t files);
    bool shown() const noexcept { return !last_.empty(); }
    const std::string& text() const noexcept { return last_; }

private:
    std::string last_;
};

}  // namespace velmora::cli
