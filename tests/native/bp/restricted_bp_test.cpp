#include "bp/restricted_bp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "bp/bp_models.h"
#include "bp/bp_osd.h"

namespace vornex {
namespace {

using testing::BpModel;

std::vector<double> llrs(const BpModel& m) {
    std::vector<double> l;
    for (double p : m.rates) l.push_back(bp_prior_llr(p));
    return l;
}

struct Case {
    std::string name;
    BpSettings bp;
    double strength;  // uniform memory strength; 0 runs plain BP
};

std::vector<Case> cases() {
    std::vector<Case> out;
    BpSettings ms;
    ms.max_iterations = 30;
    out.push_back({"min-sum", ms, 0.0});
    BpSettings scaled = ms;
    scaled.ms_scaling_factor = 0.625;
    out.push_back({"scaled min-sum", scaled, 0.0});
    BpSettings ps = ms;
    ps.method = BpMethod::ProductSum;
    ps.max_iterations = 20;
    out.push_back({"product-sum", ps, 0.0});
    out.push_back({"min-sum with memory", ms, 0.125});
    return out;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Restricted and whole-graph runs on the same shots: the same iteration
// count, outcome and hard decision, and the same posteriors bit for bit,
// inside the region and (completed) everywhere. Counts in `stayed` the
// shots that stayed restricted to the end.
void expect_same_runs(const BpModel& model, size_t shots, uint64_t seed, size_t& stayed,
                      size_t table_bytes = kEventFreeTableBytes) {
    auto graph = build_tanner_graph(model.checks, model.n_qubits).value();
    const std::vector<double> prior = llrs(model);
    std::mt19937_64 rng(seed);
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const std::vector<double> strength(c.strength != 0.0 ? model.n_qubits : 0, c.strength);
        const EventFreeBp free_run = EventFreeBp::build(graph, prior, c.bp, strength, table_bytes);
        ASSERT_TRUE(free_run.usable());
        BpMessages full, restricted;
        for (size_t shot = 0; shot < shots; ++shot) {
            const std::vector<uint8_t> syndrome = testing::sampled_syndrome(rng, model);
            const BpOutcome a = strength.empty() ? run_belief_propagation(graph, prior, syndrome, c.bp, full)
                                                 : run_memory_belief_propagation(graph, prior, syndrome, c.bp,
                                                                                 BpMemory{strength, false}, full);
            const BpOutcome b =
                run_restricted_belief_propagation(graph, prior, syndrome, c.bp, strength, free_run, restricted);
            ASSERT_EQ(a.iterations, b.iterations) << "shot " << shot;
            ASSERT_EQ(a.explained, b.explained) << "shot " << shot;
            ASSERT_EQ(full.hard_decision, restricted.hard_decision) << "shot " << shot;
            if (a.iterations == 0) continue;  // no BP ran: nothing more to compare
            const bool stays = restricted.region_clean;
            stayed += stays;
            for (size_t q = 0; q < model.n_qubits; ++q)
                if (!stays || restricted.qubit_marked[q])
                    ASSERT_TRUE(same_bits(full.posterior[q], restricted.posterior[q])) << "shot " << shot << " q " << q;
            complete_posterior(graph, free_run, b.iterations, restricted);
            for (size_t q = 0; q < model.n_qubits; ++q)
                ASSERT_TRUE(same_bits(full.posterior[q], restricted.posterior[q])) << "shot " << shot << " q " << q;
        }
    }
}

TEST(RestrictedBp, EqualsWholeGraphBpOnSurfaceModel) {
    size_t stayed = 0;
    expect_same_runs(testing::surface_memory_model(7, 7, 0.004), 150, 1, stayed);
    EXPECT_GT(stayed, 100u);
}

TEST(RestrictedBp, EqualsWholeGraphBpOnLocalHyperedgeModel) {
    std::mt19937_64 rng(2);
    size_t stayed = 0;
    expect_same_runs(testing::local_hyperedge_model(rng, 12, 8, 0.001), 150, 3, stayed);
    EXPECT_GT(stayed, 100u);
}

TEST(RestrictedBp, EqualsWholeGraphBpOnRandomLdpcAndWhenTablesRunOut) {
    // A random code's region spreads over half the graph within a few
    // iterations; small tables force the switch as early as iteration 2.
    std::mt19937_64 rng(4);
    size_t stayed = 0;
    expect_same_runs(testing::random_ldpc_model(rng, 60, 90, 0.03), 100, 5, stayed);
    expect_same_runs(testing::surface_memory_model(5, 5, 0.02), 100, 6, stayed, 3 * 8 * 2000);
}

TEST(RestrictedBp, OneEventTouchesOnlyItsNeighbourhood) {
    const BpModel model = testing::surface_memory_model(9, 9, 0.001);
    auto graph = build_tanner_graph(model.checks, model.n_qubits).value();
    const std::vector<double> prior = llrs(model);
    BpSettings bp;
    const EventFreeBp free_run = EventFreeBp::build(graph, prior, bp);
    ASSERT_TRUE(free_run.usable());
    std::vector<uint8_t> syndrome(model.checks.size(), 0);
    const uint32_t middle = static_cast<uint32_t>(model.checks.size() / 2);
    syndrome[middle] = 1;
    syndrome[middle + 1] = 1;  // neighbours in one round: one error explains them
    BpMessages m;
    const BpOutcome out = run_restricted_belief_propagation(graph, prior, syndrome, bp, {}, free_run, m);
    EXPECT_TRUE(out.explained);
    EXPECT_TRUE(m.region_clean);
    EXPECT_LT(m.region_qubits.size() * 10, model.n_qubits);
    // An empty syndrome does no BP at all.
    std::fill(syndrome.begin(), syndrome.end(), 0);
    const BpOutcome none = run_restricted_belief_propagation(graph, prior, syndrome, bp, {}, free_run, m);
    EXPECT_TRUE(none.explained);
    EXPECT_EQ(none.iterations, 0u);
    EXPECT_TRUE(m.region_qubits.empty());
}

TEST(RestrictedBp, TablesDeclineWhatTheyCannotReproduce) {
    const BpModel model = testing::surface_memory_model(3, 3, 0.01);
    auto graph = build_tanner_graph(model.checks, model.n_qubits).value();
    std::vector<double> prior = llrs(model);
    BpSettings bp;
    BpSettings serial = bp;
    serial.schedule = BpSchedule::Serial;
    BpSettings posterior_stop = bp;
    posterior_stop.stop = BpStop::Posterior;
    EXPECT_FALSE(EventFreeBp::build(graph, prior, serial).usable());
    EXPECT_FALSE(EventFreeBp::build(graph, prior, posterior_stop).usable());
    // Strong negative memory drives event-free posteriors negative.
    EXPECT_FALSE(EventFreeBp::build(graph, prior, bp, std::vector<double>(model.n_qubits, -1.0)).usable());
    prior[0] = -1.0;  // a column likelier flipped than not
    EXPECT_FALSE(EventFreeBp::build(graph, prior, bp).usable());
    // Scaled min-sum settles: the tables stop where the run becomes stationary.
    BpSettings scaled = bp;
    scaled.ms_scaling_factor = 0.5;
    scaled.max_iterations = 1000;
    const EventFreeBp settled = EventFreeBp::build(graph, llrs(model), scaled);
    EXPECT_TRUE(settled.stationary());
    EXPECT_LT(settled.last_iteration(), 1000u);
}

}  // namespace
}  // namespace vornex
