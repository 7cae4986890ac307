// claphost's editor host: the CLAP gui calls in the order hosts make them, the host's gui, timer
// and descriptor support, and the `editor` command.
#include "tools/claphost/editor.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace claphost {

using vst3host::appendf;

namespace v = korvo::vst3;

namespace {


}  // namespace

// A timer or descriptor of the plug-in's, as a handler of the window's run loop.
struct EditorHost::Timer final : vst3host::HostObject<v::ITimerHandler> {
    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override {
        return answer(iid, obj, v::iidITimerHandler);
    }
    void KORVO_VST3_API onTimer() override {
        if (live && timer != nullptr) timer->onTimer(plugin, id);
    }
    const c::Plugin* plugin = nullptr;
    const c::PluginTimerSupport* timer = nullptr;
    c::ClapId id = c::kInvalidId;
    bool live = true;
};

struct EditorHost::Descriptor final : vst3host::HostObject<v::IEventHandler> {
    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override {
        return answer(iid, obj, v::iidIEventHandler);
    }
    void KORVO_VST3_API onFDIsSet(v::FileDescriptor) override {
        if (live && support != nullptr) support->onFd(plugin, fd, c::kPosixFdRead);
    }
    const c::Plugin* plugin = nullptr;
    const c::PluginPosixFdSupport* support = nullptr;
    int fd = -1;
    bool live = true;
};

EditorHost::EditorHost(Host& host, Instance& instance) : host_(host), instance_(instance) {
    host_.gui = this;
    if (instance_.plugin != nullptr)
        gui = static_cast<const c::PluginGui*>(instance_.plugin->getExtension(instance_.plugin, c::kExtGui));
}

EditorHost::~EditorHost() {
    close();
    for (auto& t : timers_)
        if (t->live) window_.frame().runLoop().unregisterTimer(t.get());
    for (auto& d : descriptors_)
        if (d->live) window_.frame().runLoop().unregisterEventHandler(d.get());
    if (host_.gui == this) host_.gui = nullptr;
}

const char* EditorHost::api() {
#if defined(_WIN32)
    return c::kWindowApiWin32;
#else
    return c::kWindowApiX11;
#endif
}

bool EditorHost::open(std::string& error, double scale) {
    close();
    const c::Plugin* plugin = instance_.plugin;
    if (gui == nullptr) {
        error = "the plug-in has no gui extension";
        return false;
    }
    if (!gui->isApiSupported(plugin, api(), false)) {
        error = std::string("the editor does not support \"") + api() + "\" embedded";
        return false;
    }
    if (!gui->create(plugin, api(), false)) {
        error = "gui.create failed";
        return false;
    }
    created_ = true;
    if (scale > 0.0 && !gui->setScale(plugin, scale)) {
        error = "gui.set_scale refused the scale";
        close();
        return false;
    }
    if (!gui->getSize(plugin, &width_, &height_) || width_ == 0 || height_ == 0) {
        error = "gui.get_size failed";
        close();
        return false;
    }
    if (!window_.openWindow(static_cast<std::int32_t>(width_), static_cast<std::int32_t>(height_), error)) {
        close();
        return false;
    }
    c::Window parent{};
    parent.api = api();
#if defined(_WIN32)
    parent.win32 = window_.nativeWindow();
#else
    parent.x11 = static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(window_.nativeWindow()));
#endif
    if (!gui->setParent(plugin, &parent)) {
        error = "gui.set_parent failed";
        close();
        return false;
    }
    if (!gui->show(plugin)) {
        error = "gui.show failed";
        close();
        return false;
    }
    return true;
}

void EditorHost::close() {
    if (created_) {
        gui->hide(instance_.plugin);
        gui->destroy(instance_.plugin);
        created_ = false;
        flushEdits();
    }
    window_.close();
    width_ = height_ = 0;
}

bool EditorHost::rescale(double scale, std::string& error) {
    if (!created_) {
        error = "no editor";
        return false;
    }
    if (!gui->setScale(instance_.plugin, scale)) {
        error = "gui.set_scale refused the scale";
        return false;
    }
    run(20);
    return true;
}

