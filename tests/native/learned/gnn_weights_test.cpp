#include "learned/gnn_weights.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>

#include "learned/gnn_predecoder.h"

namespace vornex {
namespace {

std::string temp_path(const std::string& name) {
    return ::testing::TempDir() + "vornex_weights_" + std::to_string(::getpid()) + "_" + name;
}

// A file in the temporary folder, removed when the test ends, failed or not.
struct TempFile {
    explicit TempFile(const std::string& name) : path(temp_path(name)) {}
    ~TempFile() { std::remove(path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string path;
};

std::vector<std::byte> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> out(chars.size());
    if (!chars.empty()) std::memcpy(out.data(), chars.data(), chars.size());
    return out;
}

// The bytes of `net` as save_weights writes them to `file`.
std::vector<std::byte> saved_bytes(const GNNPredecoder& net, const TempFile& file) {
    EXPECT_TRUE(net.save_weights(file.path).ok());
    return read_file(file.path);
}

void write_file(const std::string& path, std::span<const std::byte> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string header_text(const std::vector<std::byte>& file) {
    uint64_t n = 0;
    std::memcpy(&n, file.data(), 8);
    return std::string(reinterpret_cast<const char*>(file.data() + 8), n);
}

// Rebuilds a file image around an edited header, keeping the data area.
std::vector<std::byte> with_header(const std::vector<std::byte>& file, const nlohmann::ordered_json& header) {
    uint64_t old = 0;
    std::memcpy(&old, file.data(), 8);
    std::string text = header.dump();
    text.append((8 - text.size() % 8) % 8, ' ');
    std::vector<std::byte> out(8 + text.size());
    const uint64_t n = text.size();
    std::memcpy(out.data(), &n, 8);
    std::memcpy(out.data() + 8, text.data(), text.size());
    out.insert(out.end(), file.begin() + 8 + static_cast<ptrdiff_t>(old), file.end());
    return out;
}

DetectorGraph sample_graph() {
    return DetectorGraph::create({{0, 1}, {1, 2}, {2, 3}, {3, 0, 4}}, std::vector<uint8_t>{1, 0, 1, 0}).value();
}

TEST(GNNWeightsTest, RoundTripIsByteExactAndPredictsTheSame) {
    Wyrand seeds(3);
    GNNPredecoder a(10, 8, 5, 3, seeds), b(10, 8, 5, 3, seeds);
    a.readout().b2[0] = 0.125;
    a.layers()[2].b_update[4] = -7.5;
    const std::string p1 = temp_path("a"), p2 = temp_path("b");
    ASSERT_TRUE(a.save_weights(p1).ok());
    ASSERT_TRUE(b.load_weights(p1).ok());
    EXPECT_TRUE(a == b);
    EXPECT_EQ(a.forward(sample_graph()).value(), b.forward(sample_graph()).value());
    ASSERT_TRUE(b.save_weights(p2).ok());
    const auto bytes = read_file(p1);
    EXPECT_EQ(bytes, read_file(p2));

    // Header: empty metadata first, tensors sorted by name with F64 dtype,
    // shape and contiguous offsets; padded with blanks to a multiple of 8.
    const std::string header = header_text(bytes);
    EXPECT_EQ(header.size() % 8, 0u);
    EXPECT_EQ(header.rfind(
                  R"({"__metadata__":{},"edge_readout.b1":{"dtype":"F64","shape":[5],"data_offsets":[0,40]},)"
                  R"("edge_readout.b2":{"dtype":"F64","shape":[1],"data_offsets":[40,48]},)"
                  R"("edge_readout.w1":{"dtype":"F64","shape":[5,18],"data_offsets":[48,768]},)",
                  0),
              0u)
        << header;
    EXPECT_LT(header.find("\"layers.0.b_message\""), header.find("\"layers.0.w_message\""));
    EXPECT_LT(header.find("\"edge_readout.w2\""), header.find("\"layers.0.b_message\""));
    std::remove(p1.c_str());
    std::remove(p2.c_str());
}

TEST(GNNWeightsTest, LayerTenSortsBeforeLayerTwo) {
    Wyrand seeds(4);
    const GNNPredecoder net(10, 8, 1, 11, seeds);
    const TempFile file("eleven");
    const std::string header = header_text(saved_bytes(net, file));
    EXPECT_LT(header.find("\"layers.10.b_message\""), header.find("\"layers.2.b_message\""));
    GNNPredecoder fewer(10, 8, 1, 3);
    ASSERT_TRUE(fewer.load_weights(file.path).ok());
    for (size_t l = 0; l < 3; ++l) EXPECT_EQ(fewer.layers()[l], net.layers()[l]);
    EXPECT_EQ(fewer.readout(), net.readout());
}

// Every failing file, whichever tensor it fails on, leaves the network as
// it was: the checks run before the first value is copied.
TEST(GNNWeightsTest, FailedLoadChangesNothing) {
    Wyrand seeds(8);
    const GNNPredecoder source(10, 8, 2, 2, seeds);
    const TempFile file("f32");
    const std::string& p = file.path;
    const auto bytes = saved_bytes(source, file);
    const auto header = nlohmann::ordered_json::parse(header_text(bytes));
    GNNPredecoder target(10, 8, 2, 2);
    const GNNPredecoder untouched = target;

    auto last_as_f32 = header;
    last_as_f32["edge_readout.b2"]["dtype"] = "F32";
    last_as_f32["edge_readout.b2"]["shape"] = {2};
    write_file(p, with_header(bytes, last_as_f32));
    auto status = target.load_weights(p);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().kind, ErrorKind::Runtime);
    EXPECT_EQ(status.error().message, "Dtype mismatch for 'edge_readout.b2': expected F64, got F32");
    EXPECT_EQ(target, untouched);

    // The readout's first matrix stored transposed: the same byte count, the
    // values in the wrong places.
    auto transposed = header;
    transposed["edge_readout.w1"]["shape"] = {header["edge_readout.w1"]["shape"][1],
                                             header["edge_readout.w1"]["shape"][0]};
    write_file(p, with_header(bytes, transposed));
    status = target.load_weights(p);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().message, "Shape mismatch for 'edge_readout.w1': expected [2, 12], got [12, 2]");
    EXPECT_EQ(target, untouched);
    // A vector written as a one-row matrix is another shape too.
    auto as_row = header;
    as_row["layers.0.b_update"]["shape"] = {1, 2};
    write_file(p, with_header(bytes, as_row));
    EXPECT_EQ(target.load_weights(p).error().message,
              "Shape mismatch for 'layers.0.b_update': expected [2], got [1, 2]");
    EXPECT_EQ(target, untouched);

