#include "bp/bp_settings.h"

#include <string>

#include "base/setting_text.h"

namespace vornex {

Result<BpMethod> parse_bp_method(std::string_view name) {
    static constexpr NamedValue<BpMethod> kNames[] = {{"minimum_sum", BpMethod::MinSum},
                                                      {"product_sum", BpMethod::ProductSum},
                                                      {"min_sum", BpMethod::MinSum, false},
                                                      {"ms", BpMethod::MinSum, false},
                                                      {"ps", BpMethod::ProductSum, false}};
    return parse_named("bp_method", name, kNames);
}

Result<BpSchedule> parse_bp_schedule(std::string_view name) {
    static constexpr NamedValue<BpSchedule> kNames[] = {{"parallel", BpSchedule::Parallel},
                                                        {"serial", BpSchedule::Serial}};
    return parse_named("schedule", name, kNames);
}

Result<BpStop> parse_bp_stop(std::string_view name) {
    static constexpr NamedValue<BpStop> kNames[] = {{"syndrome", BpStop::Syndrome}, {"posterior", BpStop::Posterior}};
    return parse_named("stop", name, kNames);
}

Result<OsdMethod> parse_osd_method(std::string_view name) {
    static constexpr NamedValue<OsdMethod> kNames[] = {{"osd_0", OsdMethod::Osd0},
                                                       {"osd_e", OsdMethod::Exhaustive},
                                                       {"osd_cs", OsdMethod::CombinationSweep},
                                                       {"osd0", OsdMethod::Osd0, false},
                                                       {"exhaustive", OsdMethod::Exhaustive, false},
                                                       {"combination_sweep", OsdMethod::CombinationSweep, false}};
    return parse_named("osd_method", name, kNames);
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
