// SSCode.cpp: counters that wrap, the bounded debug list and the layout of LogError entries.
#include "gateway/SSCode.h"

#include <algorithm>
#include <ctime>

#include "common/Conversions.h"

SSCode::SSCode(size_t max_debug_lines) : max_debug_lines_(std::max<size_t>(max_debug_lines, 1)) {}

void SSCode::AddDebugLine(size_t position, const std::string& line) {
    position = std::min(position, debug_list_.size());
    debug_list_.insert(debug_list_.begin() + static_cast<std::ptrdiff_t>(position), line);
    if (debug_list_.size() > max_debug_lines_) debug_list_.pop_back();
    view_.raise([&](SSCodeView& v) { v.line_inserted(position, line); });
}

int32_t SSCode::change(Counter counter, int32_t delta) {
    int32_t& slot = counters_[static_cast<size_t>(counter)];
    // Unsigned arithmetic wraps by definition; the cast back keeps the two's-complement pattern.
    const uint32_t sum = static_cast<uint32_t>(slot) + static_cast<uint32_t>(delta);
    slot = counter == Counter::ConnectionsAccepted ? static_cast<int16_t>(static_cast<uint16_t>(sum))
                                                   : static_cast<int32_t>(sum);
    const int32_t shown = slot;
    view_.raise([&](SSCodeView& v) { v.counter_shown(counter, shown); });
    return shown;
}

void SSCode::LogError(const std::string& text, int32_t code, const std::string& source,
                      const std::string& description) {
    std::string entry = text;
    if (code != 0) entry += "Code: " + std::to_string(code) + "\r\n";
    if (!source.empty()) entry += "Source: " + source + "\r\n";
    if (!description.empty()) entry += "Desc: " + description;
    AddDebugLine(0, entry);
}

std::string SSCode::now_text() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return vb::date_text(vb::make_date_serial(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                              local.tm_min, local.tm_sec));
}
