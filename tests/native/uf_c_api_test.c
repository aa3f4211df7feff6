/* The Union-Find C interface used from plain C: create, decode single
 * syndromes and batches into our own buffers, every rejected input, free. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "uf/vornex_uf.h"

static int failures = 0;
static int passes = 0;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (cond) {                                                        \
            ++passes;                                                      \
        } else {                                                           \
            ++failures;                                                    \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                  \
    } while (0)

static int all_equal(const uint8_t* p, size_t n, uint8_t v) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != v) return 0;
    return 1;
}

/* Distance-3 repetition code [[0, 1], [1, 2]] over three qubits. */
static void test_repetition_code(void) {
    const uint32_t checks[] = {0, 1, 1, 2};
    VornexFastDecoder* h = vornex_fast_decoder_create(checks, 2, 2, 3);
    CHECK(h != NULL);
    if (h == NULL) return;

    const uint8_t syndromes[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const uint8_t expected[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int i = 0; i < 4; ++i) {
        uint8_t c[3] = {7, 7, 7};
        CHECK(vornex_decode_fast(h, syndromes[i], 2, c, 3) == 0);
        CHECK(memcmp(c, expected[i], 3) == 0);
    }
    /* Only bit 0 of a syndrome byte counts. */
    const uint8_t high[2] = {2, 3};
    uint8_t c[3];
    CHECK(vornex_decode_fast(h, high, 2, c, 3) == 0);
    CHECK(memcmp(c, expected[3], 3) == 0);

    uint8_t batch_out[4][3];
    memset(batch_out, 9, sizeof batch_out);
    CHECK(vornex_decode_fast_batch(h, &syndromes[0][0], 4, &batch_out[0][0]) == 0);
    CHECK(memcmp(batch_out, expected, sizeof expected) == 0);
    vornex_fast_decoder_free(h);
}

/* Batch rows equal single decodes, on a ring-and-chain code. */
static void test_batch_matches_single(void) {
    enum { NC = 40, NQ = 41, SHOTS = 1000 };
    uint32_t checks[NC * 2];
    for (uint32_t i = 0; i < NC; ++i) {
        checks[2 * i] = i;
        checks[2 * i + 1] = i + 1;
    }
    VornexFastDecoder* h = vornex_fast_decoder_create(checks, NC, 2, NQ);
    CHECK(h != NULL);
    if (h == NULL) return;
    static uint8_t syn[SHOTS][NC];
    static uint8_t batch[SHOTS][NQ];
    static uint8_t single[NQ];
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (int s = 0; s < SHOTS; ++s)
        for (int k = 0; k < NC; ++k) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            syn[s][k] = (uint8_t)((x % 7) == 0);
        }
    CHECK(vornex_decode_fast_batch(h, &syn[0][0], SHOTS, &batch[0][0]) == 0);
    int same = 1;
    for (int s = 0; s < SHOTS; ++s) {
        if (vornex_decode_fast(h, syn[s], NC, single, NQ) != 0 || memcmp(single, batch[s], NQ) != 0) same = 0;
    }
    CHECK(same);
    vornex_fast_decoder_free(h);
}

static void test_rejected_creation(void) {
    const uint32_t good[] = {0, 1, 1, 2};
    const uint32_t out_of_range[] = {0, 1, 1, 3};
    const uint32_t hyperedge[] = {0, 1, 1, 2, 1, 3};
    const uint32_t max_index[] = {0, 4294967295u};
    CHECK(vornex_fast_decoder_create(NULL, 2, 2, 3) == NULL);
    CHECK(vornex_fast_decoder_create(out_of_range, 2, 2, 3) == NULL);
    CHECK(vornex_fast_decoder_create(hyperedge, 3, 2, 4) == NULL);
    CHECK(vornex_fast_decoder_create(max_index, 1, 2, 5) == NULL);
    CHECK(vornex_fast_decoder_create(good, 0, 2, 3) == NULL);
    CHECK(vornex_fast_decoder_create(good, 2, 0, 3) == NULL);
    CHECK(vornex_fast_decoder_create(good, (size_t)-1, 2, 3) == NULL);
    vornex_fast_decoder_free(NULL);
}

