#include "learned/gnn_weights.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "base/shape.h"
#include "base/whole_file.h"

namespace vornex {
namespace {

static_assert(std::endian::native == std::endian::little, "tensor data is copied as little-endian doubles");

// Headers above this size are refused before parsing (a corrupt length
// field must not make us parse the whole file as JSON).
constexpr uint64_t kMaxHeaderSize = 100'000'000;

Error format_error(const std::string& what) {
    return runtime_error("SafeTensors deserialization error: " + what);
}

std::optional<uint64_t> dtype_size(const std::string& dtype) {
    static const std::pair<const char*, uint64_t> kSizes[] = {
        {"BOOL", 1}, {"U8", 1},  {"I8", 1},  {"F8_E5M2", 1}, {"F8_E4M3", 1}, {"I16", 2}, {"U16", 2}, {"F16", 2},
        {"BF16", 2}, {"I32", 4}, {"U32", 4}, {"F32", 4},     {"I64", 8},     {"U64", 8}, {"F64", 8}};
    for (const auto& [name, size] : kSizes)
        if (dtype == name) return size;
    return std::nullopt;
}

std::optional<uint64_t> as_unsigned(const nlohmann::json& value) {
    if (!value.is_number_unsigned()) return std::nullopt;
    return value.get<uint64_t>();
}

struct Span {
    uint64_t begin, end;
    size_t index;
};

}  // namespace

std::vector<std::byte> serialize_safetensors(std::vector<F64Tensor> tensors) {
    std::sort(tensors.begin(), tensors.end(), [](const F64Tensor& a, const F64Tensor& b) { return a.name < b.name; });
    nlohmann::ordered_json header = nlohmann::ordered_json::object();
    header["__metadata__"] = nlohmann::ordered_json::object();
    uint64_t offset = 0;
    for (const F64Tensor& t : tensors) {
        const uint64_t bytes = t.values.size() * sizeof(double);
        nlohmann::ordered_json info = nlohmann::ordered_json::object();
        info["dtype"] = "F64";
        info["shape"] = t.shape;
        info["data_offsets"] = {offset, offset + bytes};
        header[t.name] = std::move(info);
        offset += bytes;
    }
    std::string text = header.dump();
    text.append((8 - text.size() % 8) % 8, ' ');

    std::vector<std::byte> out(8 + text.size() + offset);
    const uint64_t length = text.size();
    std::memcpy(out.data(), &length, 8);
    std::memcpy(out.data() + 8, text.data(), text.size());
    std::byte* data = out.data() + 8 + text.size();
    for (const F64Tensor& t : tensors) {
        if (!t.values.empty()) std::memcpy(data, t.values.data(), t.values.size() * sizeof(double));
        data += t.values.size() * sizeof(double);
    }
    return out;
}

Status write_safetensors(const std::string& path, std::vector<F64Tensor> tensors) {
    return replace_file(path, serialize_safetensors(std::move(tensors)));
}

Result<SafetensorsReader> SafetensorsReader::open(const std::string& path) {
    auto bytes = read_whole_file(path);
    if (!bytes) return bytes.error();
    return parse_owned(std::move(bytes).value());
}

Result<SafetensorsReader> SafetensorsReader::parse_owned(std::vector<std::byte> bytes) {
    auto reader = parse(std::span<const std::byte>(bytes));
    if (!reader) return reader.error();
    // The entries point into the buffer, which moves without relocating.
    reader.value().owned_ = std::move(bytes);
    return reader;
}

Result<SafetensorsReader> SafetensorsReader::parse(std::span<const std::byte> bytes) {
    if (bytes.size() < 8) return format_error("header too small");
    uint64_t header_size = 0;
    std::memcpy(&header_size, bytes.data(), 8);
    if (header_size > kMaxHeaderSize) return format_error("header too large");
    if (header_size > bytes.size() - 8) return format_error("invalid header length");
    const char* text = reinterpret_cast<const char*>(bytes.data() + 8);
    if (header_size == 0 || text[0] != '{') return format_error("invalid header start");
    const nlohmann::json header = nlohmann::json::parse(text, text + header_size, nullptr, false);
    if (header.is_discarded()) return format_error("invalid JSON in header");
    if (!header.is_object()) return format_error("header is not a JSON object");

    const std::span<const std::byte> data = bytes.subspan(8 + header_size);
    SafetensorsReader reader;
    std::vector<Span> spans;
    for (const auto& [name, info] : header.items()) {
        if (name == "__metadata__") {
            if (info.is_null()) continue;
            if (!info.is_object()) return format_error("invalid __metadata__");
            for (const auto& [key, value] : info.items())
                if (!value.is_string()) return format_error("invalid __metadata__ value for '" + key + "'");
            continue;
        }
        const std::string tensor = name;  // copied: older clang cannot capture a structured binding
        const auto bad = [&] { return format_error("invalid tensor info for '" + tensor + "'"); };
        if (!info.is_object() || !info.contains("dtype") || !info.contains("shape") || !info.contains("data_offsets"))
            return bad();
        const auto& dtype = info["dtype"];
        const auto& shape = info["shape"];
        const auto& offsets = info["data_offsets"];
        if (!dtype.is_string() || !shape.is_array() || !offsets.is_array() || offsets.size() != 2) return bad();
        TensorEntry entry;
        entry.name = name;
        entry.dtype = dtype.get<std::string>();
        const auto element_size = dtype_size(entry.dtype);
        if (!element_size) return format_error("unknown dtype '" + entry.dtype + "' for '" + name + "'");
        uint64_t count = 1;
        for (const auto& dim : shape) {
            const auto d = as_unsigned(dim);
            if (!d) return bad();
            entry.shape.push_back(*d);
            if (__builtin_mul_overflow(count, *d, &count)) return format_error("shape overflow for '" + name + "'");
        }
        const auto begin = as_unsigned(offsets[0]);
        const auto end = as_unsigned(offsets[1]);
        if (!begin || !end) return bad();
        uint64_t expected = 0;
        if (*begin > *end || *end > data.size() || __builtin_mul_overflow(count, *element_size, &expected) ||
            expected != *end - *begin)
            return format_error("invalid offset for '" + name + "'");
        entry.data = data.subspan(*begin, *end - *begin);
        spans.push_back({*begin, *end, reader.tensors_.size()});
        reader.tensors_.push_back(std::move(entry));
    }
    // The tensors must tile the data area exactly, as the format requires.
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
    });
    uint64_t cursor = 0;
    for (const Span& s : spans) {
        if (s.begin != cursor) return format_error("invalid offset for '" + reader.tensors_[s.index].name + "'");
        cursor = s.end;
    }
    if (cursor != data.size()) return format_error("metadata incomplete buffer");
    std::sort(reader.tensors_.begin(), reader.tensors_.end(),
              [](const TensorEntry& a, const TensorEntry& b) { return a.name < b.name; });
    return reader;
}

