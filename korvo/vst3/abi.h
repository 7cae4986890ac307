#pragma once
// Our declarations of the VST3 binary interface (the interface set of SDK 3.6.11, x86_64).
//
// Shared by the plug-in adapter (korvo/vst3) and by our own host (tools/vst3host); nothing else is
// shared between the two. Everything here is plain declarations: basic types, result codes,
// interface identifiers, structures and the pure virtual interfaces in their exact slot order.
//
// What differs by platform:
// - Result codes: Windows uses the COM HRESULT values, Linux a small counting enum.
// - Interface identifiers: declared as four 32-bit words; Windows stores them in memory in GUID
//   order (first word little-endian, second word as two little-endian halves), Linux plainly
//   big-endian. The last eight bytes are the same on both.
// - char16 is wchar_t on Windows and char16_t elsewhere (both two bytes, UTF-16).
// - Structures use natural alignment on every x86_64 target; Windows headers wrap them in
//   pack(16), which is the same thing. The static_asserts below pin every size and offset, so a
//   layout mistake breaks the build rather than a host.
//
// Interfaces have only pure virtual methods, no data and no virtual destructor (a destructor would
// add vtable slots that differ between compilers). Thread contract: declarations only.
//
// Files: types.h (basic types, result codes, identifiers, constants, structures with their
// layout checks) and interfaces.h (the interfaces and the module's entry signatures).

#include "korvo/vst3/interfaces.h"
#include "korvo/vst3/types.h"
