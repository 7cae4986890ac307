#pragma once
// `velmora info`: what the effect declares — description, channel configurations, latency, tail,
// block limit, every parameter (index, name, type, range, default, label) and every preset — as
// text or as JSON. [main-thread]

#include <ostream>

namespace velmora {
class VelmoraClient;
}

namespace velmora::cli {

enum class InfoStyle { text, json };

void printInfo(VelmoraClient& client, InfoStyle style, std::ostream& out);

}  // namespace velmora::cli
