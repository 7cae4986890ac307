#include "korvo/gui/history.h"

#include <utility>

namespace korvo {

EditHistory::EditHistory(std::vector<Parameter*> parameters, std::size_t depth)
    : parameters_(std::move(parameters)), depth_(depth > 0 ? depth : 1) {
    for (Parameter* p : parameters_) p->addListener(this);
}

EditHistory::~EditHistory() {
    for (Parameter* p : parameters_) p->removeListener(this);
}

void EditHistory::onBeginParameterEdit(Parameter& parameter) noexcept {
    if (applying_) return;
    ++openEdits_;
    for (const Change& c : open_)
        if (c.parameter == &parameter) return;  // already in this step: keep its first value
    const double now = parameter.getNormalized();
    open_.push_back(Change{&parameter, now, now});
}

void EditHistory::onEndParameterEdit(Parameter& parameter) noexcept {
    if (applying_ || openEdits_ == 0) return;
    for (Change& c : open_)
        if (c.parameter == &parameter) c.after = parameter.getNormalized();
    if (--openEdits_ > 0) return;
    Step step;
    for (const Change& c : open_)
        if (c.after != c.before) step.push_back(c);
    open_.clear();
    push(std::move(step));
}

std::vector<double> EditHistory::values() const {
    std::vector<double> v;
    v.reserve(parameters_.size());
    for (const Parameter* p : parameters_) v.push_back(p->getNormalized());
    return v;
}

void EditHistory::recordChange(const std::vector<double>& before) {
    if (before.size() != parameters_.size() || openEdits_ > 0) return;
    Step step;
    for (std::size_t i = 0; i < before.size(); ++i) {
        const double now = parameters_[i]->getNormalized();
        if (now != before[i]) step.push_back(Change{parameters_[i], before[i], now});
    }
    push(std::move(step));
}

void EditHistory::push(Step step) {
    if (step.empty()) return;
    undo_.push_back(std::move(step));
    if (undo_.size() > depth_) undo_.pop_front();
    redo_.clear();
}

void EditHistory::apply(const Step& step, bool forward) {
    applying_ = true;
    for (std::size_t i = 0; i < step.size(); ++i) {
        const Change& c = forward ? step[i] : step[step.size() - 1 - i];
        c.parameter->beginEdit();
        c.parameter->setFromEditorNormalized(forward ? c.after : c.before);
        c.parameter->endEdit();
    }
    applying_ = false;
}

bool EditHistory::move(std::deque<Step>& from, std::deque<Step>& to, bool forward) {
    if (from.empty() || openEdits_ > 0) return false;
    Step step = std::move(from.back());
    from.pop_back();
    apply(step, forward);
    to.push_back(std::move(step));
    return true;
}

bool EditHistory::undo() {
    return move(undo_, redo_, false);
}

bool EditHistory::redo() {
    return move(redo_, undo_, true);
}

}  // namespace korvo
