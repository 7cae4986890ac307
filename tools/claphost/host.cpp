// claphost's module loading, host structure and extensions, event lists and streams.
#include "tools/claphost/host.h"

#include <algorithm>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace claphost {

// ---- Module -----------------------------------------------------------------------------------------

Module::~Module() {
    unload();
}

void* Module::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

bool Module::load(const std::string& path, std::string& error) {
    unload();
#if defined(_WIN32)
    std::wstring wide(path.begin(), path.end());
    handle_ = LoadLibraryW(wide.c_str());
    if (handle_ == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
#else
    handle_ = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why != nullptr ? why : "?");
        return false;
    }
#endif
    // clap_entry is data, not a function: the symbol's address is the structure.
    const auto* entry = static_cast<const c::PluginEntry*>(symbol("clap_entry"));
    if (entry == nullptr) {
        error = "no clap_entry in " + path;
        unload();
        return false;
    }
    if (!c::versionIsCompatible(entry->clapVersion) || entry->init == nullptr || entry->deinit == nullptr ||
        entry->getFactory == nullptr) {
        error = "clap_entry of " + path + " is not a usable CLAP 1.x entry";
        unload();
        return false;
    }
    if (!entry->init(path.c_str())) {
        error = "init failed";
        unload();  // after a failed init nothing more is called, not even deinit
        return false;
    }
    entry_ = entry;
    factory_ = static_cast<const c::PluginFactory*>(entry->getFactory(c::kPluginFactoryId));
    if (factory_ == nullptr) {
        error = "no plug-in factory";
        unload();
        return false;
    }
    return true;
}

void Module::unload() {
    if (handle_ == nullptr) return;
    if (entry_ != nullptr) entry_->deinit();
    entry_ = nullptr;
    factory_ = nullptr;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
}

std::string Module::firstPluginId() const {
    if (factory_ == nullptr || factory_->getPluginCount(factory_) < 1) return "";
    const c::PluginDescriptor* d = factory_->getPluginDescriptor(factory_, 0);
    return d != nullptr && d->id != nullptr ? d->id : "";
}

// ---- Host -------------------------------------------------------------------------------------------

namespace {

template <class T>
T& owner(const c::Host* host) {
    return *static_cast<T*>(host->hostData);
}

}  // namespace

Host::Host(std::string name) : name_(std::move(name)) {
    mainThread_ = audioThread_ = std::this_thread::get_id();
    host_.clapVersion = c::kVersion;
    host_.hostData = this;
    host_.name = name_.c_str();
    host_.vendor = "Korvo";
    host_.url = "";
    host_.version = "1.0";
    host_.getExtension = getExtension;
    host_.requestRestart = [](const c::Host* h) { ++owner<Host>(h).restartRequests; };
    host_.requestProcess = [](const c::Host* h) { ++owner<Host>(h).processRequests; };
    host_.requestCallback = [](const c::Host* h) { ++owner<Host>(h).callbackRequests; };
}

const void* KORVO_CLAP_API Host::getExtension(const c::Host* host, const char* id) {
    static const c::HostThreadCheck threadCheck = {
        [](const c::Host* h) { return owner<Host>(h).isMainThread(); },
        [](const c::Host* h) { return owner<Host>(h).isAudioThread(); }};
    static const c::HostLog log = {[](const c::Host* h, std::int32_t severity, const char* message) {
        owner<Host>(h).logs.push_back({severity, message != nullptr ? message : ""});
    }};
    static const c::HostParams params = {
        [](const c::Host* h, std::uint32_t flags) { owner<Host>(h).paramRescans.push_back(flags); },
        [](const c::Host*, c::ClapId, std::uint32_t) {},
        [](const c::Host* h) { ++owner<Host>(h).flushRequests; }};
    static const c::HostLatency latency = {[](const c::Host* h) { ++owner<Host>(h).latencyChanges; }};
    static const c::HostTail tail = {[](const c::Host* h) { ++owner<Host>(h).tailChanges; }};
    static const c::HostState state = {[](const c::Host* h) { ++owner<Host>(h).dirtyMarks; }};
    static const c::HostAudioPorts ports = {
        [](const c::Host*, std::uint32_t) { return true; },
        [](const c::Host* h, std::uint32_t flags) { owner<Host>(h).portRescans.push_back(flags); }};
    // The editor's extensions, answered by whatever editor host is open.
    static const c::HostGui gui = {
        [](const c::Host*) {},
        [](const c::Host* h, std::uint32_t width, std::uint32_t height) {
            GuiHandler* g = owner<Host>(h).gui;
            return g != nullptr && g->requestResize(width, height);
        },
        [](const c::Host*) { return false; }, [](const c::Host*) { return false; },
        [](const c::Host*, bool) {}};
    static const c::HostTimerSupport timers = {
        [](const c::Host* h, std::uint32_t periodMs, c::ClapId* timerId) {
            GuiHandler* g = owner<Host>(h).gui;
            return g != nullptr && timerId != nullptr && g->registerTimer(periodMs, timerId);
        },
        [](const c::Host* h, c::ClapId timerId) {
            GuiHandler* g = owner<Host>(h).gui;
            return g != nullptr && g->unregisterTimer(timerId);
        }};
    static const c::HostPosixFdSupport fds = {
        [](const c::Host* h, int fd, std::uint32_t flags) {
            GuiHandler* g = owner<Host>(h).gui;
            return g != nullptr && g->registerFd(fd, flags);
        },
        [](const c::Host* h, int fd, std::uint32_t flags) {
            GuiHandler* g = owner<Host>(h).gui;
            return g != nullptr && g->modifyFd(fd, flags);
        },
        [](const c::Host* h, int fd) {
            GuiHandler* g = owner<Host>(h).gui;
            return g != nullptr && g->unregisterFd(fd);
        }};
    if (host == nullptr || id == nullptr) return nullptr;
    const Host& self = owner<Host>(host);
    if (std::strcmp(id, c::kExtGui) == 0) return self.offerGui ? &gui : nullptr;
    if (std::strcmp(id, c::kExtTimerSupport) == 0) return self.offerGui ? &timers : nullptr;
    if (std::strcmp(id, c::kExtPosixFdSupport) == 0) return self.offerGui ? &fds : nullptr;
    if (std::strcmp(id, c::kExtThreadCheck) == 0) return self.offerThreadCheck ? &threadCheck : nullptr;
    if (std::strcmp(id, c::kExtLog) == 0) return self.offerLog ? &log : nullptr;
    if (std::strcmp(id, c::kExtParams) == 0) return &params;
    if (std::strcmp(id, c::kExtLatency) == 0) return &latency;
    if (std::strcmp(id, c::kExtTail) == 0) return &tail;
    if (std::strcmp(id, c::kExtState) == 0) return &state;
    if (std::strcmp(id, c::kExtAudioPorts) == 0) return &ports;
    return nullptr;
}

