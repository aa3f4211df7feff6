#include "bp/bp_arguments_py.h"

#include "module/errors.h"
#include "module/ref.h"

namespace vornex::py {

BpSettings bp_settings_argument(const Args& args, size_t first, BpSettings s) {
    if (auto v = args.get<std::optional<uint64_t>>(first)) s.max_iterations = *v;
    if (auto v = args.get<std::optional<std::string>>(first + 1)) s.method = unwrap(parse_bp_method(*v));
    if (auto v = args.get<std::optional<double>>(first + 2)) s.ms_scaling_factor = *v;
    if (auto v = args.get<std::optional<std::string>>(first + 3)) s.schedule = unwrap(parse_bp_schedule(*v));
    if (auto v = args.get<std::optional<std::string>>(first + 4)) s.stop = unwrap(parse_bp_stop(*v));
    return s;
}

}  // namespace vornex::py
