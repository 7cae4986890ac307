// The host objects our VST3 host hands to plug-ins: application, component handler, streams,
// parameter changes and event lists.
#include <cstring>
#include <memory>

#include "tools/vst3host/host.h"
#include "tools/vst3host/system.h"

namespace vst3host {

v::tresult HostApplication::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIHostApplication);
}

v::tresult HostApplication::getName(v::String128 name) {
    if (name == nullptr) return v::kInvalidArgument;
    if (unterminated_) {
        for (std::size_t i = 0; i < 128; ++i)
            name[i] = static_cast<v::char16>(i < name_.size() ? static_cast<unsigned char>(name_[i]) : 'x');
        return v::kResultOk;
    }
    std::size_t i = 0;
    for (; i < name_.size() && i < 127; ++i)
        name[i] = static_cast<v::char16>(static_cast<unsigned char>(name_[i]));
    name[i] = 0;
    return v::kResultOk;
}

v::tresult HostApplication::createInstance(v::TUID, v::TUID, void** obj) {
    if (obj != nullptr) *obj = nullptr;
    return v::kResultFalse;
}

v::tresult ComponentHandler::queryInterface(const v::TUID iid, void** obj) {
    if (obj != nullptr && v::uidEquals(iid, v::iidIComponentHandler2)) {
        addRef();
        *obj = static_cast<v::IComponentHandler2*>(&grouping_);
        return v::kResultOk;
    }
    if (obj != nullptr && offersMenus && v::uidEquals(iid, v::iidIComponentHandler3)) {
        addRef();
        *obj = static_cast<v::IComponentHandler3*>(&menus_);
        return v::kResultOk;
    }
    return answer(iid, obj, v::iidIComponentHandler);
}
void ComponentHandler::record(const Call& call) {
    if (currentThreadId() != thread_) {
        ++callsOffThread;
        return;
    }
    calls.push_back(call);
}

v::tresult ComponentHandler::beginEdit(v::ParamID id) {
    record({Kind::beginEdit, id, 0.0, 0});
    return v::kResultOk;
}
v::tresult ComponentHandler::performEdit(v::ParamID id, v::ParamValue value) {
    record({Kind::performEdit, id, value, 0});
    return v::kResultOk;
}
v::tresult ComponentHandler::endEdit(v::ParamID id) {
    record({Kind::endEdit, id, 0.0, 0});
    return v::kResultOk;
}
v::tresult ComponentHandler::restartComponent(v::int32 flags) {
    record({Kind::restartComponent, 0, 0.0, flags});
    return v::kResultOk;
}

