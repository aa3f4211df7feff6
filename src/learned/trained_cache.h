// Trained learned-matching networks cached on disk, one file per model and
// training budget, so that processes decoding the same model (sinter's
// workers) train once.
//
// A file's name carries a content hash of the model (its detectors,
// observables and every error's probability and targets, so that two texts
// of the same model share it and any other model cannot) and the network
// shape, seed and budget. A file that does not load (corrupt, truncated, of
// another shape) is ignored: the network is trained again and the file
// replaced. Files are written under a temporary name and renamed into
// place, so a reader never sees half of one.
#pragma once

#include <cstdint>
#include <string>

#include "base/progress.h"
#include "base/result.h"
#include "dem/dem_model.h"
#include "learned/learned_matching.h"

namespace vornex {

// What one compile of a learned decoder trains with.
struct TrainingBudget {
    uint64_t samples = 0;            // training samples; 0 trains nothing (the network stays the identity)
    uint64_t seed = 0;
    uint64_t validation_shots = 1000;
};

// 64-bit FNV-1a over the model's content.
uint64_t model_content_hash(const DetectorErrorModel& model);

// The cache file of a model, network shape and budget, inside `directory`.
std::string trained_network_path(const std::string& directory, const DetectorErrorModel& model, size_t hidden_size,
                                 size_t n_layers, uint64_t network_seed, const TrainingBudget& budget);

// The cache directory when none is given: $VORNEX_CACHE_DIR, else
// $XDG_CACHE_HOME/vornex_decoder_v3, else ~/.cache/vornex_decoder_v3 ("" when
// none of them is set: no cache).
std::string default_cache_directory();

// Loads `decoder`'s network from the cache file when one loads, else trains
// it on `budget` and stores it (creating `directory`); an empty `directory`
// trains without caching. True when the network came from the cache. A cache
// that cannot be written is not an error: the trained network is kept.
Result<bool> train_or_load(LearnedMatchingDecoder& decoder, const DetectorErrorModel& model, size_t hidden_size,
                           size_t n_layers, uint64_t network_seed, const TrainingBudget& budget,
                           const std::string& directory, ProgressSink* progress = nullptr);

}  // namespace vornex
