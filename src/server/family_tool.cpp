#include "server/family_tool.h"

#include <string>
#include <vector>

#include "dem/decoder_families.h"

namespace vornex {
namespace {

using Json = nlohmann::json;  // built values: members sorted by key

Json described(Json schema, const char* description) {
    schema["description"] = description;
    return schema;
}

}  // namespace

Json family_listing_tool() {
    const Json text = {{"type", "string"}};
    const Json flag = {{"type", "boolean"}};
    Json family = {
        {"type", "object"},
        {"properties",
         {{"aliases", described({{"type", "array"}, {"items", text}}, "Older names the family still answers to.")},
          {"class_name", described(text, "The Python class of vornex_decoder_v3 that builds it.")},
          {"exact", described(flag, "True when it returns a most likely error (minimum weight) for every model "
                                    "it accepts; false for approximate decoders.")},
          {"hyperedges", described(flag, "True when it decodes errors that flip more than two detectors (colour "
                                         "codes, models not decomposed into graph edges).")},
          {"name", described(text, "The family's name, as tools, the vornex command and the Python package "
                                   "take it.")},
          {"sinter_name", described(text, "Its name among sinter decoders.")},
          {"summary", described(text, "What it does and when to pick it.")}}},
        {"required", {"aliases", "class_name", "exact", "hyperedges", "name", "sinter_name", "summary"}}};
    Json output = {{"type", "object"},
                   {"properties", {{"families", described({{"type", "array"}, {"items", std::move(family)}},
                                                          "The families, the default (matching) first.")}}},
                   {"required", {"families"}}};
    return {{"name", "list_decoder_families"},
            {"description",
             "List the decoder families that decode from a detector error model: their names, whether each "
             "accepts hyperedges and whether it is exact."},
            {"inputSchema", {{"type", "object"}, {"properties", Json::object()}}},
            {"outputSchema", std::move(output)}};
}

Json decoder_families_output() {
    Json families = Json::array();
    for (const DecoderFamily& f : decoder_families())
        families.push_back({{"aliases", aliases_of(f)},
                            {"class_name", std::string(f.class_name)},
                            {"exact", f.exact},
                            {"hyperedges", f.hyperedges},
                            {"name", std::string(f.name)},
                            {"sinter_name", std::string(kSinterPrefix) + std::string(f.name)},
                            {"summary", std::string(f.summary)}});
    return {{"families", std::move(families)}};
}

}  // namespace vornex
