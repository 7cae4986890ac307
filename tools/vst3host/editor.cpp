// The editor host's platform-neutral part: opening and closing the view, settling, PNG files and
// the `editor` command.
#include "tools/vst3host/editor.h"

#include <stb/stb_image_write.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vst3host {

namespace {


}  // namespace

const char* EditorHost::platformType() {
#if defined(_WIN32)
    return v::kPlatformTypeHWND;
#else
    return v::kPlatformTypeX11EmbedWindowID;
#endif
}

bool EditorHost::open(v::IEditController* controller, std::string& error, float scale) {
    close();
    frame_.setResizer([this](v::IPlugView* view, v::ViewRect* rect) { return resizeFromView(view, rect); });
    if (controller == nullptr) {
        error = "no edit controller";
        return false;
    }
    view_ = controller->createView(v::kEditorViewType);
    if (view_ == nullptr) {
        error = "the plug-in has no editor (createView returned null)";
        return false;
    }
    if (view_->isPlatformTypeSupported(platformType()) != v::kResultOk) {
        error = std::string("the editor does not support \"") + platformType() + "\"";
        close();
        return false;
    }
    if (scale > 0.0f && !rescale(scale, error)) {
        close();
        return false;
    }
    if (view_->getSize(&size_) != v::kResultOk || size_.right - size_.left <= 0 ||
        size_.bottom - size_.top <= 0) {
        error = "getSize failed";
        close();
        return false;
    }
    if (!createWindow(error)) {
        close();
        return false;
    }
    view_->setFrame(&frame_);
    if (view_->attached(windowHandle(), platformType()) != v::kResultOk) {
        error = "attached failed";
        close();
        return false;
    }
    attached_ = true;
    return true;
}

void EditorHost::close() {
    if (view_ != nullptr) {
        // The order hosts use: frame gone, then removed, then the last reference.
        view_->setFrame(nullptr);
        if (attached_) view_->removed();
        view_->release();
        view_ = nullptr;
    }
    attached_ = false;
    destroyWindow();
}

bool EditorHost::openWindow(std::int32_t width, std::int32_t height, std::string& error) {
    close();
    if (width <= 0 || height <= 0) {
        error = "the editor has no size";
        return false;
    }
    size_ = v::ViewRect{0, 0, width, height};
    return createWindow(error);
}

void EditorHost::setWindowSize(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return;
    resizeWindow(width, height);
    size_ = v::ViewRect{0, 0, width, height};
}

bool EditorHost::rescale(float scale, std::string& error) {
    if (view_ == nullptr) {
        error = "no view";
        return false;
    }
    void* face = nullptr;
    if (view_->queryInterface(v::iidIPlugViewContentScaleSupport.data(), &face) != v::kResultOk ||
        face == nullptr) {
        error = "the view has no IPlugViewContentScaleSupport";
        return false;
    }
    auto* support = static_cast<v::IPlugViewContentScaleSupport*>(face);
    const v::tresult result = support->setContentScaleFactor(scale);
    support->release();
    if (result != v::kResultOk) {
        error = "setContentScaleFactor refused the factor";
        return false;
    }
    run(20);
    return true;
}

bool EditorHost::resize(std::int32_t width, std::int32_t height, std::string& error) {
    if (view_ == nullptr) {
        error = "no view";
        return false;
    }
    v::ViewRect rect{0, 0, width, height};
    if (view_->checkSizeConstraint(&rect) != v::kResultOk) {
        error = "checkSizeConstraint failed";
        return false;
    }
    resizeWindow(rect.right - rect.left, rect.bottom - rect.top);
    if (view_->onSize(&rect) != v::kResultOk) {
        error = "onSize refused the size";
        return false;
    }
    size_ = rect;
    run(20);
    return true;
}

v::tresult EditorHost::resizeFromView(v::IPlugView* view, v::ViewRect* rect) {
    if (view == nullptr || view != view_ || rect == nullptr) return v::kInvalidArgument;
    const v::ViewRect wanted = *rect;
    if (wanted.right - wanted.left <= 0 || wanted.bottom - wanted.top <= 0) return v::kInvalidArgument;
    resizeWindow(wanted.right - wanted.left, wanted.bottom - wanted.top);
    size_ = wanted;
    v::ViewRect given = wanted;
    return view_->onSize(&given);
}

