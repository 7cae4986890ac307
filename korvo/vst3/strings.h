#pragma once
// Host text of the VST3 adapter: the String128 fields and arguments (UTF-16, 128 units with the
// terminator) to and from our UTF-8.
//
// Untrusted input: host strings may be unterminated (reading stops after 128 units) and may hold
// unpaired surrogates (read as U+FFFD); our text may hold malformed UTF-8 (written as U+FFFD).
// Thread contract: pure functions. [any-thread]

#include <cstddef>
#include <string>

#include "korvo/vst3/abi.h"

namespace korvo::vst3 {

// Text handed to the host: UTF-8 decoded to UTF-16 (a character beyond the basic plane as a
// surrogate pair; a malformed sequence as U+FFFD), at most 127 units, never a split pair,
// terminated. `out` holds 128 units.
void widenString128(const char* text, std::size_t length, char16* out) noexcept;
void widenString128(const std::string& text, char16* out) noexcept;
void widenString128(const char* text, char16* out) noexcept;  // text terminated

// Host text to UTF-8, up to the terminator or 128 units; an unpaired surrogate becomes U+FFFD. A
// character that does not fit whole in `capacity` - 1 bytes ends the text. Returns the bytes
// written; `out` is terminated.
std::size_t narrowString128(const char16* text, char* out, std::size_t capacity) noexcept;

}  // namespace korvo::vst3
