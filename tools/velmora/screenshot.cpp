#include "tools/velmora/screenshot.h"

#include <stb/stb_image_write.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "effect/gui.h"
#include "korvo/widgets/textfield.h"
#include "effect/main.h"
#include "tools/offscreen/demoscene.h"
#include "korvo/window/headless.h"
#include "tools/offscreen/screenshot.h"
#include "tools/gallery/gallery.h"
#include "tools/velmora/render.h"

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
    {"--widgets", "the widget gallery: every widget in its states (760x974)", &gallery::renderWidgetGallery},
};

const Scene* findScene(const std::string& option) {
    for (const Scene& scene : kScenes)
        if (option == scene.option) return &scene;
    return nullptr;
}

bool allSilent(const float* samples, std::int32_t frames) {
    for (std::int32_t i = 0; i < frames; ++i)
        if (samples[i] != 0.0f) return false;
    return true;
}

}  // namespace

int renderEditorShot(const EditorShotOptions& options, korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>>& image,
                     std::string& error) {
    auto client = korvo::makeHeap<VelmoraClient>();
    // Settings first, so the value hints of the new editor start hidden, as they do in a host.
    if (!options.preset.empty() && !applyPreset(*client, options.preset, error)) return kExitBadRequest;
    for (const std::string& setting : options.settings)
        if (!applySetting(*client, setting, error)) return kExitBadRequest;
    auto* gui = dynamic_cast<VelmoraGUI*>(client->ensureGraphics());
    if (gui == nullptr) {
        error = "the effect made no editor";
        return kExitBadRequest;
    }
    gui->setWindowFactory(&korvo::HeadlessWindow::create);
    gui->setScale(options.scale);
    gui->openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
    auto* window = static_cast<korvo::HeadlessWindow*>(gui->window());
    window->paint();  // delivers the size
    window->tick();   // draws everything
    // At a scale without embedded artwork, the artwork drawn for it (a second or two).
    for (int i = 0; i < 6000 && gui->isDrawingArtwork(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        window->tick();
    }
    if (options.sizeMenu) {
        gui->openSizeMenu(korvo::IntPoint{korvo::scaleCoord(options.menuX, options.scale),
                                          korvo::scaleCoord(options.menuY, options.scale)});
        window->tick();
    }
    if (options.presetList) {
        gui->openPresetList();
        window->tick();
    }
    if (options.saveAs) {
        gui->startSaveAs();
        gui->textField()->onKeyDown(korvo::Key::backspace);
        gui->textField()->onTextInput(options.saveAsName);
        window->tick();
    }
    image = korvo::makeHeap<korvo::OwnedImage<korvo::RGBA>>(window->width(), window->height());
    if (options.play) {
        // The editor's 15 ms ticks interleaved with the audio, as in a host playing in real time.
        // The picture is the editor after the last tick whose audio made a sound.
        std::int64_t untilTick = 0;
        bool sounded = false, shot = false;
        const int code = play(
            *client, options.playInput, 512,
            [&](const PlayedBlock& block) {
                sounded =
                    sounded || !allSilent(block.left, block.frames) || !allSilent(block.right, block.frames);
                untilTick -= block.frames;
                while (untilTick <= 0) {
                    window->tick();
                    untilTick +=
                        std::max<std::int64_t>(1, block.sampleRate * korvo::HeadlessWindow::kTickMs / 1000);
                    if (sounded) {
                        korvo::copyBox(window->screen(), image->view());
                        shot = true;
                    }
                    sounded = false;
                }
            },
            error);
        if (code != kExitOk) return code;
        if (!shot) korvo::copyBox(window->screen(), image->view());
    } else {
        korvo::copyBox(window->screen(), image->view());
    }
    gui->closeUI();
    return kExitOk;
}

const char* screenshotUsage() noexcept {
    return "usage: velmora screenshot [--widgets] OUT.png [--size WxH]\n"
           "       velmora screenshot --editor OUT.png [--scale S] [--preset NAME] [--set NAME=VALUE]... "
           "[--play [INPUT]] [--size-menu X,Y] [--preset-list] [--save-as NAME]\n"
           "  renders a picture off-screen through the headless window and the compositor to a PNG file:\n"
           "  --editor    the effect's editor (763x494) at the start-up state, or after --preset NAME|INDEX\n"
           "              and --set NAME=VALUE (as for velmora render). --play runs INPUT (or, without\n"
           "              INPUT, the built-in demo) through the effect with the editor open and ticking,\n"
           "              and shows it as it was at the last moment the audio made a sound; --scale S\n"
           "              draws it at S device pixels per pixel (0.5 to 4; 2 = 1526x988); --size-menu X,Y\n"
           "              shows the size menu as a right click at (X, Y) of the panel opens it;\n"
           "              --preset-list the preset strip's list open; --save-as NAME its name field\n"
           "              with NAME typed\n"
           "  --widgets   the widget gallery: every widget in its states (760x974)\n"
           "  (none)      the framework demo scene, 192x128 or --size WxH\n";
}

int runScreenshot(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::string output;
    const Scene* scene = nullptr;
    bool editor = false;
    EditorShotOptions editorOptions;
    bool editorOption = false;  // --preset, --set or --play seen
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
        } else if (arg == "--editor") {
            editor = true;
        } else if (arg == "--size-menu") {
            int x = 0, y = 0;
            char extra = 0;
            if (i + 1 >= args.size() || std::sscanf(args[i + 1].c_str(), "%d,%d%c", &x, &y, &extra) != 2 ||
                x < 0 || y < 0 || x >= 763 || y >= 494) {
                err << "velmora screenshot: --size-menu wants X,Y inside the 763x494 editor\n";
                return 2;
            }
            editorOptions.sizeMenu = true;
            editorOptions.menuX = x;
            editorOptions.menuY = y;
            editorOption = true;
            ++i;
        } else if (arg == "--preset-list") {
            editorOptions.presetList = true;
            editorOption = true;
        } else if (arg == "--save-as") {
            if (i + 1 >= args.size()) {
                err << "velmora screenshot: --save-as wants a name\n";
                return 2;
            }
            editorOptions.saveAs = true;
            editorOptions.saveAsName = args[++i];
            editorOption = true;
        } else if (arg == "--scale") {
            char* end = nullptr;
            const double s = i + 1 < args.size() ? std::strtod(args[i + 1].c_str(), &end) : 0.0;
            if (i + 1 >= args.size() || end == args[i + 1].c_str() || *end != 0 || !(s >= 0.5 && s <= 4.0)) {
                err << "velmora screenshot: --scale wants a number from 0.5 to 4\n";
                return 2;
            }
            editorOptions.scale = static_cast<float>(s);
            editorOption = true;
            ++i;
        } else if (arg == "--preset" || arg == "--set") {
            if (i + 1 >= args.size()) {
                err << "velmora screenshot: " << arg << " needs a value\n";
                return 2;
            }
            if (arg == "--preset")
                editorOptions.preset = args[i + 1];
            else
                editorOptions.settings.push_back(args[i + 1]);
            ++i;
            editorOption = true;
        } else if (arg == "--play") {
            editorOptions.play = true;
            editorOption = true;
            // INPUT is optional: the next plain argument is INPUT when OUT.png is already known or
            // another plain argument follows it.
            const bool nextIsPlain = i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-';
            const bool secondIsPlain = i + 2 < args.size() && !args[i + 2].empty() && args[i + 2][0] != '-';
            if (nextIsPlain && (!output.empty() || secondIsPlain)) {
                editorOptions.playInput = args[i + 1];
                ++i;
            }
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
    if (editor && scene != nullptr) {
        err << "velmora screenshot: choose one picture\n";
        return 2;
    }
    if ((scene != nullptr || editor) && sized) {
        err << "velmora screenshot: --size applies to the demo scene only\n";
        return 2;
    }
    if (editorOption && !editor) {
        err << "velmora screenshot: --preset, --set, --scale and --play apply to --editor only\n";
        return 2;
    }
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> image;
    if (editor) {
        std::string error;
        const int code = renderEditorShot(editorOptions, image, error);
        if (code != 0) {
            err << "velmora screenshot: " << error << "\n";
            return code;
        }
    } else {
        image = scene != nullptr ? scene->render() : korvo::renderDemoScreenshot(width, height);
    }
    if (!writePNG(output, image->view())) {
        err << "velmora screenshot: cannot write \"" << output << "\"\n";
        return 1;
    }
    return 0;
}

}  // namespace velmora::cli
