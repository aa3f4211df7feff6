// Up-front memory checks for sizes that come from the caller.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/result.h"

namespace vornex {

// What memory sized by counts a caller declares (a model's detectors, a
// check list's qubits) may take, checked before it is taken: the bytes in
// VORNEX_MEMORY_BUDGET (a whole number, optionally followed by K, M, G or T
// for powers of 1024) when it parses as one above zero, else 2 GiB. It is
// read on every check, so a process may raise it before building a decoder.
inline constexpr double kDefaultMemoryBudget = 0x1p31;
inline constexpr const char* kMemoryBudgetVariable = "VORNEX_MEMORY_BUDGET";
double memory_budget();

// A byte count as people read it ("5.0 GiB", "640 KiB", "12 bytes").
std::string byte_text(double bytes);

// MemoryError text unless `bytes` (the estimate of what `subject` needs,
// e.g. "the model declares 9 detectors; a matching decoder for it") fits in
// memory_budget(); the text names the estimate, the budget and how to raise it.
Status check_memory_budget(std::string_view subject, double bytes);

// check_memory_budget for a declared count: "<owner> declares <count>
// <counted>; <decoder> for it needs about ...". `bytes_per_item` is the
// decoder's cost per counted item and `bytes_per_pair` its cost per pair of
// them (dense square tables), measured on the decoder's build and first
// prediction.
Status check_count_budget(std::string_view owner, size_t count, std::string_view counted, std::string_view decoder,
                          double bytes_per_item, double bytes_per_pair = 0.0);

// check_count_budget for the qubits a check list declares (its n_qubits, or
// its largest index + 1): "the check list declares N qubits; <decoder> for it
// needs about ...".
inline Status check_declared_qubits(size_t n_qubits, std::string_view decoder, double bytes_per_qubit) {
    return check_count_budget("the check list", n_qubits, "qubits", decoder, bytes_per_qubit);
}

// Whether `bytes` (an estimate, in floating point so that no product of
// caller sizes can wrap) fit in this machine's physical memory and in what
// is left of the process's address-space limit. Tables are zero-filled as
// they are allocated, so one that passes the allocator but exceeds the
// memory gets the process killed instead of raising; sizes from the caller
// are checked against this first, and refused with std::bad_alloc.
bool fits_in_memory(double bytes);

}  // namespace vornex