// A context menu: the host's one item, then what the plug-in adds, each with its target.
class ComponentHandler::ContextMenu final : public HostObject<v::IContextMenu> {
public:
    ContextMenu(ComponentHandler& owner, std::size_t request) : owner_(owner), request_(request) {}
    ~ContextMenu() { dropTargets(); }
    // The plug-in's last release gives its targets back at once (its module may go before the
    // handler does).
    v::uint32 KORVO_VST3_API release() override {
        const v::uint32 left = HostObject<v::IContextMenu>::release();
        if (left == 0) dropTargets();
        return left;
    }
    void dropTargets() {
        for (auto& [item, target] : added_)
            if (target != nullptr) target->release();
        added_.clear();
    }
    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override {
        return answer(iid, obj, v::iidIContextMenu);
    }
    v::int32 KORVO_VST3_API getItemCount() override { return 1 + static_cast<v::int32>(added_.size()); }
    v::tresult KORVO_VST3_API getItem(v::int32 index, v::IContextMenuItem& item, v::IContextMenuTarget** target) override {
        if (index < 0 || index >= getItemCount()) return v::kInvalidArgument;
        if (index == 0) {
            item = v::IContextMenuItem{};
            const char* text = "Automate";
            for (int i = 0; text[i] != 0; ++i) item.name[i] = static_cast<v::char16>(text[i]);
            if (target != nullptr) *target = nullptr;
            return v::kResultOk;
        }
        item = added_[static_cast<std::size_t>(index - 1)].first;
        if (target != nullptr) *target = added_[static_cast<std::size_t>(index - 1)].second;
        return v::kResultOk;
    }
    v::tresult KORVO_VST3_API addItem(const v::IContextMenuItem& item, v::IContextMenuTarget* target) override {
        if (target != nullptr) target->addRef();
        added_.emplace_back(item, target);
        std::string name;
        for (int i = 0; i < 128 && item.name[i] != 0; ++i) name += static_cast<char>(item.name[i] & 0x7F);
        owner_.menus[request_].items.push_back((item.flags & v::IContextMenuItem::kIsSeparator) != 0 ? "-" : name);
        return v::kResultOk;
    }
    v::tresult KORVO_VST3_API removeItem(const v::IContextMenuItem&, v::IContextMenuTarget*) override {
        return v::kResultFalse;
    }
    v::tresult KORVO_VST3_API popup(v::int32 x, v::int32 y) override {
        MenuRequest& request = owner_.menus[request_];
        request.x = x;
        request.y = y;
        request.poppedUp = true;
        for (std::size_t i = 0; i < request.items.size() && i < added_.size(); ++i)
            if (!owner_.chooseOnPopup.empty() && request.items[i] == owner_.chooseOnPopup && added_[i].second != nullptr)
                added_[i].second->executeMenuItem(added_[i].first.tag);
        return v::kResultOk;
    }

private:
    ComponentHandler& owner_;
    std::size_t request_;
    std::vector<std::pair<v::IContextMenuItem, v::IContextMenuTarget*>> added_;
};

ComponentHandler::ComponentHandler() : thread_(currentThreadId()) {}
ComponentHandler::~ComponentHandler() = default;

v::IContextMenu* ComponentHandler::Menus::createContextMenu(v::IPlugView*, const v::ParamID* id) {
    MenuRequest request;
    request.hadId = id != nullptr;
    if (id != nullptr) request.id = *id;
    owner_.menus.push_back(request);
    // Counted from 1, the plug-in's reference; the handler keeps its menus (and through them the
    // plug-in's targets) until it goes.
    owner_.contextMenus_.push_back(std::make_unique<ContextMenu>(owner_, owner_.menus.size() - 1));
    ContextMenu* menu = owner_.contextMenus_.back().get();
    return menu;
}

v::tresult MemoryStream::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIBStream);
}

v::tresult MemoryStream::read(void* buffer, v::int32 numBytes, v::int32* numBytesRead) {
    if (numBytesRead != nullptr) *numBytesRead = 0;
    if (failReadsAfter_ == 0) return v::kResultFalse;
    if (failReadsAfter_ > 0) --failReadsAfter_;
    if (buffer == nullptr || numBytes < 0) return v::kInvalidArgument;
    const std::int64_t size = static_cast<std::int64_t>(bytes_.size());
    const std::int64_t available = position_ < size ? size - position_ : 0;
    std::int64_t n = numBytes < available ? numBytes : available;
    if (bytesPerRead_ > 0 && n > bytesPerRead_) n = bytesPerRead_;
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    if (numBytesRead != nullptr) *numBytesRead = static_cast<v::int32>(n);
    return v::kResultOk;
}

v::tresult MemoryStream::write(void* buffer, v::int32 numBytes, v::int32* numBytesWritten) {
    if (numBytesWritten != nullptr) *numBytesWritten = 0;
    if (failWritesAfter_ == 0) return v::kResultFalse;
    if (failWritesAfter_ > 0) --failWritesAfter_;
    if (buffer == nullptr || numBytes < 0) return v::kInvalidArgument;
    if (bytesPerWrite_ > 0 && numBytes > bytesPerWrite_) numBytes = bytesPerWrite_;
    const std::size_t end = static_cast<std::size_t>(position_) + static_cast<std::size_t>(numBytes);
    if (bytes_.size() < end) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(numBytes));
    position_ = static_cast<std::int64_t>(end);
    if (numBytesWritten != nullptr) *numBytesWritten = numBytes;
    return v::kResultOk;
}