void EditorHost::detach() {
    if (view_ == nullptr || !attached_) return;
    view_->removed();
    attached_ = false;
    run(20);
}

bool EditorHost::reattach(std::string& error) {
    if (view_ == nullptr) {
        error = "no view";
        return false;
    }
    if (attached_) return true;
    if (view_->attached(windowHandle(), platformType()) != v::kResultOk) {
        error = "attached failed";
        return false;
    }
    attached_ = true;
    return true;
}

bool EditorHost::settle(std::uint32_t timeoutMs) {
    const std::uint64_t end = monotonicMs() + timeoutMs;
    Image previous, current;
    std::string error;
    run(60);
    if (!screenshot(previous, error)) return false;
    while (monotonicMs() < end) {
        run(60);
        if (!screenshot(current, error)) return false;
        if (current.rgba == previous.rgba) return true;
        previous.rgba.swap(current.rgba);
    }
    return false;
}

bool savePNG(const std::string& path, const Image& image) {
    if (image.width <= 0 || image.height <= 0) return false;
    std::vector<std::uint8_t> bytes;
    auto append = [](void* context, void* data, int size) {
        auto* b = static_cast<std::vector<std::uint8_t>*>(context);
        b->insert(b->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
    };
    if (stbi_write_png_to_func(append, &bytes, image.width, image.height, 4, image.rgba.data(),
                               image.width * 4) == 0)
        return false;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// ---- The commands -----------------------------------------------------------------------------------

namespace {

// The first class of category "Audio Module Class", as 16 id bytes. False when there is none.
bool firstEffectClass(v::IPluginFactory* factory, char (&cid)[16]) {
    const int count = factory->countClasses();
    for (int c = 0; c < count; ++c) {
        v::PClassInfo info{};
        if (factory->getClassInfo(c, &info) != v::kResultOk) continue;
        if (std::strncmp(info.category, v::kVstAudioEffectClass, sizeof(info.category)) != 0) continue;
        std::memcpy(cid, info.cid, 16);
        return true;
    }
    return false;
}

const char* buttonName(const std::string& text, int& button) {
    if (text.empty() || text == "left") return (button = 1), nullptr;
    if (text == "middle") return (button = 2), nullptr;
    if (text == "right") return (button = 3), nullptr;
    return "a button is left, middle or right";
}

void printEdits(const ComponentHandler& handler, std::string& out) {
    for (const ComponentHandler::Call& call : handler.calls) {
        switch (call.kind) {
            case ComponentHandler::Kind::beginEdit:
                appendf(out, "edit: begin %u\n", call.id);
                break;
            case ComponentHandler::Kind::performEdit:
                appendf(out, "edit: perform %u %.9g\n", call.id, call.value);
                break;
            case ComponentHandler::Kind::endEdit:
                appendf(out, "edit: end %u\n", call.id);
                break;
            case ComponentHandler::Kind::restartComponent:
                appendf(out, "restart: %d\n", call.flags);
                break;
            case ComponentHandler::Kind::startGroupEdit:
                appendf(out, "edit: group start\n");
                break;
            case ComponentHandler::Kind::finishGroupEdit:
                appendf(out, "edit: group finish\n");
                break;
        }
    }
}

void printFrameTimes(const char* label, const EditorHost::FrameTimes& t, std::string& out) {
    appendf(out, "frame times %s: %llu ticks, %.3f ms per tick (all editor work), longest tick %.3f ms\n",
            label, static_cast<unsigned long long>(t.ticks), t.msPerTick(), t.longestTickMs);
}

// One second idle, then one second of dragging from (x, y) back and forth.
void measureFrameTimes(EditorHost& editor, int x, int y, std::string& out) {
    editor.settle();
    editor.resetFrameTimes();
    editor.run(1000);
    printFrameTimes("idle", editor.frameTimes(), out);
    editor.mouseMove(x, y);
    editor.mouseButton(1, true);
    editor.resetFrameTimes();
    const std::uint64_t end = monotonicMs() + 1000;
    for (int step = 0; monotonicMs() < end; ++step) {
        const int phase = step % 24;  // a triangle wave of 12 steps of 5 pixels each way
        editor.mouseMove(x + 5 * (phase < 12 ? phase : 24 - phase), y);
    }
    printFrameTimes("dragging", editor.frameTimes(), out);
    editor.mouseButton(1, false);
}

}  // namespace

const char* applyInputAction(EditorHost& editor, const std::string& verb, const std::string& value,
                             const std::function<void(std::uint32_t)>& wait) {
    int button = 1;
    if (verb == "move") {
        int x = 0, y = 0;
        if (std::sscanf(value.c_str(), "%d,%d", &x, &y) != 2) return "move needs X,Y";
        editor.mouseMove(x, y);
    } else if (verb == "down" || verb == "up") {
        if (const char* problem = buttonName(value, button)) return problem;
        editor.mouseButton(button, verb == "down");
    } else if (verb == "wheel") {
        editor.wheel(std::atoi(value.c_str()));
    } else if (verb == "key" || verb == "keydown" || verb == "keyup") {
        const bool down = verb != "keyup", up = verb != "keydown";
        if ((down && !editor.key(value, true)) || (up && !editor.key(value, false))) return "unknown key";
    } else if (verb == "wait") {
        wait(static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10)));
    } else {
        return "unknown action";
    }
    return nullptr;
}

