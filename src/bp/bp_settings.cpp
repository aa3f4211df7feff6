#include "bp/bp_settings.h"

#include <charconv>
#include <string>

namespace vornex {

namespace {

std::string quoted(std::string_view name) {
    std::string text;
    text.reserve(name.size() + 2);
    text.append(1, '\'').append(name).append(1, '\'');
    return text;
}

// Shortest text that reads back as the same double.
std::string shortest(double x) {
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, x).ptr;
    return std::string(buf, end);
}

}  // namespace

Result<BpMethod> parse_bp_method(std::string_view name) {
    if (name == "minimum_sum" || name == "min_sum" || name == "ms") return BpMethod::MinSum;
    if (name == "product_sum" || name == "ps") return BpMethod::ProductSum;
    return value_error("bp_method must be 'minimum_sum' or 'product_sum', got " + quoted(name));
}

Result<BpSchedule> parse_bp_schedule(std::string_view name) {
    if (name == "parallel") return BpSchedule::Parallel;
    if (name == "serial") return BpSchedule::Serial;
    return value_error("schedule must be 'parallel' or 'serial', got " + quoted(name));
}

Result<BpStop> parse_bp_stop(std::string_view name) {
    if (name == "syndrome") return BpStop::Syndrome;
    if (name == "posterior") return BpStop::Posterior;
    return value_error("stop must be 'syndrome' or 'posterior', got " + quoted(name));
}

Result<OsdMethod> parse_osd_method(std::string_view name) {
    if (name == "osd_0" || name == "osd0") return OsdMethod::Osd0;
    if (name == "osd_e" || name == "exhaustive") return OsdMethod::Exhaustive;
    if (name == "osd_cs" || name == "combination_sweep") return OsdMethod::CombinationSweep;
    return value_error("osd_method must be 'osd_0', 'osd_e' or 'osd_cs', got " + quoted(name));
}

Status validate_bp_settings(const BpSettings& settings) {
    const double f = settings.ms_scaling_factor;
    if (!(f > 0.0 && f <= 1.0)) return value_error("ms_scaling_factor must be in (0, 1], got " + shortest(f));
    return ok_status();
}

Status validate_osd_settings(const OsdSettings& settings) {
    if (settings.method == OsdMethod::Exhaustive && settings.order > kMaxExhaustiveOrder)
        return value_error("osd_order must be <= " + std::to_string(kMaxExhaustiveOrder) + " for osd_e, got " +
                           std::to_string(settings.order));
    if (settings.method == OsdMethod::CombinationSweep && settings.order > kMaxSweepOrder)
        return value_error("osd_order must be <= " + std::to_string(kMaxSweepOrder) + " for osd_cs, got " +
                           std::to_string(settings.order));
    return ok_status();
}

}  // namespace vornex
