#include "tools/velmora/screenshot.h"

#include <stb/stb_image_write.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "korvo/gui/demoscene.h"
#include "korvo/window/screenshot.h"

namespace velmora::cli {

namespace {

constexpr std::int32_t kMaxSide = 8192;

// "WxH" with both sides in 1..8192.
bool parseSize(const std::string& text, std::int32_t& w, std::int32_t& h) {
    int width = 0, height = 0;
    char x = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &width, &x, &height, &extra) != 3 || x != 'x') return false;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
    w = width;
    h = height;
    return true;
}

bool writePNG(const std::string& path, korvo::ImageView<korvo::RGBA> image) {
    std::vector<std::uint8_t> bytes;
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<std::uint8_t>*>(context);
        out->insert(out->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
    };
    if (stbi_write_png_to_func(append, &bytes, image.w, image.h, 4, image.pixels,
                               static_cast<int>(image.pitch)) == 0)
        return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

const char* screenshotUsage() noexcept {
    return "usage: velmora screenshot OUT.png [--size WxH]\n"
           "  renders the GUI off-screen (for now the framework demo scene, 192x128) to a PNG file\n";
}

int runScreenshot(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::string output;
    std::int32_t width = korvo::DemoScene::kDefaultWidth, height = korvo::DemoScene::kDefaultHeight;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            out << screenshotUsage();
            return 0;
        }
        if (arg == "--size") {
            if (i + 1 >= args.size() || !parseSize(args[i + 1], width, height)) {
                err << "velmora screenshot: --size wants WxH with sides from 1 to " << kMaxSide << "\n";
                return 2;
            }
            ++i;
        } else if (!arg.empty() && arg[0] == '-') {
            err << "velmora screenshot: unknown option \"" << arg << "\"\n" << screenshotUsage();
            return 2;
        } else if (output.empty()) {
            output = arg;
        } else {
            err << "velmora screenshot: more than one output file given\n";
            return 2;
        }
    }
    if (output.empty()) {
        err << "velmora screenshot: no output file given\n" << screenshotUsage();
        return 2;
    }
    auto image = korvo::renderDemoScreenshot(width, height);
    if (!writePNG(output, image->view())) {
        err << "velmora screenshot: cannot write \"" << output << "\"\n";
        return 1;
    }
    return 0;
}

}  // namespace velmora::cli