static void test_rejected_decodes(void) {
    const uint32_t checks[] = {0, 1, 1, 2};
    VornexFastDecoder* h = vornex_fast_decoder_create(checks, 2, 2, 3);
    CHECK(h != NULL);
    if (h == NULL) return;
    const uint8_t syn[4] = {1, 0, 1, 1};
    uint8_t c[8];

    memset(c, 0x5A, sizeof c);
    CHECK(vornex_decode_fast(NULL, syn, 2, c, 3) == -1);
    CHECK(vornex_decode_fast(h, NULL, 2, c, 3) == -1);
    CHECK(vornex_decode_fast(h, syn, 2, NULL, 3) == -1);
    CHECK(vornex_decode_fast(h, syn, 1, c, 3) == -1);
    CHECK(vornex_decode_fast(h, syn, 3, c, 3) == -1);
    CHECK(vornex_decode_fast(h, syn, 2, c, 2) == -1);
    CHECK(vornex_decode_fast(h, syn, 2, c, 4) == -1);
    CHECK(all_equal(c, sizeof c, 0x5A));

    CHECK(vornex_decode_fast_batch(NULL, syn, 2, c) == -1);
    CHECK(vornex_decode_fast_batch(h, NULL, 2, c) == -1);
    CHECK(vornex_decode_fast_batch(h, syn, 2, NULL) == -1);
    /* A batch whose byte count cannot be addressed is refused up front. */
    CHECK(vornex_decode_fast_batch(h, syn, (size_t)-1 / 2, c) == -1);
    CHECK(all_equal(c, sizeof c, 0x5A));

    CHECK(vornex_decode_fast_batch(h, syn, 0, c) == 0);
    CHECK(all_equal(c, sizeof c, 0x5A));
    vornex_fast_decoder_free(h);
}

/* Syndrome and correction sharing any byte: refused without a write, for
 * every offset at which the two areas meet; areas that only touch end to
 * end are fine and decode as from separate buffers. */
static void test_overlapping_buffers(void) {
    const uint32_t checks[] = {0, 1, 1, 2};
    VornexFastDecoder* h = vornex_fast_decoder_create(checks, 2, 2, 3);
    CHECK(h != NULL);
    if (h == NULL) return;
    const uint8_t syn[2] = {1, 0};
    uint8_t expected[3];
    CHECK(vornex_decode_fast(h, syn, 2, expected, 3) == 0);
    enum { SPAN = 16 };
    int refused = 1, untouched = 1, adjacent_ok = 1;
    for (int offset = -4; offset <= 4; ++offset) {
        /* Syndrome at 6, correction at 6 + offset. */
        uint8_t buf[SPAN], before[SPAN];
        memset(buf, 0x5A, sizeof buf);
        memcpy(buf + 6, syn, 2);
        memcpy(before, buf, sizeof buf);
        const int shared = offset > -3 && offset < 2;
        const int32_t status = vornex_decode_fast(h, buf + 6, 2, buf + 6 + offset, 3);
        if (shared) {
            if (status != -1) refused = 0;
            if (memcmp(buf, before, sizeof buf) != 0) untouched = 0;
        } else if (status != 0 || memcmp(buf + 6 + offset, expected, 3) != 0) {
            adjacent_ok = 0;
        }
        /* The same layout as a batch of two rows: 4 syndrome and 6 correction bytes. */
        uint8_t rows[40], rows_before[40];
        memset(rows, 0x5A, sizeof rows);
        memcpy(rows + 16, syn, 2);
        memcpy(rows + 18, syn, 2);
        memcpy(rows_before, rows, sizeof rows);
        const int batch_shared = offset * 2 > -6 && offset * 2 < 4;
        const int32_t batch_status = vornex_decode_fast_batch(h, rows + 16, 2, rows + 16 + 2 * offset);
        if (batch_shared) {
            if (batch_status != -1) refused = 0;
            if (memcmp(rows, rows_before, sizeof rows) != 0) untouched = 0;
        } else if (batch_status != 0 || memcmp(rows + 16 + 2 * offset, expected, 3) != 0 ||
                   memcmp(rows + 16 + 2 * offset + 3, expected, 3) != 0) {
            adjacent_ok = 0;
        }
    }
    CHECK(refused);
    CHECK(untouched);
    CHECK(adjacent_ok);
    vornex_fast_decoder_free(h);
}

int main(void) {
    test_repetition_code();
    test_batch_matches_single();
    test_rejected_creation();
    test_rejected_decodes();
    test_overlapping_buffers();
    printf("%d passed, %d failed\n", passes, failures);
    return failures == 0 ? 0 : 1;
}
