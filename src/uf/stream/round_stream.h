// What the stream decoders share: the check graph and its sizes, the length
// check of a round, one Union-Find workspace reused by every update, and the
// decode of a syndrome on its own. Each derives from RoundStream<itself>.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "uf/on_check_graph.h"
#include "uf/uf_core.h"

namespace vornex {

template <class Derived>
class RoundStream : public OnCheckGraph<Derived> {
public:
    using OnCheckGraph<Derived>::OnCheckGraph;

    // Decodes one syndrome on its own; the stream is neither read nor changed.
    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome) const {
        if (auto st = check_length(syndrome); !st) return st.error();
        return vornex::decode(this->graph_, syndrome);
    }

protected:
    Status check_length(std::span<const uint8_t> syndrome) const {
        if (syndrome.size() == this->graph_.n_checks) return ok_status();
        return value_error("Expected syndrome length " + std::to_string(this->graph_.n_checks) + ", got " +
                           std::to_string(syndrome.size()));
    }

    // The correction of the stream's effective syndrome, decoded in the
    // reused workspace.
    std::vector<uint8_t> correct(std::span<const uint8_t> effective) {
        std::vector<uint8_t> correction(this->graph_.n_qubits);
        decode_into(this->graph_, effective, workspace_, correction);
        return correction;
    }

private:
    UfWorkspace workspace_;
};

}  // namespace vornex
