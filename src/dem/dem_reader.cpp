#include "dem/dem_reader.h"

#include <algorithm>
#include <string>
#include <vector>

#include "dem/dem_syntax.h"

namespace vornex {
namespace {

uint64_t saturating_add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
uint64_t saturating_mul(uint64_t a, uint64_t b) {
    uint64_t r = 0;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}

std::string at_line(uint32_t line) { return "line " + std::to_string(line) + ": "; }

// Sizes of a block once unrolled, counted before anything is unrolled so that
// an oversized model fails at once instead of exhausting memory.
struct UnrolledSize {
    uint64_t work = 0;     // instructions, arguments, targets and loop iterations
    uint64_t errors = 0;   // error columns
    uint64_t targets = 0;  // error targets
};

class Flattener {
public:
    Flattener(const DemSyntax& syntax, const DemReaderLimits& limits) : syntax_(syntax), limits_(limits) {}

    Result<DetectorErrorModel> run() {
        const uint32_t end = static_cast<uint32_t>(syntax_.instructions.size());
        UnrolledSize size;
        if (auto status = measure(0, end, size); !status) return status.error();
        model_.probability.reserve(size.errors);
        model_.line.reserve(size.errors);
        model_.target_begin.reserve(size.errors + 1);
        model_.targets.reserve(size.targets);
        model_.target_begin.push_back(0);
        model_.coordinate_begin.push_back(0);
        if (auto status = unroll(0, end); !status) return status.error();
        return std::move(model_);
    }

private:
    Status measure(uint32_t begin, uint32_t end, UnrolledSize& size) const {
        for (uint32_t i = begin; i < end; ++i) {
            const DemInstruction& ins = syntax_.instructions[i];
            if (ins.op == DemOp::Repeat) {
                UnrolledSize body;
                if (auto status = measure(i + 1, ins.body_end, body); !status) return status;
                // Each pass costs at least one step, so an empty body repeated
                // 2^60 times is refused too rather than spun through.
                size.work = saturating_add(size.work, saturating_mul(ins.repeat_count, saturating_add(body.work, 1)));
                size.errors = saturating_add(size.errors, saturating_mul(ins.repeat_count, body.errors));
                size.targets = saturating_add(size.targets, saturating_mul(ins.repeat_count, body.targets));
                i = ins.body_end - 1;
            } else {
                const uint64_t n_targets = ins.target_end - ins.target_begin;
                size.work = saturating_add(size.work, 1 + n_targets + (ins.arg_end - ins.arg_begin));
                if (ins.op == DemOp::Error) {
                    size.errors += 1;
                    size.targets += n_targets;
                }
            }
            if (size.work > limits_.max_unrolled || size.targets >= kSeparatorTarget) {
                return value_error(at_line(ins.line) + "the model unrolls to more than " +
                                   std::to_string(limits_.max_unrolled) +
                                   " instructions, arguments and targets; it is too large to flatten");
            }
        }
        return ok_status();
    }

    Status unroll(uint32_t begin, uint32_t end) {
        for (uint32_t i = begin; i < end; ++i) {
            const DemInstruction& ins = syntax_.instructions[i];
            Status status = ok_status();
            switch (ins.op) {
                case DemOp::Repeat:
                    for (uint64_t k = 0; k < ins.repeat_count && status; ++k) status = unroll(i + 1, ins.body_end);
                    i = ins.body_end - 1;
                    break;
                case DemOp::Error: status = add_error(ins); break;
                case DemOp::Detector: status = add_detector(ins); break;
                case DemOp::LogicalObservable: {
                    auto id = observable_id(ins, target(ins, 0));
                    if (!id) status = id.error();
                    break;
                }
                case DemOp::ShiftDetectors: shift(ins); break;
            }
            if (!status) return status;
        }
        return ok_status();
    }

    uint64_t target(const DemInstruction& ins, uint32_t k) const { return syntax_.targets[ins.target_begin + k]; }

