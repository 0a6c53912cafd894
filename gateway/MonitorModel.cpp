// MonitorModel.cpp: counter boxes, Reset and the debug check box of the monitor window.
#include "gateway/MonitorModel.h"

#include "common/Conversions.h"

namespace {

struct BoxInfo {
    const char* box;
    const char* label;
};
// Indexed by Counter.
constexpr BoxInfo kBoxes[kCounterCount] = {
    {"txtMaxSockets", "Max"}, {"txtSockets", "Alive"}, {"txtTimeouts", "Timeouts"}, {"txtErrors", "Other"},
    {"tbInd", "#Ind"},        {"tbOut", "#Out"},       {"tbRead", "Read"},          {"tbSend", "Sendt"},
};

constexpr int kRightButton = 2;
constexpr int kShiftOnly = 1;

}  // namespace

std::shared_ptr<MonitorModel> MonitorModel::create(SSCode& code) {
    std::shared_ptr<MonitorModel> model(new MonitorModel(code));
    code.bind_view(model);
    return model;
}

const char* MonitorModel::box_name(Counter counter) { return kBoxes[static_cast<size_t>(counter)].box; }
const char* MonitorModel::label(Counter counter) { return kBoxes[static_cast<size_t>(counter)].label; }

void MonitorModel::Reset() {
    code_.clear_debug_list();
    for (Counter c : {Counter::CharactersSent, Counter::CharactersRead, Counter::MessagesIn, Counter::MessagesOut}) {
        boxes_[static_cast<size_t>(c)].clear();
        code_.zero(c);
        if (on_counter_) on_counter_(c);
    }
}

void MonitorModel::Label6_MouseUp(int button, int shift) {
    if (button == kRightButton && shift == kShiftOnly) debug_visible_ = !debug_visible_;
}

void MonitorModel::counter_shown(Counter counter, int32_t value) {
    boxes_[static_cast<size_t>(counter)] = vb::format_thousands(value);
    if (on_counter_) on_counter_(counter);
}

void MonitorModel::line_inserted(size_t position, const std::string& line) {
    if (on_line_) on_line_(position, line);
}