// ---- Event lists ------------------------------------------------------------------------------------

EventList::EventList() {
    input_.ctx = this;
    input_.size = size;
    input_.get = get;
}

void EventList::addRaw(const c::EventHeader& event) {
    // The event's own size, or the header alone when it claims less; the caller's buffer holds it.
    const std::size_t size = std::max<std::size_t>(event.size, sizeof(c::EventHeader));
    const std::size_t at = bytes_.size();
    bytes_.resize(at + (size + 7) / 8, 0);
    std::memcpy(bytes_.data() + at, &event, size);
    offsets_.push_back(at);
}

void EventList::addValue(std::uint32_t time, c::ClapId id, double value) {
    c::EventParamValue e{};
    e.header = {sizeof(c::EventParamValue), time, c::kCoreEventSpaceId, c::kEventParamValue, 0};
    e.paramId = id;
    e.noteId = -1;
    e.portIndex = e.channel = e.key = -1;
    e.value = value;
    addRaw(e.header);
}

std::uint32_t KORVO_CLAP_API EventList::size(const c::InputEvents* list) {
    return static_cast<const EventList*>(list->ctx)->count();
}

const c::EventHeader* KORVO_CLAP_API EventList::get(const c::InputEvents* list, std::uint32_t index) {
    const auto* self = static_cast<const EventList*>(list->ctx);
    if (index >= self->offsets_.size()) return nullptr;
    return reinterpret_cast<const c::EventHeader*>(self->bytes_.data() + self->offsets_[index]);
}

OutputList::OutputList() {
    output_.ctx = this;
    output_.tryPush = tryPush;
}

bool KORVO_CLAP_API OutputList::tryPush(const c::OutputEvents* list, const c::EventHeader* event) {
    if (event == nullptr || event->size < sizeof(c::EventHeader)) return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(event);
    static_cast<OutputList*>(list->ctx)->events.emplace_back(bytes, bytes + event->size);
    return true;
}

// ---- Streams ----------------------------------------------------------------------------------------

OutStream::OutStream() {
    stream_.ctx = this;
    stream_.write = write;
}

std::int64_t KORVO_CLAP_API OutStream::write(const c::OStream* stream, const void* buffer,
                                             std::uint64_t size) {
    auto* self = static_cast<OutStream*>(stream->ctx);
    if (self->failAfterCalls >= 0 && self->calls >= self->failAfterCalls) return -1;
    ++self->calls;
    if (buffer == nullptr) return -1;
    if (self->bytesPerCall > 0) size = std::min(size, self->bytesPerCall);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    self->bytes.insert(self->bytes.end(), bytes, bytes + size);
    return static_cast<std::int64_t>(size);
}

InStream::InStream(std::vector<std::uint8_t> data) : bytes(std::move(data)) {
    stream_.ctx = this;
    stream_.read = read;
}

std::int64_t KORVO_CLAP_API InStream::read(const c::IStream* stream, void* buffer, std::uint64_t size) {
    auto* self = static_cast<InStream*>(stream->ctx);
    if ((self->failAfterCalls >= 0 && self->failAfterCalls-- == 0) || buffer == nullptr) {
        self->failed = true;
        return -1;
    }
    std::uint64_t n = std::min<std::uint64_t>(size, self->bytes.size() - self->position);
    if (self->bytesPerCall > 0) n = std::min(n, self->bytesPerCall);
    if (n > 0) std::memcpy(buffer, self->bytes.data() + self->position, static_cast<std::size_t>(n));
    self->position += static_cast<std::size_t>(n);
    return static_cast<std::int64_t>(n) + (n > 0 ? self->overclaim : 0);
}

}  // namespace claphost
