#include "learned/training_limits.h"

#include <cstdio>
#include <string>

namespace vornex {

Status check_training_size(uint64_t n_epochs, double steps, double cost_per_step) {
    if (n_epochs > kMaxTrainingEpochs)
        return value_error("n_epochs must be <= " + std::to_string(kMaxTrainingEpochs) + ", got " +
                           std::to_string(n_epochs));
    const double work = static_cast<double>(n_epochs) * steps * cost_per_step;
    if (work > kMaxTrainingWork) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "training too large: n_epochs %llu over %.0f samples is about %.3g operations (limit %.0e)",
                      static_cast<unsigned long long>(n_epochs), steps, work, kMaxTrainingWork);
        return value_error(text);
    }
    return ok_status();
}

}  // namespace vornex
