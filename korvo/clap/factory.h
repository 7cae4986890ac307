#pragma once
// The CLAP module's entry logic: the functions behind the exported clap_entry (exports.cpp), the
// plug-in factory and its one descriptor.
//
// init may be called many times (a host and a wrapper may load the same file): a count under a
// global lock does the work only on the first init and the matching last deinit; an init while
// initialised answers true, a deinit too many does nothing. The first init reads the description
// of a temporary client (the product's createPluginClient hook) into the descriptor, which stays
// valid until the last deinit:
//   id       the description's first bundle identifier
//   name, vendor, version ("major.minor.patch"), url (the product's homepage), support url
//            ("mailto:" and the support e-mail), manual url and description empty
//   features the category's (korvo::clap::featuresForCategory), then "stereo" when a channel
//            configuration has two outputs and "mono" when one has a single input.
// The factory answers only while initialised and creates instances of that one id; create makes
// no host call.
//
// Threads: init and deinit never run at the same time as any other call into the module (hosts
// promise it; the lock covers hosts that do not). getFactory and the factory's functions are
// [any-thread]; createPlugin is [main-thread].

#include <cstdint>
#include <string>
#include <vector>

#include "korvo/clap/abi.h"

namespace korvo::clap {

// The exported entry's functions.
bool entryInit(const char* pluginPath) noexcept;
void entryDeinit() noexcept;
const void* entryGetFactory(const char* factoryId) noexcept;

// The CLAP features for a description category code, the category first ("audio-effect",
// "analyzer" or "instrument") and then its kind: a standard feature where one exists ("delay",
// "equalizer", "reverb"), else one in the vendor's namespace ("<vendor>:spatial"; the vendor name
// in lower case, spaces as '-'). Codes outside the table give "audio-effect" alone.
std::vector<std::string> featuresForCategory(std::int32_t category, const std::string& vendorName);

}  // namespace korvo::clap
