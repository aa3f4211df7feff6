// SparseBlossomDecoder: matching on breadth-first path costs.
#include "matching/sparse_blossom.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<SparseBlossomDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    return std::make_unique<SparseBlossomDecoder>(SparseBlossomDecoder::create(std::move(checks), n_qubits));
}

// The batch entry point over spans (the member is overloaded).
std::vector<uint8_t> batch_decode(const SparseBlossomDecoder& d, std::span<const uint8_t> s, size_t n) {
    return d.batch_decode(s, n);
}

}  // namespace

ModuleItem& sparse_blossom_decoder_class() {
    using D = SparseBlossomDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct>("SparseBlossomDecoder(check_to_qubits, n_qubits)")
            .method<decode_method<&D::decode, "Invalid syndrome: ", Syndrome::LengthFirst>>("decode($self, syndrome)")
            .method<decode_method<&D::decode_with_weights, "Invalid syndrome: ", Syndrome::LengthFirst>>(
                "decode_with_weights($self, syndrome, weights)")
            .method<batch_method<batch_decode, "Invalid syndromes: ">>("batch_decode($self, syndromes)")
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
