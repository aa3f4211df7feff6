// Detector error model texts shared by the native tests.
#pragma once

#include <string>

namespace vornex::testing {

// A distance-5 repetition code over three rounds, with measurement errors:
// detector 4r + i compares data qubits i and i + 1 in round r.
inline std::string repetition_model() {
    std::string text;
    for (int r = 0; r < 3; ++r) {
        text += "error(0.01) D" + std::to_string(4 * r) + " L0\n";
        for (int i = 0; i < 3; ++i)
            text += "error(0.01) D" + std::to_string(4 * r + i) + " D" + std::to_string(4 * r + i + 1) + "\n";
        text += "error(0.01) D" + std::to_string(4 * r + 3) + "\n";
        if (r < 2)
            for (int i = 0; i < 4; ++i)
                text += "error(0.02) D" + std::to_string(4 * r + i) + " D" + std::to_string(4 * r + 4 + i) + "\n";
    }
    return text;
}

}  // namespace vornex::testing