    Result<uint32_t> detector_id(const DemInstruction& ins, uint64_t t) {
        const uint64_t id = detector_offset_ + dem_target_value(t);
        if (id >= limits_.max_detectors) {
            return value_error(at_line(ins.line) + "detector D" + std::to_string(id) + " is beyond the limit of " +
                               std::to_string(limits_.max_detectors) + " detectors");
        }
        model_.num_detectors = std::max(model_.num_detectors, static_cast<uint32_t>(id + 1));
        return static_cast<uint32_t>(id);
    }

    Result<uint32_t> observable_id(const DemInstruction& ins, uint64_t t) {
        const uint64_t id = dem_target_value(t);
        if (id >= limits_.max_observables) {
            return value_error(at_line(ins.line) + "observable L" + std::to_string(id) + " is beyond the limit of " +
                               std::to_string(limits_.max_observables) + " observables");
        }
        model_.num_observables = std::max(model_.num_observables, static_cast<uint32_t>(id + 1));
        return static_cast<uint32_t>(id);
    }

    Status add_error(const DemInstruction& ins) {
        for (uint32_t k = ins.target_begin; k < ins.target_end; ++k) {
            const uint64_t t = syntax_.targets[k];
            switch (dem_target_kind(t)) {
                case DemTargetKind::Detector: {
                    auto id = detector_id(ins, t);
                    if (!id) return id.error();
                    model_.targets.push_back(id.value());
                    break;
                }
                case DemTargetKind::Observable: {
                    auto id = observable_id(ins, t);
                    if (!id) return id.error();
                    model_.targets.push_back(id.value() | kObservableTarget);
                    break;
                }
                default: model_.targets.push_back(kSeparatorTarget); break;
            }
        }
        model_.probability.push_back(syntax_.args[ins.arg_begin]);
        model_.line.push_back(ins.line);
        model_.target_begin.push_back(static_cast<uint32_t>(model_.targets.size()));
        return ok_status();
    }

    Status add_detector(const DemInstruction& ins) {
        auto id = detector_id(ins, target(ins, 0));
        if (!id) return id.error();
        if (declared_.size() <= id.value()) declared_.resize(size_t{id.value()} + 1, false);
        if (declared_[id.value()]) return ok_status();
        declared_[id.value()] = true;
        model_.coordinate_detector.push_back(id.value());
        for (uint32_t a = ins.arg_begin; a < ins.arg_end; ++a) {
            const size_t dim = a - ins.arg_begin;
            model_.coordinate_values.push_back(syntax_.args[a] + (dim < coordinate_shift_.size() ? coordinate_shift_[dim] : 0.0));
        }
        model_.coordinate_begin.push_back(static_cast<uint32_t>(model_.coordinate_values.size()));
        return ok_status();
    }

    void shift(const DemInstruction& ins) {
        // Saturates far beyond max_detectors, so a later id check still fails.
        detector_offset_ = std::min(saturating_add(detector_offset_, dem_target_value(target(ins, 0))), uint64_t{1} << 62);
        const size_t n_args = ins.arg_end - ins.arg_begin;
        if (coordinate_shift_.size() < n_args) coordinate_shift_.resize(n_args, 0.0);
        for (size_t dim = 0; dim < n_args; ++dim) coordinate_shift_[dim] += syntax_.args[ins.arg_begin + dim];
    }

    const DemSyntax& syntax_;
    const DemReaderLimits& limits_;
    DetectorErrorModel model_;
    uint64_t detector_offset_ = 0;
    std::vector<double> coordinate_shift_;
    std::vector<bool> declared_;  // detectors whose coordinates are already recorded
};

}  // namespace

Result<DetectorErrorModel> read_detector_error_model(std::string_view text, const DemReaderLimits& limits) {
    auto syntax = parse_dem_syntax(text);
    if (!syntax) return syntax.error();
    return Flattener(syntax.value(), limits).run();
}

}  // namespace vornex