bool EditorHost::resize(std::uint32_t width, std::uint32_t height, std::string& error) {
    if (!created_) {
        error = "no editor";
        return false;
    }
    if (!gui->canResize(instance_.plugin)) {
        error = "the editor cannot be resized";
        return false;
    }
    if (!gui->adjustSize(instance_.plugin, &width, &height)) {
        error = "gui.adjust_size failed";
        return false;
    }
    window_.setWindowSize(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    if (!gui->setSize(instance_.plugin, width, height)) {
        error = "gui.set_size refused the size adjust_size gave";
        return false;
    }
    width_ = width;
    height_ = height;
    run(20);
    return true;
}

void EditorHost::run(std::uint32_t ms) {
    const std::uint64_t end = vst3host::monotonicMs() + ms;
    do {
        const std::uint64_t now = vst3host::monotonicMs();
        window_.run(static_cast<std::uint32_t>(std::min<std::uint64_t>(end > now ? end - now : 0, 10)));
        flushEdits();
    } while (vst3host::monotonicMs() < end);
}

bool EditorHost::settle(std::uint32_t timeoutMs) {
    const bool still = window_.settle(timeoutMs);
    flushEdits();
    return still;
}

void EditorHost::flushEdits() {
    // A processing instance sends its edits from process; the caller collects those.
    if (instance_.processing || host_.flushRequests.load() == flushesAnswered_) return;
    flushesAnswered_ = host_.flushRequests.load();
    OutputList out;
    instance_.flush(EventList{}, &out);
    for (auto& e : out.events) edits.push_back(std::move(e));
}

bool EditorHost::requestResize(std::uint32_t width, std::uint32_t height) {
    ++resizeRequests;
    if (!created_ || width == 0 || height == 0 || width > 16384 || height > 16384) return false;
    window_.setWindowSize(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    width_ = width;
    height_ = height;
    return true;
}

bool EditorHost::registerTimer(std::uint32_t periodMs, c::ClapId* timerId) {
    const auto* support = static_cast<const c::PluginTimerSupport*>(
        instance_.plugin->getExtension(instance_.plugin, c::kExtTimerSupport));
    if (support == nullptr || support->onTimer == nullptr || periodMs == 0) return false;
    auto timer = std::make_unique<Timer>();
    timer->plugin = instance_.plugin;
    timer->timer = support;
    timer->id = nextTimerId_++;
    if (window_.frame().runLoop().registerTimer(timer.get(), periodMs) != v::kResultOk) return false;
    *timerId = timer->id;
    timers_.push_back(std::move(timer));
    return true;
}

bool EditorHost::unregisterTimer(c::ClapId timerId) {
    for (auto& t : timers_)
        if (t->live && t->id == timerId) {
            t->live = false;
            return window_.frame().runLoop().unregisterTimer(t.get()) == v::kResultOk;
        }
    return false;
}

bool EditorHost::registerFd(int fd, std::uint32_t flags) {
    const auto* support = static_cast<const c::PluginPosixFdSupport*>(
        instance_.plugin->getExtension(instance_.plugin, c::kExtPosixFdSupport));
    // Our loop waits for reading only.
    if (support == nullptr || support->onFd == nullptr || fd < 0 || (flags & c::kPosixFdRead) == 0) return false;
    for (auto& d : descriptors_)
        if (d->live && d->fd == fd) return false;
    auto descriptor = std::make_unique<Descriptor>();
    descriptor->plugin = instance_.plugin;
    descriptor->support = support;
    descriptor->fd = fd;
    if (window_.frame().runLoop().registerEventHandler(descriptor.get(), fd) != v::kResultOk) return false;
    descriptors_.push_back(std::move(descriptor));
    return true;
}

bool EditorHost::modifyFd(int fd, std::uint32_t flags) {
    for (auto& d : descriptors_)
        if (d->live && d->fd == fd) return (flags & c::kPosixFdRead) != 0;
    return false;
}

bool EditorHost::unregisterFd(int fd) {
    for (auto& d : descriptors_)
        if (d->live && d->fd == fd) {
            d->live = false;
            return window_.frame().runLoop().unregisterEventHandler(d.get()) == v::kResultOk;
        }
    return false;
}

// ---- The command -------------------------------------------------------------------------------------

namespace {

void printEdits(const std::vector<std::vector<std::uint8_t>>& events, std::string& out) {
    for (const auto& bytes : events) {
        c::EventHeader header{};
        std::memcpy(&header, bytes.data(), sizeof(header));
        if (header.type == c::kEventParamValue && bytes.size() >= sizeof(c::EventParamValue)) {
            c::EventParamValue e{};
            std::memcpy(&e, bytes.data(), sizeof(e));
            appendf(out, "edit: value %u %.9g\n", e.paramId, e.value);
        } else if ((header.type == c::kEventParamGestureBegin || header.type == c::kEventParamGestureEnd) &&
                   bytes.size() >= sizeof(c::EventParamGesture)) {
            c::EventParamGesture e{};
            std::memcpy(&e, bytes.data(), sizeof(e));
            appendf(out, "edit: %s %u\n", header.type == c::kEventParamGestureBegin ? "begin" : "end", e.paramId);
        } else {
            appendf(out, "edit: event of type %u\n", header.type);
        }
    }
}

}  // namespace

int runEditorCommand(const std::vector<std::string>& args, std::string& out, std::string& err) {
    static const char* usage =
        "usage: claphost editor <file.clap> [--time MS] [--shot OUT.png] [--host-name NAME]\n"
        "                       [--scale S] [--rescale S:MS] [--resize WxH] [--do ACTION]...\n"
        "  --scale S      gui.set_scale(S) before set_parent; --rescale S:MS a new scale MS ms after\n"
        "                 opening (the editor asks for its size by request_resize); --resize WxH a\n"
        "                 size asked as a window frame does (adjust_size, then set_size)\n"
        "  ACTION: move:X,Y  down[:left|middle|right]  up[:...]  wheel:N  key:NAME  keydown:NAME\n"
        "          keyup:NAME  wait:MS   (as vst3host editor)\n"
        "  Prints every event the editor sends through params.flush (begin/value/end with the\n"
        "  parameter ID and the plain value).\n";
    if (args.empty()) {
        err += usage;
        return 2;
    }
    vst3host::EditorOptions options;
    options.hostName = "claphost";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const int taken = vst3host::parseEditorOption(args, i, options, "claphost editor", err);
        if (taken < 0) return 2;
        if (taken == 0) {
            err += "claphost editor: unknown argument \"" + args[i] + "\"\n" + usage;
            return 2;
        }
    }
    const std::uint32_t timeMs = options.timeMs;
    const std::string& shot = options.shot;
    const std::string& hostName = options.hostName;
    const std::vector<std::string>& actions = options.actions;
    const double scale = options.scale;
    Module module;
    std::string error;
    if (!module.load(args[0], error)) {
        err += "claphost editor: " + error + "\n";
        return 1;
    }
    Host host(hostName);
    Instance instance(module, host);
    if (!instance.ok()) {
        err += "claphost editor: cannot create the plug-in\n";
        return 1;
    }
    EditorHost editor(host, instance);
    if (!editor.open(error, scale)) {
        err += "claphost editor: " + error + "\n";
        return 1;
    }
    appendf(out, "editor: %u x %u (%s)\n", editor.width(), editor.height(), EditorHost::api());
    editor.settle();
    int status = 0;
    for (const std::string& action : actions) {
        const std::size_t colon = action.find(':');
        const std::string verb = action.substr(0, colon);
        const std::string value = colon == std::string::npos ? "" : action.substr(colon + 1);
        const char* problem = nullptr;
        if (verb == "rescale" || verb == "resize") {
            unsigned w = 0, h = 0;
            error.clear();
            const bool done = verb == "rescale" ? editor.rescale(std::strtod(value.c_str(), nullptr), error)
                                                : std::sscanf(value.c_str(), "%ux%u", &w, &h) == 2 &&
                                                      editor.resize(w, h, error);
            if (!done) problem = error.empty() ? "resize needs WxH" : error.c_str();
            if (done) appendf(out, "editor: %u x %u\n", editor.width(), editor.height());
            editor.settle();
        } else {
            problem = vst3host::applyInputAction(editor.window(), verb, value,
                                                 [&](std::uint32_t ms) { editor.run(ms); });
            editor.run(0);
        }
        if (problem != nullptr) {
            err += "claphost editor: \"" + action + "\": " + problem + "\n";
            status = 2;
            break;
        }
    }
    editor.run(timeMs);
    if (status == 0 && !shot.empty()) {
        editor.settle();
        vst3host::Image image;
        if (!editor.window().screenshot(image, error) || !vst3host::savePNG(shot, image)) {
            err += "claphost editor: cannot save the screenshot: " + error + "\n";
            status = 1;
        } else {
            appendf(out, "screenshot: %s\n", shot.c_str());
        }
    }
    editor.close();
    printEdits(editor.edits, out);
    return status;
}

}  // namespace claphost
