// The weights-file reader on hostile images: raw bytes, and a valid file of a
// small network (or of a wider one, whose tensors have other shapes) with
// bytes overwritten, its length field rewritten or its tail cut. Checks that
// every accepted tensor lies inside the image, that a load either copies
// exactly the file's tensors, shapes included, or changes nothing, and that
// the untouched image loads back the network that wrote it.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/wyrand.h"
#include "fuzz_input.h"
#include "learned/gnn_predecoder.h"
#include "learned/gnn_weights.h"

namespace {

using namespace vornex;

void require(bool condition) {
    if (!condition) std::abort();
}

const GNNPredecoder& source_network() {
    static const GNNPredecoder net = [] {
        Wyrand seeds(11);
        return GNNPredecoder(3, 2, 2, 2, seeds);
    }();
    return net;
}

// A network whose tensors hold the same names in other shapes.
const GNNPredecoder& wider_network() {
    static const GNNPredecoder net = [] {
        Wyrand seeds(12);
        return GNNPredecoder(3, 2, 3, 2, seeds);
    }();
    return net;
}

std::vector<std::byte> image_of(const GNNPredecoder& net) {
    {
        std::vector<F64Tensor> tensors;
        for (size_t i = 0; i < net.layers().size(); ++i) {
            const auto& layer = net.layers()[i];
            const std::string prefix = "layers." + std::to_string(i) + ".";
            tensors.push_back({prefix + "w_message", {layer.w_message.rows, layer.w_message.cols}, layer.w_message.data});
            tensors.push_back({prefix + "b_message", {layer.b_message.size()}, layer.b_message});
            tensors.push_back({prefix + "w_update", {layer.w_update.rows, layer.w_update.cols}, layer.w_update.data});
            tensors.push_back({prefix + "b_update", {layer.b_update.size()}, layer.b_update});
        }
        const auto& r = net.readout();
        tensors.push_back({"edge_readout.w1", {r.w1.rows, r.w1.cols}, r.w1.data});
        tensors.push_back({"edge_readout.b1", {r.b1.size()}, r.b1});
        tensors.push_back({"edge_readout.w2", {r.w2.rows, r.w2.cols}, r.w2.data});
        tensors.push_back({"edge_readout.b2", {r.b2.size()}, r.b2});
        return serialize_safetensors(std::move(tensors));
    }
}

const std::vector<std::byte>& source_image() {
    static const std::vector<std::byte> image = image_of(source_network());
    return image;
}

std::vector<std::byte> hostile_image(fuzz::Input& in, const uint8_t* data, size_t size) {
    if (in.byte() < 64) {
        std::vector<std::byte> raw(size);
        if (size) std::memcpy(raw.data(), data, size);
        return raw;
    }
    std::vector<std::byte> image = in.byte() < 32 ? image_of(wider_network()) : source_image();
    uint64_t header_size = 0;
    std::memcpy(&header_size, image.data(), 8);
    for (uint32_t edits = in.below(4); edits > 0; --edits) {
        // Mostly inside the length field and the header, where parsing happens.
        const size_t limit = in.byte() < 192 ? 8 + header_size : image.size();
        image[in.below(static_cast<uint32_t>(limit))] = static_cast<std::byte>(in.byte());
    }
    switch (in.byte() % 8) {
        case 0: image.resize(in.below(static_cast<uint32_t>(image.size()))); break;
        case 1: {
            const uint64_t length = header_size + in.below(64) - 32;
            std::memcpy(image.data(), &length, 8);
            break;
        }
        default: break;
    }
    return image;
}

std::vector<uint64_t> shape_of(const Matrix& m) { return {m.rows, m.cols}; }
std::vector<uint64_t> shape_of(const std::vector<double>& v) { return {v.size()}; }
const std::vector<double>& values_of(const Matrix& m) { return m.data; }
const std::vector<double>& values_of(const std::vector<double>& v) { return v; }

// Whether every tensor of `net` has the shape and the values of the file's tensor.
bool holds_file_values(const GNNPredecoder& net, const SafetensorsReader& file) {
    const auto same = [&](const std::string& name, const auto& tensor) {
        const std::vector<double>& values = values_of(tensor);
        const TensorEntry* t = file.find(name);
        return t && t->data.size() == values.size() * sizeof(double) && t->shape == shape_of(tensor) &&
               (values.empty() || std::memcmp(t->data.data(), values.data(), values.size() * sizeof(double)) == 0);
    };
    for (size_t i = 0; i < net.layers().size(); ++i) {
        const auto& layer = net.layers()[i];
        const std::string prefix = "layers." + std::to_string(i) + ".";
        if (!same(prefix + "w_message", layer.w_message) || !same(prefix + "b_message", layer.b_message) ||
            !same(prefix + "w_update", layer.w_update) || !same(prefix + "b_update", layer.b_update))
            return false;
    }
    const auto& r = net.readout();
    return same("edge_readout.w1", r.w1) && same("edge_readout.b1", r.b1) && same("edge_readout.w2", r.w2) &&
           same("edge_readout.b2", r.b2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const std::vector<std::byte> image = hostile_image(in, data, size);
    auto parsed = SafetensorsReader::parse(std::span<const std::byte>(image));
    if (!parsed.ok()) {
        require(parsed.error().kind == ErrorKind::Runtime);
        return 0;
    }
    const SafetensorsReader& file = parsed.value();
    for (const TensorEntry& t : file.tensors()) {
        require(t.data.empty() || (t.data.data() >= image.data() && t.data.data() + t.data.size() <= image.data() + image.size()));
    }
    // A network of the writer's sizes and one with a layer more (whose
    // tensors the file lacks).
    for (size_t n_layers : {size_t{2}, size_t{3}}) {
        Wyrand seeds(5 + n_layers);
        GNNPredecoder net(3, 2, 2, n_layers, seeds);
        const GNNPredecoder before = net;
        const Status status = net.load_weights_from(file);
        if (status.ok()) {
            require(holds_file_values(net, file));
        } else {
            require(status.error().kind == ErrorKind::Runtime);
            require(net == before);
        }
        if (image == source_image()) require(status.ok() == (n_layers == 2) && (n_layers != 2 || net == source_network()));
    }
    return 0;
}
