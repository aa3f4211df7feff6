// The BP and OSD setting names and numbers, from parsing to a decode. Names
// are accepted spellings, near misses of them (cut, extended, one byte
// changed, NUL and bytes >= 0x80 included) or raw bytes. A parser accepts
// exactly its spellings and otherwise names the setting, the choices and the
// name it got; the numeric checks accept exactly their ranges (NaN and
// infinities included); and an engine built from whatever was accepted, on
// a small code with per-column rates from the input, decodes a syndrome of
// a sampled error into 0/1 bytes that reproduce it whenever OSD ran or BP
// explained it.
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bp/bp_osd_engine.h"
#include "bp/bp_settings.h"
#include "fuzz_input.h"

namespace {

using namespace vornex;

void require(bool condition) {
    if (!condition) std::abort();
}

constexpr std::array<std::string_view, 14> kSpellings = {
    "minimum_sum", "min_sum", "ms",       "product_sum", "ps",         "parallel", "serial",
    "syndrome",    "posterior", "osd_0", "osd0",        "osd_e",      "exhaustive", "osd_cs"};

std::string fuzzed_name(fuzz::Input& in) {
    const uint8_t how = in.byte();
    if (how < 32) {  // raw bytes
        std::string raw(in.below(24), '\0');
        for (char& c : raw) c = static_cast<char>(in.byte());
        return raw;
    }
    std::string name(how % 2 ? std::string_view("combination_sweep") : kSpellings[in.below(static_cast<uint32_t>(kSpellings.size()))]);
    switch (how % 8) {
        case 0: name.resize(in.below(static_cast<uint32_t>(name.size()) + 1)); break;
        case 1: name.push_back(static_cast<char>(in.byte())); break;
        case 2: name[in.below(static_cast<uint32_t>(name.size()))] = static_cast<char>(in.byte()); break;
        default: break;  // the spelling itself
    }
    return name;
}

// A rejected name is reported as "<setting> must be <choices>, got '<name>'".
template <typename T>
void require_parse(const Result<T>& parsed, std::string_view name, std::initializer_list<std::string_view> accepted,
                   std::string_view must_be) {
    bool spelled = false;
    for (std::string_view a : accepted) spelled |= name == a;
    require(parsed.ok() == spelled);
    if (!parsed.ok()) {
        require(parsed.error().kind == ErrorKind::Value);
        require(parsed.error().message == std::string(must_be) + ", got '" + std::string(name) + "'");
    }
}

double fuzzed_double(fuzz::Input& in) {
    static constexpr std::array<double, 8> kPicks = {0.0, 1.0, 0.625, -0.5, 1.0000000000000002, INFINITY, NAN, 1e-300};
    const uint8_t how = in.byte();
    if (how < 128) return kPicks[how % kPicks.size()];
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | in.byte();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    BpOsdSettings settings;

    const std::string method = fuzzed_name(in);
    const auto m = parse_bp_method(method);
    require_parse(m, method, {"minimum_sum", "min_sum", "ms", "product_sum", "ps"},
                  "bp_method must be 'minimum_sum' or 'product_sum'");
    if (m.ok()) settings.bp.method = m.value();

    const std::string schedule = fuzzed_name(in);
    const auto s = parse_bp_schedule(schedule);
    require_parse(s, schedule, {"parallel", "serial"}, "schedule must be 'parallel' or 'serial'");
    if (s.ok()) settings.bp.schedule = s.value();

    const std::string stop = fuzzed_name(in);
    const auto st = parse_bp_stop(stop);
    require_parse(st, stop, {"syndrome", "posterior"}, "stop must be 'syndrome' or 'posterior'");
    if (st.ok()) settings.bp.stop = st.value();

    const std::string osd = fuzzed_name(in);
    const auto o = parse_osd_method(osd);
    require_parse(o, osd, {"osd_0", "osd0", "osd_e", "exhaustive", "osd_cs", "combination_sweep"},
                  "osd_method must be 'osd_0', 'osd_e' or 'osd_cs'");
    if (o.ok()) settings.osd.method = o.value();

    settings.bp.ms_scaling_factor = fuzzed_double(in);
    const double f = settings.bp.ms_scaling_factor;
    const Status bp_valid = validate_bp_settings(settings.bp);
    require(bp_valid.ok() == (f > 0.0 && f <= 1.0));
    if (!bp_valid.ok()) require(bp_valid.error().message.rfind("ms_scaling_factor must be in (0, 1], got ", 0) == 0);

    const uint8_t order_pick = in.byte();  // often at the edges of the allowed orders
    settings.osd.order = order_pick < 32   ? kMaxExhaustiveOrder - 1 + in.below(3)
                         : order_pick < 64 ? kMaxSweepOrder - 1 + in.below(3)
                         : order_pick < 80 ? in.below(5000)
                                           : in.below(6);
    const size_t limit = settings.osd.method == OsdMethod::Exhaustive         ? kMaxExhaustiveOrder
                         : settings.osd.method == OsdMethod::CombinationSweep ? kMaxSweepOrder
                                                                              : SIZE_MAX;
    const Status osd_valid = validate_osd_settings(settings.osd);
    require(osd_valid.ok() == (settings.osd.order <= limit));
    if (!osd_valid.ok()) require(osd_valid.error().message.rfind("osd_order must be <= ", 0) == 0);
    settings.bp.max_iterations = in.below(12);

    // A small code: checks of 1..4 qubits, per-column rates mostly valid.
    const size_t n_qubits = 1 + in.below(14);
    CheckList checks(1 + in.below(10));
    for (auto& check : checks)
        for (uint32_t k = 1 + in.below(4); k > 0; --k) check.push_back(in.below(static_cast<uint32_t>(n_qubits)));
    std::vector<double> rates(n_qubits);
    bool rates_valid = true;
    for (double& p : rates) {
        p = in.byte() < 240 ? (1 + in.below(499)) / 1000.0 : fuzzed_double(in);
        rates_valid &= p >= 0.0 && p <= 1.0;
    }
    auto engine = BpOsdEngine::create(checks, n_qubits, rates, settings);
    // A name that did not parse leaves its default in place.
    require(engine.ok() == (bp_valid.ok() && osd_valid.ok() && rates_valid));
    if (!engine.ok()) {
        require(engine.error().kind == ErrorKind::Value);
        return 0;
    }
    std::vector<uint8_t> error(n_qubits), syndrome(checks.size(), 0), correction(n_qubits, 7);
    for (auto& b : error) b = in.byte() < 40;
    for (size_t c = 0; c < checks.size(); ++c) {
        std::vector<uint8_t> seen(n_qubits, 0);  // a repeated index is one matrix entry
        for (uint32_t q : checks[c])
            if (!seen[q]) seen[q] = 1, syndrome[c] ^= error[q];
    }
    BpOsdEngine::Workspace ws;
    const BpOsdOutcome outcome = engine.value().decode_into(syndrome, correction, ws);
    for (uint8_t b : correction) require(b <= 1);
    if (outcome.osd_ran || outcome.bp_explained) {
        for (size_t c = 0; c < checks.size(); ++c) {
            std::vector<uint8_t> seen(n_qubits, 0);
            uint8_t parity = 0;
            for (uint32_t q : checks[c])
                if (!seen[q]) seen[q] = 1, parity ^= correction[q];
            require(parity == syndrome[c]);
        }
    }
    return 0;
}
