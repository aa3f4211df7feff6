#include "server/family_tool.h"

#include <gtest/gtest.h>

#include "dem/decoder_families.h"
#include "server/tools.h"

namespace vornex {
namespace {

using nlohmann::json;

// The listing says what the family table says, row for row, and is listed
// with a schema that names every member it returns.
TEST(FamilyTool, ListsTheFamilyTableRowForRow) {
    const auto result = call_tool(nlohmann::ordered_json{{"name", "list_decoder_families"}});
    ASSERT_TRUE(result.ok());
    const json families = result.value().at("structuredContent").at("families");
    ASSERT_EQ(families.size(), decoder_families().size());
    for (size_t i = 0; i < families.size(); ++i) {
        const DecoderFamily& row = decoder_families()[i];
        const json& listed = families[i];
        EXPECT_EQ(listed.at("name"), row.name);
        EXPECT_EQ(listed.at("sinter_name"), "vornex_" + std::string(row.name));
        EXPECT_EQ(listed.at("class_name"), row.class_name);
        EXPECT_EQ(listed.at("exact"), row.exact);
        EXPECT_EQ(listed.at("hyperedges"), row.hyperedges);
        EXPECT_EQ(listed.at("summary"), row.summary);
        EXPECT_EQ(listed.at("aliases").size(), aliases_of(row).size());
        // The listing is kept in a local: a range-for over a member of a
        // temporary would outlive the temporary.
        const json tool = family_listing_tool();
        for (const auto& [key, value] : tool["outputSchema"]["properties"]["families"]["items"]["properties"].items())
            EXPECT_TRUE(listed.contains(key)) << key;
        EXPECT_EQ(listed.size(), 7u);
    }
    EXPECT_EQ(families[1].at("aliases"), json::array({"union_find"}));
}

}  // namespace
}  // namespace vornex
