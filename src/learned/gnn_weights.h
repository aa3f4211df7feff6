// Safetensors files of float64 tensors: an 8-byte little-endian header
// length, a JSON header naming each tensor's dtype, shape and byte range,
// then the raw little-endian data. Files are read through a read-only memory
// map that lives exactly as long as the reader object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "code/result.h"

namespace vornex {

// One tensor to write: its name, shape and row-major values.
struct F64Tensor {
    std::string name;
    std::vector<uint64_t> shape;
    std::span<const double> values;
};

// Writes the tensors (sorted by name, in the header and in the data area)
// with an empty metadata map. RuntimeError "IO error: ..." on failure.
Status write_safetensors(const std::string& path, std::vector<F64Tensor> tensors);

// The serialised bytes of write_safetensors.
std::vector<std::byte> serialize_safetensors(std::vector<F64Tensor> tensors);

// Read-only mapping of a whole file; unmapped by the destructor.
class MappedFile {
public:
    MappedFile() = default;
    static Result<MappedFile> open(const std::string& path);
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    std::span<const std::byte> bytes() const { return {data_, size_}; }

private:
    const std::byte* data_ = nullptr;
    size_t size_ = 0;
};

// Header entry of one tensor; `data` points into the mapping.
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

    // The named tensor, or nullptr.
    const TensorEntry* find(std::string_view name) const;
    const std::vector<TensorEntry>& tensors() const { return tensors_; }

private:
    MappedFile file_;
    std::vector<TensorEntry> tensors_;  // sorted by name
};

// Copies the values of a F64 tensor into `out` in row-major order; the
// tensor must hold at least out.size() values. RuntimeError texts for a
// missing tensor, another dtype or too few values.
Status read_f64_tensor(const SafetensorsReader& file, const std::string& name, std::span<double> out);

}  // namespace vornex
