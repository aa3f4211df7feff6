// Safetensors files of float64 tensors: an 8-byte little-endian header
// length, a JSON header naming each tensor's dtype, shape and byte range,
// then the raw little-endian data. Files are read into memory whole and
// written by replacing the file, so a reader and a writer may meet freely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace vornex {

// One tensor to write: its name, shape and row-major values.
struct F64Tensor {
    std::string name;
    std::vector<uint64_t> shape;
    std::span<const double> values;
};

// Writes the tensors (sorted by name, in the header and in the data area)
// with an empty metadata map, replacing any file at `path` in one step (a
// reader sees the old file or the new one). RuntimeError "IO error: ..." on
// failure, with the old file left in place.
Status write_safetensors(const std::string& path, std::vector<F64Tensor> tensors);

// The serialised bytes of write_safetensors.
std::vector<std::byte> serialize_safetensors(std::vector<F64Tensor> tensors);

// Header entry of one tensor; `data` points into the reader's bytes.
struct TensorEntry {
    std::string name;
    std::string dtype;
    std::vector<uint64_t> shape;
    std::span<const std::byte> data;
};

// A validated safetensors file. Every structural fault (short file, header
// length beyond the file, malformed JSON, offsets outside or not tiling the
// data area, a byte count that does not match dtype and shape) is refused
// at open with "SafeTensors deserialization error: ...".
class SafetensorsReader {
public:
    static Result<SafetensorsReader> open(const std::string& path);
    // Parses an in-memory image; `bytes` must outlive the reader.
    static Result<SafetensorsReader> parse(std::span<const std::byte> bytes);
    // Parses an image the reader then owns.
    static Result<SafetensorsReader> parse_owned(std::vector<std::byte> bytes);

    // The named tensor, or nullptr.
    const TensorEntry* find(std::string_view name) const;
    const std::vector<TensorEntry>& tensors() const { return tensors_; }

private:
    std::vector<std::byte> owned_;      // the file's bytes when opened from a path
    std::vector<TensorEntry> tensors_;  // sorted by name
};

// The named F64 tensor of exactly `shape`. RuntimeError texts for a missing
// tensor, another dtype or another shape (a transposed matrix or a tensor of
// a network of other sizes holds the same bytes in the wrong places).
Result<const TensorEntry*> find_f64_tensor(const SafetensorsReader& file, const std::string& name,
                                           std::span<const uint64_t> shape);

// Copies the first out.size() values of a tensor found above into `out`.
void copy_f64_values(const TensorEntry& tensor, std::span<double> out);

}  // namespace vornex