v::tresult MemoryStream::seek(v::int64 pos, v::int32 mode, v::int64* result) {
    std::int64_t base = 0;
    if (mode == v::kIBSeekCur)
        base = position_;
    else if (mode == v::kIBSeekEnd)
        base = claimedEnd_ >= 0 ? claimedEnd_ : static_cast<std::int64_t>(bytes_.size());
    else if (mode != v::kIBSeekSet)
        return v::kInvalidArgument;
    if (base + pos < 0) return v::kResultFalse;
    position_ = base + pos;
    if (result != nullptr) *result = position_;
    return v::kResultOk;
}

v::tresult MemoryStream::tell(v::int64* pos) {
    if (pos == nullptr) return v::kInvalidArgument;
    *pos = position_;
    return v::kResultOk;
}

v::tresult ParamValueQueue::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIParamValueQueue);
}

v::tresult ParamValueQueue::getPoint(v::int32 index, v::int32& sampleOffset, v::ParamValue& value) {
    if (index < 0 || index >= static_cast<v::int32>(points_.size())) return v::kResultFalse;
    sampleOffset = points_[static_cast<std::size_t>(index)].first;
    value = points_[static_cast<std::size_t>(index)].second;
    return v::kResultOk;
}

v::tresult ParamValueQueue::addPoint(v::int32 sampleOffset, v::ParamValue value, v::int32& index) {
    points_.emplace_back(sampleOffset, value);
    index = static_cast<v::int32>(points_.size()) - 1;
    return v::kResultOk;
}

v::tresult ParameterChanges::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIParameterChanges);
}

void ParameterChanges::add(v::ParamID id, v::int32 offset, v::ParamValue value) {
    v::int32 index = 0;
    addParameterData(id, index)->addPoint(offset, value, index);
}

void ParameterChanges::addEmptyQueue(v::ParamID id) {
    queues_.push_back(std::make_unique<ParamValueQueue>(id));
}

v::IParamValueQueue* ParameterChanges::getParameterData(v::int32 index) {
    if (index < 0 || index >= static_cast<v::int32>(queues_.size())) return nullptr;
    return queues_[static_cast<std::size_t>(index)].get();
}

v::IParamValueQueue* ParameterChanges::addParameterData(const v::ParamID& id, v::int32& index) {
    for (std::size_t i = 0; i < queues_.size(); ++i) {
        if (queues_[i]->getParameterId() == id) {
            index = static_cast<v::int32>(i);
            return queues_[i].get();
        }
    }
    queues_.push_back(std::make_unique<ParamValueQueue>(id));
    index = static_cast<v::int32>(queues_.size()) - 1;
    return queues_.back().get();
}

void EventList::addNoteOn(v::int32 offset, v::int16 channel, v::int16 pitch, float velocity) {
    v::Event e{};
    e.sampleOffset = offset;
    e.type = v::kNoteOnEvent;
    e.noteOn.channel = channel;
    e.noteOn.pitch = pitch;
    e.noteOn.velocity = velocity;
    e.noteOn.noteId = -1;
    events_.push_back(e);
}

void EventList::addNoteOff(v::int32 offset, v::int16 channel, v::int16 pitch, float velocity) {
    v::Event e{};
    e.sampleOffset = offset;
    e.type = v::kNoteOffEvent;
    e.noteOff.channel = channel;
    e.noteOff.pitch = pitch;
    e.noteOff.velocity = velocity;
    e.noteOff.noteId = -1;
    events_.push_back(e);
}

v::tresult EventList::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIEventList);
}

v::tresult EventList::getEvent(v::int32 index, v::Event& e) {
    if (index < 0 || index >= static_cast<v::int32>(events_.size())) return v::kResultFalse;
    e = events_[static_cast<std::size_t>(index)];
    return v::kResultOk;
}

v::tresult EventList::addEvent(v::Event& e) {
    events_.push_back(e);
    return v::kResultOk;
}

}  // namespace vst3host
