// The engine against networkx's exact matcher on graphs too large for the
// exhaustive reference. networkx is a test-only dependency; without a
// Python interpreter that can import it the test is skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/wyrand.h"
#include "matching/dense/mwpm.h"
#include "matching/matching_reference.h"

namespace vornex {
namespace {

using testing::random_graph;
using testing::transformed_matrix;
using testing::transformed_weight;

constexpr const char* kScript = R"(
import json, sys
import networkx as nx
out = []
for g in json.load(open(sys.argv[1])):
    G = nx.Graph()
    G.add_nodes_from(range(g["n"]))
    G.add_weighted_edges_from(g["edges"])
    m = nx.max_weight_matching(G)
    out.append(sum(G[u][v]["weight"] for u, v in m))
print(json.dumps(out))
)";

std::string run_python(const std::string& script_path, const std::string& data_path) {
    const std::string cmd = "python3 " + script_path + " " + data_path + " 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    if (!pipe) return {};
    std::string out;
    char buf[4096];
    while (size_t got = fread(buf, 1, sizeof buf, pipe.get())) out.append(buf, got);
    return out;
}

TEST(MwpmNetworkx, AgreesOnLargerRandomGraphs) {
    if (std::system("python3 -c 'import networkx' >/dev/null 2>&1") != 0) GTEST_SKIP() << "networkx not available";
    struct Shape {
        size_t n_lo, n_hi;
        double degree;
        int64_t max_weight;
        int count;
    };
    const Shape shapes[] = {
        {15, 60, 6.0, 20, 1000},     // many ties, small graphs
        {60, 150, 4.0, 65536, 150},  // scaled distances
        {150, 300, 3.0, 1000, 30},   // a few hundred vertices, sparse
        {40, 80, 30.0, 3, 100},      // dense with few distinct weights
    };
    Wyrand rng(0xC0FFEE);
    std::vector<std::pair<size_t, std::vector<MatchingEdge>>> graphs;
    nlohmann::json data = nlohmann::json::array();
    for (const Shape& s : shapes) {
        for (int i = 0; i < s.count; ++i) {
            const size_t n = s.n_lo + rng.next_u64() % (s.n_hi - s.n_lo + 1);
            auto edges = random_graph(rng, n, s.degree / static_cast<double>(n), s.max_weight);
            const auto w = transformed_matrix(n, edges);
            nlohmann::json list = nlohmann::json::array();
            for (size_t u = 0; u < n; ++u)
                for (size_t v = u + 1; v < n; ++v)
                    if (w[u * n + v] > 0) list.push_back({u, v, w[u * n + v]});
            data.push_back({{"n", n}, {"edges", list}});
            graphs.emplace_back(n, std::move(edges));
        }
    }
    const std::string dir = ::testing::TempDir();
    const std::string script = dir + "vornex_mwpm_nx.py";
    const std::string input = dir + "vornex_mwpm_nx.json";
    std::ofstream(script) << kScript;
    std::ofstream(input) << data.dump();
    const auto expected = nlohmann::json::parse(run_python(script, input), nullptr, false);
    ASSERT_TRUE(expected.is_array() && expected.size() == graphs.size()) << "networkx run failed";
    for (size_t i = 0; i < graphs.size(); ++i) {
        const auto& [n, edges] = graphs[i];
        const auto partner = mwpm_match(n, edges);
        ASSERT_EQ(transformed_weight(n, edges, partner), expected[i].get<int64_t>()) << "graph " << i << " n=" << n;
    }
    std::remove(script.c_str());
    std::remove(input.c_str());
}

}  // namespace
}  // namespace vornex
