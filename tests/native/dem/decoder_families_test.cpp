#include "dem/decoder_families.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vornex {
namespace {

bool is_identifier(std::string_view name) {
    return !name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") == std::string_view::npos;
}

// Every name a caller may use (a family's name or alias, bare or with
// sinter's prefix) finds that family and no other: no two rows share a name.
TEST(DecoderFamilies, EveryNameFindsItsOwnRowAndNoOther) {
    std::set<std::string_view> names, classes;
    for (const DecoderFamily& family : decoder_families()) {
        std::vector<std::string_view> all = aliases_of(family);
        all.push_back(family.name);
        for (std::string_view name : all) {
            EXPECT_TRUE(is_identifier(name)) << name;
            EXPECT_TRUE(names.insert(name).second) << name << " names two families";
            EXPECT_EQ(find_decoder_family(name), &family) << name;
            EXPECT_EQ(find_decoder_family(std::string(kSinterPrefix) + std::string(name)), &family) << name;
        }
        // A class has one row of its own; a row with options (a preset of
        // the class, as matching_correlated) shares it.
        if (family.options.empty()) EXPECT_TRUE(classes.insert(family.class_name).second) << family.class_name;
        EXPECT_FALSE(family.summary.empty()) << family.name;
    }
    for (const DecoderFamily& family : decoder_families())
        if (!family.options.empty()) EXPECT_TRUE(classes.contains(family.class_name)) << family.name;
    EXPECT_EQ(decoder_families().front().name, "matching");
    EXPECT_EQ(find_decoder_family("union_find")->name, "uf");
    for (const char* unknown : {"", "vornex_", "Matching", "vornex_vornex_uf", "uf ", "union_find uf"})
        EXPECT_EQ(find_decoder_family(unknown), nullptr) << unknown;
}

TEST(DecoderFamilies, HyperedgeNamesListTheRowsThatAcceptThem) {
    std::string expected;
    for (const DecoderFamily& family : decoder_families())
        if (family.hyperedges) expected += (expected.empty() ? "" : ", ") + std::string(family.name);
    EXPECT_EQ(hyperedge_family_names(), expected);
    EXPECT_NE(expected.find("bposd"), std::string::npos);
    EXPECT_FALSE(find_decoder_family("matching")->hyperedges);
}

}  // namespace
}  // namespace vornex
