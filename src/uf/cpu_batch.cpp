#include "uf/cpu_batch.h"

#include <immintrin.h>

#include <cstring>
#include <string>

#include "uf/decoder.h"
#include "uf/fast_uf.h"
#include "uf/uf_core.h"

namespace vornex {

void transpose_to_lanes_plain(const uint8_t* rows, size_t n_checks, uint8_t* block) {
    for (size_t j = 0; j < kLanes; ++j)
        for (size_t k = 0; k < n_checks; ++k) block[k * kLanes + j] = rows[j * n_checks + k];
}

void gather_lane_plain(const uint8_t* block, size_t n_checks, size_t lane, uint8_t* out) {
    for (size_t k = 0; k < n_checks; ++k) out[k] = block[k * kLanes + lane];
}

// 16 x 16 byte tiles, two at once (lanes j0.. in the low half, j0+16.. in
// the high half). Four rounds of interleaving row i with row i+8 transpose a
// 16 x 16 byte matrix; the AVX2 unpacks work per half, so both tiles move
// together and each result is 32 consecutive lanes of one check.
__attribute__((target("avx2"))) void transpose_to_lanes_avx2(const uint8_t* rows, size_t n_checks,
                                                             uint8_t* block) {
    size_t k0 = 0;
    for (; k0 + 16 <= n_checks; k0 += 16) {
        for (size_t j0 = 0; j0 < kLanes; j0 += 32) {
            __m256i x[16];
            __m256i y[16];
            for (size_t i = 0; i < 16; ++i) {
                const auto* lo = reinterpret_cast<const __m128i*>(rows + (j0 + i) * n_checks + k0);
                const auto* hi = reinterpret_cast<const __m128i*>(rows + (j0 + 16 + i) * n_checks + k0);
                x[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(lo)), _mm_loadu_si128(hi), 1);
            }
            for (int round = 0; round < 4; ++round) {
                for (size_t i = 0; i < 8; ++i) {
                    y[2 * i] = _mm256_unpacklo_epi8(x[i], x[i + 8]);
                    y[2 * i + 1] = _mm256_unpackhi_epi8(x[i], x[i + 8]);
                }
                std::memcpy(x, y, sizeof(x));
            }
            for (size_t k = 0; k < 16; ++k)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + (k0 + k) * kLanes + j0), x[k]);
        }
    }
    for (size_t k = k0; k < n_checks; ++k)
        for (size_t j = 0; j < kLanes; ++j) block[k * kLanes + j] = rows[j * n_checks + k];
}

// Eight checks per step: gather one dword per check at stride 64 and keep
// each dword's low byte. Reads up to three bytes past the block's last lane,
// which is what kLaneBlockSlack covers.
__attribute__((target("avx2"))) void gather_lane_avx2(const uint8_t* block, size_t n_checks, size_t lane,
                                                      uint8_t* out) {
    const __m256i stride = _mm256_setr_epi32(0, 64, 128, 192, 256, 320, 384, 448);
    const __m256i low_bytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                               0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    size_t k = 0;
    for (; k + 8 <= n_checks; k += 8) {
        const auto* base = reinterpret_cast<const int*>(block + k * kLanes + lane);
        const __m256i v = _mm256_shuffle_epi8(_mm256_i32gather_epi32(base, stride, 1), low_bytes);
        const auto lo = static_cast<uint32_t>(_mm256_extract_epi32(v, 0));
        const auto hi = static_cast<uint32_t>(_mm256_extract_epi32(v, 4));
        std::memcpy(out + k, &lo, 4);
        std::memcpy(out + k + 4, &hi, 4);
    }
    for (; k < n_checks; ++k) out[k] = block[k * kLanes + lane];
}

bool cpu_has_avx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

LaneCopies lane_copies() {
    if (cpu_has_avx2()) return {transpose_to_lanes_avx2, gather_lane_avx2};
    return {transpose_to_lanes_plain, gather_lane_plain};
}

namespace {

// The blocked decode shared by the simd and pooled forms; `workspace_of`
// maps (shot, lane) to the workspace that shot uses.
template <class WorkspaceOf>
void decode_blocked(const CheckGraph& graph, std::span<const uint8_t> syndromes, size_t n_shots,
                    LaneCopies copies, WorkspaceOf&& workspace_of, uint8_t* out) {
    const size_t n_checks = graph.n_checks;
    const size_t n_qubits = graph.n_qubits;
    std::vector<uint8_t> block(kLanes * n_checks + kLaneBlockSlack, 0);
    std::vector<uint8_t> lane_syndrome(n_checks);
    const size_t full_blocks = n_shots / kLanes;
    for (size_t b = 0; b < full_blocks; ++b) {
        copies.transpose(syndromes.data() + b * kLanes * n_checks, n_checks, block.data());
        for (size_t j = 0; j < kLanes; ++j) {
            const size_t shot = b * kLanes + j;
            copies.gather(block.data(), n_checks, j, lane_syndrome.data());
            decode_into(graph, lane_syndrome, workspace_of(shot, j), {out + shot * n_qubits, n_qubits});
        }
    }
    for (size_t t = 0; t < n_shots % kLanes; ++t) {
        const size_t shot = full_blocks * kLanes + t;
        decode_into(graph, syndromes.subspan(shot * n_checks, n_checks), workspace_of(shot, t),
                    {out + shot * n_qubits, n_qubits});
    }
}

}  // namespace

Status CPUBatchDecoder::check_syndrome_length(size_t length) const {
    if (length == graph_.n_checks) return ok_status();
    return value_error("Syndrome length " + std::to_string(length) + " != n_checks " +
                       std::to_string(graph_.n_checks));
}

std::vector<uint8_t> CPUBatchDecoder::decode(std::span<const uint8_t> syndrome) const {
    return vornex::decode(graph_, syndrome);
}

std::vector<uint8_t> CPUBatchDecoder::batch_decode_simd(std::span<const uint8_t> syndromes, size_t n_shots,
                                                        LaneCopies copies) const {
    std::vector<uint8_t> out(batch_bytes(n_shots, graph_.n_qubits), 0);
    std::vector<UfWorkspace> workspaces(kLanes);
    decode_blocked(graph_, syndromes, n_shots, copies,
                   [&](size_t, size_t lane) -> UfWorkspace& { return workspaces[lane]; }, out.data());
    return out;
}

std::vector<uint8_t> CPUBatchDecoder::batch_decode_pooled(std::span<const uint8_t> syndromes, size_t n_shots,
                                                          LaneCopies copies) const {
    std::vector<uint8_t> out(batch_bytes(n_shots, graph_.n_qubits), 0);
    // Every shot still gets a workspace of its own, but the previous shot's
    // is released when the next one starts instead of all n_shots being
    // kept to the end (gigabytes on long batches of small codes).
    UfWorkspace current;
    decode_blocked(graph_, syndromes, n_shots, copies,
                   [&](size_t, size_t) -> UfWorkspace& { return current = UfWorkspace{}; }, out.data());
    return out;
}

std::vector<uint8_t> CPUBatchDecoder::batch_decode_par(std::span<const uint8_t> syndromes, size_t n_shots) const {
    std::vector<uint8_t> out(batch_bytes(n_shots, graph_.n_qubits), 0);
    decode_batch_workspace_per_shot(graph_, syndromes, n_shots, out);
    return out;
}

}  // namespace vornex
