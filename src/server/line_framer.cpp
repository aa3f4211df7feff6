#include "server/line_framer.h"

namespace vornex {

Status LineFramer::end_line(const LineSink& sink) {
    std::string_view line = line_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const Status st = too_long_ ? sink({}, true) : sink(line, false);
    line_.clear();
    too_long_ = false;
    started_ = false;
    return st;
}

Status LineFramer::feed(std::string_view bytes, const LineSink& sink) {
    while (!bytes.empty()) {
        const size_t nl = bytes.find('\n');
        const std::string_view part = bytes.substr(0, nl);
        started_ = started_ || !part.empty();
        if (!too_long_) {
            if (line_.size() + part.size() > max_line_bytes_) {
                too_long_ = true;
                line_.clear();
                line_.shrink_to_fit();
            } else {
                line_.append(part);
            }
        }
        if (nl == std::string_view::npos) break;
        if (auto st = end_line(sink); !st) return st;
        bytes.remove_prefix(nl + 1);
    }
    return ok_status();
}

Status LineFramer::finish(const LineSink& sink) {
    if (!started_) return ok_status();
    return end_line(sink);
}

}  // namespace vornex
