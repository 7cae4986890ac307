#pragma once
// GestureLedger: what a host expects of the edits a plug-in's editor reports through the
// component handler. beginEdit and endEdit pair up per parameter (no second beginEdit while the
// first is open, no endEdit without one), performEdit comes only inside a gesture, group edits pair
// up too, and once the editor has gone (removed) no gesture is left open.
//
//   GestureLedger ledger;
//   if (!ledger.take(handler.calls)) ... ledger.failure()   // after each action; then clear the calls
//   if (!ledger.editorGone()) ...                           // after close or detach
//
// The first broken rule stays in failure(); later calls are not looked at.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/vst3host/host.h"

namespace vst3host {

class GestureLedger {
public:
    // The calls since the last take, in order. False on the first broken rule.
    bool take(const std::vector<ComponentHandler::Call>& calls);
    // False when a gesture or a group edit is still open.
    bool editorGone();

    const std::string& failure() const { return failure_; }
    std::int64_t gestures() const { return gestures_; }  // beginEdit calls
    std::int64_t edits() const { return edits_; }        // performEdit calls

private:
    bool fail(const std::string& what);

    std::map<v::ParamID, std::int32_t> open_;  // open gestures per parameter (0 or 1)
    std::int32_t groups_ = 0;
    std::int64_t gestures_ = 0;
    std::int64_t edits_ = 0;
    std::string failure_;
};

}  // namespace vst3host
