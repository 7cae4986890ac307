#pragma once
// EditHistory: undo and redo of what the user did in the editor. It listens to the parameters'
// edit gestures (begin ... end, which only the editor makes: host automation and program changes
// are not gestures and are not recorded). Gestures that overlap (the panorama moves pan and
// distance together) make one step; a gesture that changed nothing makes none. Undo puts every
// value of the last step back, redo sets them again, each value as a gesture of its own; a new
// step drops what could be redone. The oldest steps go beyond the depth.
//
// Thread contract: [main-thread]. The parameter notifications it takes may come from any thread
// (onParameterChanged, which it ignores); the edit notifications come from the editor's thread.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "korvo/client/params.h"

namespace korvo {

class EditHistory final : public IParameterListener {
public:
    static constexpr std::size_t kDefaultDepth = 100;

    // Listens to every parameter given (not owned; they must outlive the history).
    explicit EditHistory(std::vector<Parameter*> parameters, std::size_t depth = kDefaultDepth);
    ~EditHistory() override;
    EditHistory(const EditHistory&) = delete;
    EditHistory& operator=(const EditHistory&) = delete;

    bool canUndo() const noexcept { return !undo_.empty(); }
    bool canRedo() const noexcept { return !redo_.empty(); }
    std::size_t undoSteps() const noexcept { return undo_.size(); }
    // False when there is nothing to undo or redo (or a gesture is still open).
    bool undo();
    bool redo();
    // The normalized value of every parameter listened to, in their order.
    std::vector<double> values() const;
    // One step from `before` (values() taken earlier) to the values now, for a change made
    // outside gestures (a preset the editor loaded). Nothing when nothing changed, `before` does
    // not fit or a gesture is open.
    void recordChange(const std::vector<double>& before);

    void onParameterChanged(Parameter&) noexcept override {}
    void onBeginParameterEdit(Parameter& parameter) noexcept override;
    void onEndParameterEdit(Parameter& parameter) noexcept override;

private:
    struct Change {
        Parameter* parameter;
        double before;
        double after;
    };
    using Step = std::vector<Change>;
    void push(Step step);
    void apply(const Step& step, bool forward);
    // The last step of `from` applied (forward: its new values, else its old ones) and put on `to`.
    bool move(std::deque<Step>& from, std::deque<Step>& to, bool forward);

    std::vector<Parameter*> parameters_;
    std::size_t depth_;
    std::deque<Step> undo_, redo_;
    Step open_;       // the changes of the gestures open now, with their values at begin
    int openEdits_ = 0;
    bool applying_ = false;  // undo or redo is setting values: not a step of its own
};

}  // namespace korvo
