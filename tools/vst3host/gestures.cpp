#include "tools/vst3host/gestures.h"

namespace vst3host {

bool GestureLedger::fail(const std::string& what) {
    if (failure_.empty()) failure_ = what;
    return false;
}

bool GestureLedger::take(const std::vector<ComponentHandler::Call>& calls) {
    if (!failure_.empty()) return false;
    using Kind = ComponentHandler::Kind;
    for (const ComponentHandler::Call& call : calls) {
        const std::string id = std::to_string(call.id);
        switch (call.kind) {
            case Kind::beginEdit: {
                ++gestures_;
                std::int32_t& open = open_[call.id];
                if (open > 0) return fail("beginEdit(" + id + ") inside its open gesture");
                open = 1;
                break;
            }
            case Kind::performEdit:
                ++edits_;
                if (open_[call.id] == 0) return fail("performEdit(" + id + ") outside a gesture");
                break;
            case Kind::endEdit:
                if (open_[call.id] == 0) return fail("endEdit(" + id + ") without beginEdit");
                open_[call.id] = 0;
                break;
            case Kind::startGroupEdit: ++groups_; break;
            case Kind::finishGroupEdit:
                if (groups_ == 0) return fail("finishGroupEdit without startGroupEdit");
                --groups_;
                break;
            case Kind::restartComponent: break;
        }
    }
    return true;
}

bool GestureLedger::editorGone() {
    if (!failure_.empty()) return false;
    for (const auto& [id, open] : open_)
        if (open != 0) return fail("the gesture of parameter " + std::to_string(id) + " was left open when the editor went");
    if (groups_ != 0) return fail("a group edit was left open when the editor went");
    return true;
}

}  // namespace vst3host
