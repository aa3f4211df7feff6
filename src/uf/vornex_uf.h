/* C interface of the Union-Find decoder: build a check graph once, then
 * decode single syndromes or whole row-major batches into caller memory.
 *
 * Syndromes hold one byte per check (bit 0 counts), corrections one byte per
 * qubit. Rejected input returns NULL or -1 and writes nothing. Syndrome and
 * correction buffers must not overlap: a call whose buffers share a byte is
 * rejected with -1 (the decode reads the syndrome while writing). A handle is
 * read-only after creation and may be shared by any number of threads. */
#ifndef VORNEX_UF_H
#define VORNEX_UF_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define VORNEX_UF_API __attribute__((visibility("default")))
#else
#define VORNEX_UF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle owning one check graph. */
typedef struct VornexFastDecoder VornexFastDecoder;

/* n_checks checks of check_weight consecutive qubit indices each, read from
 * check_qubits (copied, not kept). NULL for a null pointer, n_checks or
 * check_weight 0, or any code the decoder refuses. */
VORNEX_UF_API VornexFastDecoder* vornex_fast_decoder_create(const uint32_t* check_qubits, size_t n_checks,
                                                            size_t check_weight, size_t n_qubits);

/* Frees a handle; NULL is ignored. */
VORNEX_UF_API void vornex_fast_decoder_free(VornexFastDecoder* handle);

/* Decodes one syndrome of n_checks bytes into n_qubits correction bytes.
 * 0 on success; -1 for a null pointer, a length that does not match, or
 * buffers that overlap. */
VORNEX_UF_API int32_t vornex_decode_fast(const VornexFastDecoder* handle, const uint8_t* syndrome,
                                         size_t syndrome_len, uint8_t* correction, size_t correction_len);

/* Decodes n_shots syndrome rows into n_shots correction rows on the worker
 * pool, blocking until all are done. The caller sizes both buffers. 0 on
 * success; -1 for a null pointer, a batch too large to address, or a
 * syndrome area (n_shots * n_checks bytes) that overlaps the correction area
 * (n_shots * n_qubits bytes). */
VORNEX_UF_API int32_t vornex_decode_fast_batch(const VornexFastDecoder* handle, const uint8_t* syndromes,
                                               size_t n_shots, uint8_t* corrections);

#ifdef __cplusplus
}
#endif

#endif /* VORNEX_UF_H */
