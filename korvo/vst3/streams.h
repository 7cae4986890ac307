#pragma once
// Whole transfers through a host's IBStream: streams may move a few bytes per call, and need not
// seek.
//
// Untrusted input: the stream's counts are checked (a read claiming more than it was asked for is
// cut, a write claiming more ends the transfer as failed). [main-thread] (the caller's thread)

#include <cstddef>
#include <cstdint>
#include <vector>

#include "korvo/vst3/abi.h"

namespace korvo::vst3 {

// Reads the stream to its end into `out`, in whatever pieces it gives: a read that delivers
// nothing (or fails) ends it. False when it holds more than `limit` bytes.
bool readAll(IBStream* stream, std::vector<std::uint8_t>& out, std::size_t limit) noexcept;

// Writes all bytes, in as many calls as the stream needs; false when a write fails or stalls.
bool writeAll(IBStream* stream, const std::uint8_t* bytes, std::size_t size) noexcept;

}  // namespace korvo::vst3
