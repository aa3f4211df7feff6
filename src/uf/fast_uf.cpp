#include "uf/fast_uf.h"

#include <new>
#include <string>

#include "base/worker_pool.h"
#include "uf/decoder.h"
#include "uf/uf_core.h"
#include "uf/vornex_uf.h"

// The handle behind the C interface; never modified after creation.
struct VornexFastDecoder {
    vornex::CheckGraph graph;
};

namespace vornex {

Status FastUnionFindDecoder::check_syndrome_length(size_t length) const {
    if (length == graph_.n_checks) return ok_status();
    return value_error("Syndrome length mismatch: " + std::to_string(length) + " != " +
                       std::to_string(graph_.n_checks));
}

std::vector<uint8_t> FastUnionFindDecoder::decode(std::span<const uint8_t> syndrome) const {
    std::vector<uint8_t> correction(graph_.n_qubits, 0);
    decode_with_scratch(graph_, syndrome, correction);
    return correction;
}

std::vector<uint8_t> FastUnionFindDecoder::batch_decode(std::span<const uint8_t> syndromes,
                                                        size_t n_shots) const {
    std::vector<uint8_t> out(batch_bytes(n_shots, graph_.n_qubits), 0);
    decode_rows(graph_, syndromes.data(), n_shots, out.data());
    return out;
}

void decode_batch_workspace_per_shot(const CheckGraph& graph, std::span<const uint8_t> syndromes,
                                     size_t n_shots, std::span<uint8_t> corrections) {
    const size_t n_checks = graph.n_checks;
    const size_t n_qubits = graph.n_qubits;
    // Each shot's workspace lives only while its row is decoded: at most one
    // per worker exists at a time, so memory follows the pool, not the batch
    // (a table of n_shots workspaces alone took 360 bytes per shot).
    parallel_for(n_shots, [&](size_t i) {
        UfWorkspace workspace;
        decode_into(graph, syndromes.subspan(i * n_checks, n_checks), workspace,
                    corrections.subspan(i * n_qubits, n_qubits));
    });
}

}  // namespace vornex

namespace {

// Whether [a, a + a_len) and [b, b + b_len) share a byte. The decode reads
// the syndrome while it writes the correction, so a shared byte would be read
// after it was overwritten and give a correction for another syndrome.
bool overlaps(const void* a, size_t a_len, const void* b, size_t b_len) {
    const auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return a_len != 0 && b_len != 0 && x < y + b_len && y < x + a_len;
}

}  // namespace

// Nothing may unwind into a C caller: every entry catches everything and
// reports it as a rejected call.
extern "C" {

VornexFastDecoder* vornex_fast_decoder_create(const uint32_t* check_qubits, size_t n_checks,
                                              size_t check_weight, size_t n_qubits) {
    if (check_qubits == nullptr || check_weight == 0) return nullptr;
    size_t total = 0;
    if (__builtin_mul_overflow(n_checks, check_weight, &total)) return nullptr;
    try {
        vornex::CheckList checks(n_checks);
        for (size_t c = 0; c < n_checks; ++c) {
            const uint32_t* first = check_qubits + c * check_weight;
            checks[c].assign(first, first + check_weight);
        }
        auto graph = vornex::build_check_graph(std::move(checks), n_qubits);
        if (!graph) return nullptr;
        return new VornexFastDecoder{std::move(graph).value()};
    } catch (...) {
        return nullptr;
    }
}

void vornex_fast_decoder_free(VornexFastDecoder* handle) { delete handle; }

int32_t vornex_decode_fast(const VornexFastDecoder* handle, const uint8_t* syndrome, size_t syndrome_len,
                           uint8_t* correction, size_t correction_len) {
    if (handle == nullptr || syndrome == nullptr || correction == nullptr) return -1;
    const vornex::CheckGraph& graph = handle->graph;
    if (syndrome_len != graph.n_checks || correction_len != graph.n_qubits) return -1;
    if (overlaps(syndrome, syndrome_len, correction, correction_len)) return -1;
    try {
        vornex::decode_with_scratch(graph, {syndrome, syndrome_len}, {correction, correction_len});
        return 0;
    } catch (...) {
        // Only the workspace allocation can fail, before anything is written.
        return -1;
    }
}

int32_t vornex_decode_fast_batch(const VornexFastDecoder* handle, const uint8_t* syndromes, size_t n_shots,
                                 uint8_t* corrections) {
    if (handle == nullptr || syndromes == nullptr || corrections == nullptr) return -1;
    const vornex::CheckGraph& graph = handle->graph;
    size_t in_bytes = 0, out_bytes = 0;
    if (__builtin_mul_overflow(n_shots, graph.n_checks, &in_bytes) ||
        __builtin_mul_overflow(n_shots, graph.n_qubits, &out_bytes))
        return -1;
    if (overlaps(syndromes, in_bytes, corrections, out_bytes)) return -1;
    try {
        vornex::decode_rows(graph, syndromes, n_shots, corrections);
        return 0;
    } catch (...) {
        return -1;
    }
}

}  // extern "C"
