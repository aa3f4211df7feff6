// Every family built from a detector error model meets the family contract;
// the check runs at compile time, so a family that stops meeting it stops
// this file from building.
#include <gtest/gtest.h>

#include "bp/bp_osd_family.h"
#include "dem/model_prediction.h"
#include "learned/learned_matching.h"
#include "matching/belief_matching.h"
#include "matching/blossom.h"
#include "matching/matching_decoder.h"
#include "matching/stream/stream_matching.h"
#include "uf/decoder.h"
#include "uf/lookup_table.h"
#include "uf/weighted_decoder.h"

namespace vornex {
namespace {

static_assert(ModelFamily<MatchingDecoder>);
static_assert(ModelFamily<BlossomDecoder>);
static_assert(ModelFamily<BeliefMatchingDecoder>);
static_assert(ModelFamily<LearnedMatchingDecoder>);
static_assert(ModelFamily<StreamMatchingDecoder>);
static_assert(ModelFamily<BpOsdFamily>);
static_assert(ModelFamily<LookupTable>);
static_assert(ModelFamily<UnionFindDecoder>);
static_assert(ModelFamily<WeightedUnionFindDecoder>);

// The contract is not vacuous: a type with sizes but no predictions fails it.
struct SizesOnly {
    const ModelObservables* model() const { return nullptr; }
};
static_assert(!ModelFamily<SizesOnly>);
static_assert(!ModelFamily<int>);

TEST(ModelFamily, ContractIsCheckedAtCompileTime) { SUCCEED(); }

}  // namespace
}  // namespace vornex
