#include "tools/velmora/screenshot.h"

#include <stb/stb_image_write.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "korvo/gui/demoscene.h"
#include "korvo/window/screenshot.h"
#include "tools/gallery/gallery.h"

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

// The named pictures besides the demo scene: one option each. A new picture (a display, the
// editor) is one more line here.
struct Scene {
    const char* option;
    const char* description;
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> (*render)();
};
constexpr Scene kScenes[] = {
    {"--widgets", "the widget gallery: every widget in its states (760x560)", &gallery::renderWidgetGallery},
};

const Scene* findScene(const std::string& option) {
    for (const Scene& scene : kScenes)
        if (option == scene.option) return &scene;
    return nullptr;
}

}  // namespace

const char* screenshotUsage() noexcept {
    return "usage: velmora screenshot [--widgets] OUT.png [--size WxH]\n"
           "  renders a picture off-screen through the headless window and the compositor to a PNG file:\n"
           "  --widgets   the widget gallery: every widget in its states (760x560)\n"
           "  (none)      the framework demo scene, 192x128 or --size WxH\n";
}

int runScreenshot(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::string output;
    const Scene* scene = nullptr;
    bool sized = false;
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
            sized = true;
        } else if (const Scene* named = findScene(arg)) {
            if (scene != nullptr && scene != named) {
                err << "velmora screenshot: choose one picture\n";
                return 2;
            }
            scene = named;
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
    if (scene != nullptr && sized) {
        err << "velmora screenshot: --size applies to the demo scene only\n";
        return 2;
    }
    auto image = scene != nullptr ? scene->render() : korvo::renderDemoScreenshot(width, height);
    if (!writePNG(output, image->view())) {
        err << "velmora screenshot: cannot write \"" << output << "\"\n";
        return 1;
    }
    return 0;
}

}  // namespace velmora::cli
