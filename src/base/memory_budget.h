// Up-front memory checks for sizes that come from the caller.
#pragma once

namespace vornex {

// Whether `bytes` (an estimate, in floating point so that no product of
// caller sizes can wrap) fit in this machine's physical memory and in what
// is left of the process's address-space limit. Tables are zero-filled as
// they are allocated, so one that passes the allocator but exceeds the
// memory gets the process killed instead of raising; sizes from the caller
// are checked against this first, and refused with std::bad_alloc.
bool fits_in_memory(double bytes);

}  // namespace vornex
