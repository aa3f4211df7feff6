// Limits on the size of one training call, checked before any work starts:
// a count that cannot finish (2^31 epochs, 2^62 samples) is refused with a
// ValueError naming it instead of running on with no way to stop it.
#pragma once

#include <cstdint>

#include "base/result.h"

namespace vornex {

// Most epochs one training call accepts.
inline constexpr uint64_t kMaxTrainingEpochs = 100'000'000;
// Most multiply-adds one training call may ask for, about a week of one core.
inline constexpr double kMaxTrainingWork = 1e15;

// ValueError "n_epochs must be <= 100000000, got {}" for too many epochs;
// ValueError naming the counts when n_epochs passes of `steps` gradient steps
// of about `cost_per_step` multiply-adds each exceed kMaxTrainingWork.
Status check_training_size(uint64_t n_epochs, double steps, double cost_per_step);

}  // namespace vornex
