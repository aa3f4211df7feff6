#include "dem/decoder_families.h"

#include <algorithm>

namespace vornex {
namespace {

// One row per family; a new family adds its row here (and its class to the module).
constexpr DecoderFamily kFamilies[] = {
    {.name = "matching",
     .class_name = "MatchingDecoder",
     .aliases = "",
     .hyperedges = false,
     .exact = true,
     .summary = "Exact minimum-weight perfect matching on the model's graph (sparse blossom); the default for surface "
                "and repetition codes."},
    {.name = "uf",
     .class_name = "UnionFindDecoder",
     .aliases = "union_find",
     .hyperedges = false,
     .exact = false,
     .summary = "Union-Find cluster growth on unweighted edges (Delfosse-Nickerson): the fastest, less accurate than "
                "matching."},
    {.name = "weighted_uf",
     .class_name = "WeightedUnionFindDecoder",
     .aliases = "weighted_union_find",
     .hyperedges = false,
     .exact = false,
     .summary = "Union-Find grown by edge weight: faster than matching, between Union-Find and matching in accuracy."},
    {.name = "blossom",
     .class_name = "BlossomDecoder",
     .aliases = "",
     .hyperedges = false,
     .exact = false,
     .summary = "Blossom matching among each defect's nearest defects on a dense graph, with Union-Find and GF(2) "
                "fallbacks: the library's first matching decoder, kept for its fixed outputs; prefer matching."},
    {.name = "bposd",
     .class_name = "BPOSDDecoder",
     .aliases = "",
     .hyperedges = true,
     .exact = false,
     .summary = "Belief propagation with ordered-statistics post-processing on the whole model: decodes hyperedges "
                "(colour codes, LDPC codes); the slowest."},
    {.name = "relay_bp",
     .class_name = "RelayBPDecoder",
     .aliases = "relay",
     .hyperedges = true,
     .exact = false,
     .summary = "Relay-BP: min-sum BP with disordered memory, run in legs until a few solutions are found, OSD for a "
                "shot without one: decodes hyperedges (colour codes, LDPC codes) with no OSD on most shots."},
    {.name = "belief_matching",
     .class_name = "BeliefMatchingDecoder",
     .aliases = "",
     .hyperedges = false,
     .exact = false,
     .summary = "Belief propagation reweights the graph per shot, then exact matching: more accurate than matching at "
                "circuit-level noise, several times slower."},
    {.name = "lookup",
     .class_name = "LookupTableDecoder",
     .aliases = "",
     .hyperedges = false,
     .exact = false,
     .summary = "Union-Find with a table of corrections for likely syndromes (build_table fills it): Union-Find's "
                "answers, sooner on the repeated syndromes of small codes."},
    {.name = "learned_matching",
     .class_name = "LearnedMatchingDecoder",
     .aliases = "",
     .hyperedges = false,
     .exact = false,
     .summary = "Matching on weights a small network corrects per shot, trained on the model's own errors: for "
                "experiments with learned reweighting."},
    {.name = "matching_correlated",
     .class_name = "MatchingDecoder",
     .aliases = "",
     .hyperedges = false,
     .exact = false,
     .summary = "Two-pass correlated matching: the first pass's edges lower the weights of the edges that decomposed "
                "errors (Y errors, hook errors) flip with them, then exact matching again; fewer failures than "
                "matching at circuit-level noise for about twice its time.",
     .options = "enable_correlations=true"},
    {.name = "belief_correlated",
     .class_name = "BeliefCorrelatedDecoder",
     .aliases = "",
     .hyperedges = false,
     .exact = false,
     .summary = "Correlated, belief-weighted and belief-then-correlated matching per shot, keeping the correction "
                "the model's errors explain at the least weight: fewer failures than correlated matching at "
                "circuit-level noise, at the cost of BP per shot; pick it when failures matter more than time."},
    {.name = "stream_matching",
     .class_name = "StreamMatchingDecoder",
     .aliases = "",
     .hyperedges = false,
     .exact = false,
     .summary = "Exact matching on sliding windows of rounds (commit and buffer of the code distance by default), as a "
                "real-time decoder would run: for memory experiments whose detectors carry a time coordinate."},
};

}  // namespace

std::span<const DecoderFamily> decoder_families() { return kFamilies; }

std::vector<std::string_view> aliases_of(const DecoderFamily& family) {
    std::vector<std::string_view> names;
    std::string_view rest = family.aliases;
    while (!rest.empty()) {
        const size_t blank = rest.find(' ');
        names.push_back(rest.substr(0, blank));
        rest.remove_prefix(blank == std::string_view::npos ? rest.size() : blank + 1);
    }
    return names;
}

const DecoderFamily* find_decoder_family(std::string_view name) {
    if (name.starts_with(kSinterPrefix)) name.remove_prefix(kSinterPrefix.size());
    for (const DecoderFamily& family : kFamilies) {
        const auto aliases = aliases_of(family);
        if (family.name == name || std::ranges::find(aliases, name) != aliases.end()) return &family;
    }
    return nullptr;
}

std::string hyperedge_family_names() {
    std::string names;
    for (const DecoderFamily& family : kFamilies)
        if (family.hyperedges) names += (names.empty() ? "" : ", ") + std::string(family.name);
    return names;
}

}  // namespace vornex