int parseEditorOption(const std::vector<std::string>& args, std::size_t& i, EditorOptions& options,
                      const char* command, std::string& err) {
    const std::string& a = args[i];
    if (i + 1 >= args.size()) return 0;
    const std::string& value = args[i + 1];
    if (a == "--time") {
        options.timeMs = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (a == "--shot") {
        options.shot = value;
    } else if (a == "--host-name") {
        options.hostName = value;
    } else if (a == "--do") {
        options.actions.push_back(value);
    } else if (a == "--scale") {
        options.scale = std::strtof(value.c_str(), nullptr);
        if (!(options.scale > 0.0f)) {
            err += std::string(command) + ": --scale needs a positive number\n";
            return -1;
        }
    } else if (a == "--rescale") {
        float s = 0.0f;
        unsigned ms = 0;
        if (std::sscanf(value.c_str(), "%f:%u", &s, &ms) != 2) {
            err += std::string(command) + ": --rescale needs S:MS\n";
            return -1;
        }
        options.actions.push_back("wait:" + std::to_string(ms));
        options.actions.push_back("rescale:" + value.substr(0, value.find(':')));
    } else if (a == "--resize") {
        options.actions.push_back("resize:" + value);
    } else {
        return 0;
    }
    ++i;
    return 1;
}

int runEditorCommand(const std::vector<std::string>& args, std::string& out, std::string& err) {
    static const char* usage =
        "usage: vst3host editor <bundle or binary> [--time MS] [--shot OUT.png] [--host-name NAME]\n"
        "                       [--scale S] [--rescale S:MS] [--resize WxH] [--do ACTION]...\n"
        "  --scale S      setContentScaleFactor(S) before attached; --rescale S:MS a new factor MS ms\n"
        "                 after opening (the view resizes through the frame); --resize WxH a size\n"
        "                 asked as a window frame does (checkSizeConstraint, then onSize), after that\n"
        "  ACTION: move:X,Y  down[:left|middle|right]  up[:...]  wheel:N  key:NAME  keydown:NAME\n"
        "          keyup:NAME  wait:MS   (X, Y in editor pixels; NAME a..z, 0..9, space, enter, escape,\n"
        "          backspace, left, right, up, down, tab, home, end, pageup, pagedown, delete, shift,\n"
        "          ctrl, alt, f1..f12)\n"
        "  --frame-times X,Y  measures the editor's time per 15 ms tick: one second idle, then one\n"
        "          second dragging from (X, Y) back and forth by up to 60 pixels\n"
        "  Prints every edit the host receives (begin/perform/end with parameter ID and value).\n";
    if (args.empty()) {
        err += usage;
        return 2;
    }
    const std::string path = args[0];
    EditorOptions options;
    options.hostName = "vst3host";
    bool frameTimes = false;
    int dragX = 0, dragY = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const int taken = parseEditorOption(args, i, options, "vst3host editor", err);
        if (taken < 0) return 2;
        if (taken > 0) continue;
        const std::string& a = args[i];
        if (a == "--frame-times" && i + 1 < args.size()) {
            if (std::sscanf(args[++i].c_str(), "%d,%d", &dragX, &dragY) != 2) {
                err += "vst3host editor: --frame-times needs X,Y\n";
                return 2;
            }
            frameTimes = true;
        } else {
            err += "vst3host editor: unknown argument \"" + a + "\"\n" + usage;
            return 2;
        }
    }
    const std::uint32_t timeMs = options.timeMs;
    const std::string& shot = options.shot;
    const std::string& hostName = options.hostName;
    const std::vector<std::string>& actions = options.actions;
    const float scale = options.scale;

    Module module;
    std::string error;
    if (!module.load(path, error)) {
        err += "vst3host editor: " + error + "\n";
        return 1;
    }
    char cid[16];
    if (!firstEffectClass(module.factory(), cid)) {
        err += "vst3host editor: the module has no audio effect class\n";
        return 1;
    }
    HostApplication host(hostName);
    ComponentHandler handler;
    int status = 0;
    {
        Plugin plugin(module.factory(), cid, &host);
        if (!plugin.ok()) {
            err += "vst3host editor: cannot create the plug-in\n";
            return 1;
        }
        plugin.controller->setComponentHandler(&handler);
        EditorHost editor;
        if (!editor.open(plugin.controller, error, scale)) {
            err += "vst3host editor: " + error + "\n";
            return 1;
        }
        const v::ViewRect size = editor.size();
        appendf(out, "editor: %d x %d (%s)\n", size.right - size.left, size.bottom - size.top,
                EditorHost::platformType());
        editor.settle();
        for (const std::string& action : actions) {
            const std::size_t colon = action.find(':');
            const std::string verb = action.substr(0, colon);
            const std::string value = colon == std::string::npos ? "" : action.substr(colon + 1);
            const char* problem = nullptr;
            if (verb == "rescale" || verb == "resize") {
                int w = 0, h = 0;
                const bool done =
                    verb == "rescale"
                        ? editor.rescale(std::strtof(value.c_str(), nullptr), error)
                        : std::sscanf(value.c_str(), "%dx%d", &w, &h) == 2 && editor.resize(w, h, error);
                if (!done) problem = error.empty() ? "resize needs WxH" : error.c_str();
                const v::ViewRect now = editor.size();
                if (done) appendf(out, "editor: %d x %d\n", now.right - now.left, now.bottom - now.top);
                editor.settle();
            } else {
                problem = applyInputAction(editor, verb, value, [&](std::uint32_t ms) { editor.run(ms); });
            }
            if (problem != nullptr) {
                err += "vst3host editor: \"" + action + "\": " + problem + "\n";
                status = 2;
                break;
            }
        }
        if (status == 0 && frameTimes) measureFrameTimes(editor, dragX, dragY, out);
        editor.run(timeMs);
        if (status == 0 && !shot.empty()) {
            editor.settle();
            Image image;
            if (!editor.screenshot(image, error) || !savePNG(shot, image)) {
                err += "vst3host editor: cannot save the screenshot: " + error + "\n";
                status = 1;
            } else {
                appendf(out, "screenshot: %s\n", shot.c_str());
            }
        }
        editor.close();
    }
    printEdits(handler, out);
    return status;
}

bool saveEditorShot(const std::string& path, const std::string& hostName, const std::string& pngPath,
                    std::string& out) {
    std::string err;
    const int status =
        runEditorCommand({path, "--time", "0", "--shot", pngPath, "--host-name", hostName}, out, err);
    out += err;
    return status == 0;
}

}  // namespace vst3host