    // The last layer tensor is missing (renamed, so the data area still
    // tiles): every tensor before it would have loaded.
    auto without_last = header;
    without_last["zz.spare"] = header["layers.1.b_update"];
    without_last.erase("layers.1.b_update");
    write_file(p, with_header(bytes, without_last));
    status = target.load_weights(p);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().message, "Tensor not found: layers.1.b_update");
    EXPECT_EQ(target, untouched);

    ASSERT_TRUE(target.load_weights_from(SafetensorsReader::parse(bytes).value()).ok());
    EXPECT_EQ(target.layers(), source.layers());
    EXPECT_EQ(target.readout(), source.readout());
}

TEST(GNNWeightsTest, MissingShortAndUnreadableFiles) {
    GNNPredecoder net(10, 8, 2, 1);
    auto missing = net.load_weights(temp_path("does_not_exist"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ErrorKind::Runtime);
    EXPECT_EQ(missing.error().message, "IO error: No such file or directory");
    EXPECT_EQ(net.load_weights(::testing::TempDir()).error().message, "IO error: Is a directory");
    EXPECT_EQ(net.save_weights(temp_path("no_dir/x")).error().message, "IO error: No such file or directory");
    // The system would stop reading the path at the NUL and use another file.
    const std::string cut = temp_path("cut");
    EXPECT_EQ(net.save_weights(cut + std::string(1, '\0') + "tail").error().message, "IO error: Invalid argument");
    EXPECT_EQ(std::fopen(cut.c_str(), "rb"), nullptr);
    ASSERT_TRUE(net.save_weights(cut).ok());
    EXPECT_EQ(net.load_weights(cut + std::string(1, '\0')).error().message, "IO error: Invalid argument");
    std::remove(cut.c_str());

    const std::string empty = temp_path("empty");
    write_file(empty, {});
    EXPECT_EQ(net.load_weights(empty).error().message, "SafeTensors deserialization error: header too small");
    std::remove(empty.c_str());

    // Files from a smaller and from a larger network: every tensor is there,
    // none has the receiving network's shape. Neither changes the network.
    Wyrand seeds(2);
    const GNNPredecoder small(10, 8, 1, 1, seeds);
    const std::string p = temp_path("small");
    ASSERT_TRUE(small.save_weights(p).ok());
    const GNNPredecoder before = net;
    EXPECT_EQ(net.load_weights(p).error().message,
              "Shape mismatch for 'layers.0.w_message': expected [2, 18], got [1, 18]");
    const GNNPredecoder large(10, 8, 3, 1, seeds);
    ASSERT_TRUE(large.save_weights(p).ok());
    EXPECT_EQ(net.load_weights(p).error().message,
              "Shape mismatch for 'layers.0.w_message': expected [2, 18], got [3, 18]");
    EXPECT_EQ(net, before);
    // A file without the readout.
    const GNNPredecoder two_layers(10, 8, 1, 2, seeds);
    GNNPredecoder three_layers(10, 8, 1, 3);
    ASSERT_TRUE(two_layers.save_weights(p).ok());
    EXPECT_EQ(three_layers.load_weights(p).error().message, "Tensor not found: layers.2.w_message");
    std::remove(p.c_str());
}

// Every truncation of a valid file is refused; seeded byte corruptions are
// either refused or parse into tensors that stay inside the data area.
TEST(GNNWeightsTest, TruncatedAndCorruptedFilesAreRefusedCleanly) {
    Wyrand seeds(6);
    const GNNPredecoder net(10, 8, 2, 1, seeds);
    const TempFile file("fuzz");
    const std::string& p = file.path;
    const auto bytes = saved_bytes(net, file);
    for (size_t len = 0; len < bytes.size(); ++len) {
        auto r = SafetensorsReader::parse(std::span<const std::byte>(bytes).first(len));
        ASSERT_FALSE(r.ok()) << len;
        ASSERT_EQ(r.error().kind, ErrorKind::Runtime);
        ASSERT_EQ(r.error().message.rfind("SafeTensors deserialization error: ", 0), 0u) << r.error().message;
    }
    // A few through the mapped-file path as well.
    for (size_t len : {size_t{0}, size_t{7}, size_t{8}, size_t{100}, bytes.size() - 1}) {
        write_file(p, std::span<const std::byte>(bytes).first(len));
        GNNPredecoder target(10, 8, 2, 1);
        auto status = target.load_weights(p);
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(status.error().message.rfind("SafeTensors deserialization error: ", 0), 0u);
    }

    std::mt19937_64 rng(99);
    size_t accepted = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        auto corrupt = bytes;
        for (int flips = 1 + static_cast<int>(rng() % 3); flips > 0; --flips) {
            // Mostly hit the length field and the header, where parsing happens.
            const size_t limit = (rng() % 4 == 0) ? corrupt.size() : std::min<size_t>(corrupt.size(), 200);
            corrupt[rng() % limit] = static_cast<std::byte>(rng());
        }
        auto r = SafetensorsReader::parse(corrupt);
        if (!r.ok()) {
            ASSERT_EQ(r.error().kind, ErrorKind::Runtime);
            continue;
        }
        ++accepted;
        const auto* begin = corrupt.data();
        for (const TensorEntry& t : r.value().tensors()) {
            ASSERT_GE(t.data.data(), begin);
            ASSERT_LE(t.data.data() + t.data.size(), begin + corrupt.size());
        }
        GNNPredecoder target(10, 8, 2, 1);
        write_file(p, corrupt);
        (void)target.load_weights(p);
    }
    EXPECT_GT(accepted, 0u);  // value bytes were hit too, and still load
}

}  // namespace
}  // namespace vornex
