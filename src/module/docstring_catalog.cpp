#include "module/docstring_catalog.h"

#include <string>

#include "module/predict_methods.h"

namespace vornex::py {
namespace {

struct Entry {
    const char* key;  // "Class", "Class.member", "*.member" or "function"
    const char* text;
};

constexpr const char* kBatchDecodeDoc =
    "Decode many syndromes: a uint8 array of shape (shots, n_checks). Returns a new uint8 array of\n"
    "shape (shots, n_qubits), row i the correction of syndrome row i. Ctrl-C stops a long batch.";

constexpr Entry kCatalog[] = {
    // Members several families share.
    {"*.decode",
     "Decode one syndrome: a 1-D uint8 array of n_checks bytes (0 or 1). Returns the correction as a\n"
     "new 1-D uint8 array of n_qubits bytes."},
    {"*.batch_decode", kBatchDecodeDoc},
    {"*.predict_observables", kPredictDoc},
    {"*.predict_observables_batch", kPredictBatchDoc},
    {"*.from_detector_error_model", kFromModelDoc},
    {"*.n_qubits", "Number of qubits: the length of every correction."},
    {"*.n_checks", "Number of checks: the length of every syndrome."},
    {"*.num_observables",
     "Number of logical observables predict_observables reports; 0 for a decoder built from checks."},
    {"*.num_detectors", "Number of detectors of the model: the length of one shot's detection events."},
    {"*.num_edges", "Number of edges of the model's graph view."},
    {"*.save_weights",
     "Write the network's weights to the file at `path` (safetensors format), replacing any file there."},
    {"*.load_weights",
     "Read the network's weights from a safetensors file written by save_weights for a network of\n"
     "the same sizes."},

    // Union-Find family.
    {"UnionFindDecoder",
     "Union-Find decoder (Delfosse-Nickerson) on the check graph of a code whose qubits each lie in\n"
     "one or two checks; a qubit in one check joins it to the boundary. check_to_qubits lists the\n"
     "qubits of each check; n_qubits is the correction length. Near-linear time per shot;\n"
     "batch_decode runs the shots on the worker pool."},
    {"FastUnionFindDecoder",
     "Union-Find decoder of the fast path: the same check graph, core and corrections as\n"
     "UnionFindDecoder, decoding into a workspace it reuses. Its check graph is also what the C\n"
     "interface (libvornex_c) builds."},
    {"BatchDecoder",
     "Union-Find batch decoder: shots decoded in parallel on the worker pool, each row exactly the\n"
     "correction UnionFindDecoder.decode returns for it."},
    {"BatchDecoder.parallel_batch_decode", kBatchDecodeDoc},
    {"CPUBatchDecoder",
     "Union-Find batch decoders on the CPU with three ways of spending memory and threads: 64-lane\n"
     "blocks with reused workspaces (batch_decode_simd), one workspace per shot in sequence\n"
     "(batch_decode_pooled) and one per shot in parallel (batch_decode_par). Every variant returns\n"
     "row for row the correction of UnionFindDecoder.decode."},
    {"CUDABatchDecoder",
     "Union-Find batch decoder on an NVIDIA GPU, its kernel compiled for the present device at\n"
     "construction (RuntimeError when there is no usable driver or device). Small batches and GPU\n"
     "failures fall back to the CPU decoder; after three failures in a row the decoder is degraded\n"
     "and retries the GPU only on every tenth batch. Objects belong to the thread that made them."},
    {"CUDABatchDecoder.batch_decode",
     "Decode many syndromes: a uint8 array of shape (shots, n_checks). Returns a new uint8 array of\n"
     "shape (shots, n_qubits), on the GPU when it is available and the batch is large enough, else\n"
     "on the CPU; the corrections are the same either way."},
    {"CUDABatchDecoder.is_available", "True when a CUDA driver and a device can be used on this machine."},
    {"CUDABatchDecoder.reset",
     "Clear the failure counters and leave degraded mode, so the next large batch tries the GPU;\n"
     "gpu_recoveries keeps its count."},
    {"CUDABatchDecoder.device_name", "Name of the GPU the decoder runs on."},
    {"CUDABatchDecoder.compute_capability", "Compute capability of the GPU as (major, minor)."},
    {"CUDABatchDecoder.consecutive_failures", "GPU failures since the last success or reset."},
    {"CUDABatchDecoder.total_failures", "GPU failures since construction or the last reset."},
    {"CUDABatchDecoder.is_degraded", "True while repeated GPU failures keep batches on the CPU."},
    {"CUDABatchDecoder.degraded_reason",
     "Why batches run on the CPU (the latest GPU failure, or no device the compilers can build for);\n"
     "None while the GPU is in use."},
    {"CUDABatchDecoder.gpu_recoveries", "Times the GPU worked again after degraded mode."},

    // Matching family.
    {"BlossomDecoder",
     "Minimum-weight matching decoder on the check graph, weighted per qubit. check_to_qubits lists\n"
     "the qubits of each check (a qubit in one check joins it to the boundary); edge_weights gives\n"
     "one weight per qubit, None for all 1.0. Each defect is matched among its nearest defects\n"
     "(Edmonds' blossom algorithm); a correction that does not reproduce the syndrome falls back to\n"
     "Union-Find, then to an exact GF(2) solve. VORNEX_BLOSSOM_K_MULT widens the neighbour search."},
    {"BlossomDecoder.edges",
     "Pairs of checks joined by a qubit, as (check, check) tuples in the order they were built."},
    {"SparseBlossomDecoder",
     "Matching decoder on hop counts: defects are matched by breadth-first path cost through the\n"
     "check graph, and matched pairs flip the qubits on a shortest path. A correction that does\n"
     "not reproduce the syndrome is replaced by BlossomDecoder's with unit weights."},
    {"SparseBlossomDecoder.decode_with_weights",
     "Decode one syndrome with per-qubit weights for this call only: weights is a sequence of\n"
     "(qubit, weight) pairs, heavier qubits costing fewer hops (cost 1000 / weight, clamped to\n"
     "1 .. 100000; weights <= 0 cost the most). Returns the 1-D uint8 correction."},
    {"MatchingDecoder",
     "Exact minimum-weight perfect matching decoder on a sparse graph: one node per check, one edge\n"
     "per qubit (a qubit in one check joins it to the boundary), and cost that follows the defects\n"
     "of a shot rather than the size of the graph. weights gives one non-negative weight per qubit\n"
     "(None: all equal). Built from a detector error model it also predicts observable flips."},
    {"BeliefMatchingDecoder",
     "Belief-matching: belief propagation on a detector error model's full hypergraph, then exact\n"
     "matching on its graph view with every edge weighted by BP's posterior. When that matching\n"
     "does not reproduce the detection events, the prior-weighted matching is used instead.\n"
     "model is a DetectorErrorModel, model text, a path or a stim.DetectorErrorModel; the keywords\n"
     "set BP as for BPOSDDecoder. bp_radius=None runs BP exactly; an integer r caps BP at r steps\n"
     "from each shot's detection events (messages beyond held at their event-free values) and\n"
     "re-weights only the edges there: an approximation, about 1.3-3.7x faster at r = 1 with the\n"
     "same failures within sampling error on circuit-level surface codes."},
    {"BeliefMatchingDecoder.from_detector_error_model",
     "Build the decoder from a detector error model, with the same keywords as the constructor."},
    {"BeliefMatchingDecoder.predict_observables_batch",
     "Predicted observable flips of (shots, num_detectors) detection events, or (shots,\n"
     "ceil(num_detectors / 8)) bit-packed, in the same packing; shots run on the worker pool.\n"
     "plain=True skips BP and matches with the prior weights (the reference to compare with)."},

    // Other classical decoders.
    {"BPOSDDecoder",
     "Belief propagation with ordered-statistics post-processing (BP-OSD) for any code: qubits may\n"
     "lie in any number of checks. error_rate is the flip probability of every qubit, or\n"
     "error_channel gives one per qubit. max_iter bounds BP; bp_method is 'minimum_sum' (scaled by\n"
     "ms_scaling_factor) or 'product_sum'; schedule 'parallel' or 'serial'; stop 'posterior' or\n"
     "'syndrome' chooses when BP counts as converged; osd_method 'osd_0', 'osd_e' or 'osd_cs' with\n"
     "osd_order extra columns searched."},
    {"BPOSDDecoder.from_detector_error_model",
     "Build the decoder from a detector error model (DetectorErrorModel, model text, a path or a\n"
     "stim.DetectorErrorModel): one check per detector, one column per error mechanism with its\n"
     "probability, hyperedges included. The keywords are the constructor's, with the defaults BP-OSD\n"
     "is run with on circuit models: min-sum scaled by 0.625 and the syndrome stop (as ldpc's\n"
     "circuit-level decoder), at most 50 iterations (ldpc's cap is one per column, which costs every\n"
     "unsolved shot far more; 200 failed no less often than 50 on surface and colour codes), and OSD-CS of\n"
     "order 7 (ldpc's default is OSD-0: order 7 roughly halves colour-code failures for a few per cent\n"
     "more time, as only shots BP leaves unsolved pay for it)."},
    {"BPOSDDecoder.decode_timed",
     "Decode one syndrome with BP stopped once max_latency_ms milliseconds have passed, then OSD.\n"
     "Returns the 1-D uint8 correction; a budget of 0 skips BP."},
    {"BPOSDDecoder.bp_decode",
     "Run BP alone for at most min(max_iterations, 50) iterations and return the posterior\n"
     "log-likelihood ratio of each qubit (float64, positive favours no flip)."},
    {"LookupTableDecoder",
     "Union-Find decoder with a table of corrections by syndrome: build_table fills it from the\n"
     "likeliest error patterns, decode answers from it and decodes with Union-Find otherwise, so\n"
     "its corrections always equal UnionFindDecoder's."},
    {"LookupTableDecoder.table_size", "Number of syndromes in the table."},
    {"SlidingWindowDecoder",
     "Stream decoder over a window of recent rounds: update adds one round's syndrome and decodes\n"
     "the decay-weighted vote of the last window_size rounds (a check counts when its weights sum\n"
     "to 0.5 or more, the newest round weighing 1 and each older one decay_factor times less) with\n"
     "Union-Find."},
    {"SlidingWindowDecoder.update",
     "Add one round's syndrome (1-D uint8, n_checks bytes) to the window and return the correction\n"
     "of the window's vote."},
    {"SlidingWindowDecoder.flush", "Empty the window and set current_round to 0; the code and settings stay."},
    {"SlidingWindowDecoder.decode",
     "Decode one syndrome on its own with Union-Find; the window is neither read nor changed."},
    {"SlidingWindowDecoder.window_size", "Number of rounds the window holds."},
    {"SlidingWindowDecoder.decay_factor", "Weight ratio of each round to the next newer one, in [0, 1]."},
    {"SlidingWindowDecoder.current_round", "Rounds added by update since construction or the last flush."},
    {"StreamingDecoder",
     "Stream decoder over a ring of the last history_size rounds (None: 10): update adds one\n"
     "round's syndrome and decodes the OR of the rounds held with Union-Find."},
    {"StreamingDecoder.update",
     "Add one round's syndrome (1-D uint8, n_checks bytes) to the ring, replacing the oldest when it\n"
     "is full, and return the correction of the OR of the rounds held."},
    {"StreamingDecoder.flush", "Empty the ring; the code stays."},
    {"StreamingDecoder.decode",
     "Decode one syndrome on its own with Union-Find; the ring is neither read nor changed."},

    // Learned predecoders.
    {"NeuralPredecoder",
     "A small fully connected network (two hidden layers of n_hidden1 and n_hidden2 units; None:\n"
     "(n_input + n_output) // 2) from a syndrome of n_input bits to n_output flip probabilities,\n"
     "trained in place on the caller's syndrome/correction pairs."},
    {"NeuralPredecoder.train",
     "Train in place by stochastic gradient descent: syndromes and corrections are uint8 arrays read\n"
     "flat, n_input and n_output bytes per sample. progress: a callable progress(done, total), or\n"
     "True for a tqdm bar. Ctrl-C stops training, keeping the steps taken."},
    {"NeuralPredecoder.predict",
     "The n_output flip probabilities of one syndrome of n_input bytes, as a 1-D float64 array."},
    {"NeuralPredecoder.decode",
     "The correction of one syndrome: 1 where the predicted probability is at least 0.5."},
    {"NeuralPredecoder.n_input", "Syndrome length the network takes."},
    {"NeuralPredecoder.n_output", "Number of output probabilities."},
    {"NeuralPredecoder.n_hidden1", "Width of the first hidden layer."},
    {"NeuralPredecoder.n_hidden2", "Width of the second hidden layer."},
    {"DetectorGraph",
     "Input of GNNPredecoder for one syndrome of a code: a node per check, an edge per pair of checks\n"
     "sharing a qubit, 10 features per node and 8 per edge. check_positions, check_types and\n"
     "base_weights (per qubit) enrich the features; update_syndrome reuses the graph for another\n"
     "syndrome."},
    {"DetectorGraph.update_syndrome",
     "Replace the syndrome (n_nodes values) and recompute the node features that depend on it."},
    {"DetectorGraph.node_feature_dim", "Number of features per node (10)."},
    {"DetectorGraph.edge_feature_dim", "Number of features per edge (8)."},
    {"DetectorGraph.n_nodes", "Number of nodes: one per check."},
    {"DetectorGraph.n_edges", "Number of edges: one per pair of checks sharing a qubit."},
    {"DetectorGraph.node_features", "A copy of the node features: n_nodes lists of 10 floats."},
    {"DetectorGraph.edge_features", "A copy of the edge features: n_edges lists of 8 floats."},
    {"DetectorGraph.edge_qubit_id", "The qubit behind each edge."},
    {"DetectorGraph.edge_src", "First node of each edge."},
    {"DetectorGraph.edge_dst", "Second node of each edge."},
    {"GNNPredecoder",
     "Message-passing graph neural network over a DetectorGraph that predicts one positive weight\n"
     "per edge, for a matching decoder to use. node_feat_dim and edge_feat_dim must match the\n"
     "graphs (DetectorGraph.node_feature_dim(), edge_feature_dim()); seed makes the starting\n"
     "weights repeatable."},
    {"GNNPredecoder.forward", "The predicted weight of every edge of graph, as a list of n_edges floats."},
    {"GNNPredecoder.train",
     "Train in place on graphs and their per-edge targets (lists of n_edges floats; pairs whose\n"
     "lengths differ are skipped) for n_epochs epochs; returns the final loss. progress: a callable\n"
     "progress(done, total), or True for a tqdm bar. Ctrl-C stops training."},
    {"GNNPredecoder.predict_with_node_probs",
     "The edge weights of forward and a probability per node, as (edge weights, node probabilities)."},
    {"GNNPredecoder.learning_rate", "Step size of training (0.01 to start)."},
    {"GNNPredecoder.l2_lambda", "Weight decay of training (1e-5 to start)."},
    {"LearnedMatchingDecoder",
     "Matching on a detector error model's graph view with weights a network corrects per shot from\n"
     "the detection events near each edge (the model's own weights elsewhere, and everywhere before\n"
     "training); hidden_size and n_layers size the network's hidden layers and seed makes its\n"
     "starting weights repeatable; train fits it to the model's noise. With train_samples > 0 the\n"
     "network is trained when built (train_samples samples drawn from train_seed, kept by its error\n"
     "rate on validation_shots held-out samples) or, when an earlier build trained it for the same\n"
     "model content, shape and budget, loaded from cache_dir (default $VORNEX_CACHE_DIR, else\n"
     "$XDG_CACHE_HOME/vornex_decoder_v3, else ~/.cache/vornex_decoder_v3; '' for no cache); a cache\n"
     "file that does not load is ignored and replaced. Without training (train_samples=0, the\n"
     "default) the network is the identity and predictions are plain matching on the model's weights."},
    {"LearnedMatchingDecoder.edge_weights",
     "The matching weight of every edge of the model's graph view for one shot's detection events\n"
     "(1-D uint8, num_detectors bytes), in model edge order, as a float64 array."},
    {"HybridDecoder",
     "A graph neural network feeding per-qubit weights to the sparse matching decoder: for each\n"
     "syndrome it builds a DetectorGraph, predicts edge weights and matches with them. Optional\n"
     "check_positions, check_types and base_weights enrich the graph; gnn_hidden_size (64) and\n"
     "gnn_n_layers (3) size the network; seed makes its starting weights repeatable."},
    {"HybridDecoder.decode_hybrid",
     "Decode one syndrome with the network's weights. Returns the 1-D uint8 correction."},
    {"HybridDecoder.decode_heuristic",
     "Decode one syndrome with fixed weights instead of the network's (1, 3 or 10 by how many of a\n"
     "qubit's checks fired), for comparison."},
    {"HybridDecoder.decode_standard",
     "Decode one syndrome by plain sparse matching with unit costs; no network involved."},
    {"HybridDecoder.batch_decode_hybrid",
     "decode_hybrid on each row of a (shots, n_checks) uint8 array; returns (shots, n_qubits)."},
    {"HybridDecoder.batch_decode_standard",
     "decode_standard on each row of a (shots, n_checks) uint8 array; returns (shots, n_qubits)."},

    // Benchmarks.
    {"BenchmarkSuite",
     "Latency benchmark of BlossomDecoder on a code: n_samples pseudo-random syndromes from seed."},
    {"BenchmarkSuite.run",
     "Decode the samples one at a time and return the report (mean, median, p99, minimum and\n"
     "maximum latency in microseconds, throughput, version, time) as indented JSON text."},
    {"LERBenchmark",
     "Logical error rates of HybridDecoder and BlossomDecoder on the same samples of six\n"
     "rotated-surface-code scenarios."},
    {"LERBenchmark.run_all", "Run every scenario and return the results as indented JSON text."},

    // Codes and models.
    {"DetectorErrorModel.num_errors", "Number of error mechanisms."},
    {"RotatedSurfaceCode.distance", "Code distance d."},
    {"RotatedSurfaceCode.n_qubits", "Number of data qubits, d * d."},
    {"RotatedSurfaceCode.z_checks", "Z checks as lists of qubits; they detect X errors."},
    {"RotatedSurfaceCode.x_checks", "X checks as lists of qubits; they detect Z errors."},
    {"RotatedSurfaceCode.z_logical", "Qubits of the Z logical operator (column 0)."},
    {"RotatedSurfaceCode.x_logical", "Qubits of the X logical operator (row 0)."},

    // Module functions.
    {"cuda_is_available", "True when a CUDA driver and a device can be used on this machine."},
};

const char* find(const std::string& key) {
    for (const Entry& entry : kCatalog)
        if (key == entry.key) return entry.text;
    return nullptr;
}

}  // namespace

const char* catalog_description(std::string_view owner, std::string_view member) {
    if (owner.empty()) return find(std::string(member));
    if (member.empty()) return find(std::string(owner));
    if (const char* own = find(std::string(owner) + "." + std::string(member))) return own;
    return find("*." + std::string(member));
}

}  // namespace vornex::py