const TensorEntry* SafetensorsReader::find(std::string_view name) const {
    auto it = std::lower_bound(tensors_.begin(), tensors_.end(), name,
                               [](const TensorEntry& e, std::string_view n) { return e.name < n; });
    return (it != tensors_.end() && it->name == name) ? &*it : nullptr;
}

Result<const TensorEntry*> find_f64_tensor(const SafetensorsReader& file, const std::string& name,
                                           std::span<const uint64_t> shape) {
    const TensorEntry* entry = file.find(name);
    if (entry == nullptr) return runtime_error("Tensor not found: " + name);
    if (entry->dtype != "F64")
        return runtime_error("Dtype mismatch for '" + name + "': expected F64, got " + entry->dtype);
    if (!std::equal(entry->shape.begin(), entry->shape.end(), shape.begin(), shape.end())) {
        const std::vector<size_t> expected(shape.begin(), shape.end()), got(entry->shape.begin(), entry->shape.end());
        return runtime_error("Shape mismatch for '" + name + "': expected " + shape_text(expected) + ", got " +
                             shape_text(got));
    }
    return entry;
}

void copy_f64_values(const TensorEntry& tensor, std::span<double> out) {
    if (!out.empty()) std::memcpy(out.data(), tensor.data.data(), out.size() * sizeof(double));
}

}  // namespace vornex
