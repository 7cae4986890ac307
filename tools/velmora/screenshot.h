#pragma once
// `velmora screenshot OUT.png [--size WxH]`: renders the GUI off-screen through the headless
// window and writes it as an 8-bit RGBA PNG. Until the effect's editor exists it shows the
// framework's demo scene (192 x 128 unless --size is given).
//
// Exit codes as for the other sub-commands: 0 written, 1 the file could not be written, 2 a bad
// request. [main-thread]

#include <ostream>
#include <span>
#include <string>

namespace velmora::cli {

int runScreenshot(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// The usage text of the sub-command.
const char* screenshotUsage() noexcept;

}  // namespace velmora::cli
