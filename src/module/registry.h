// Every class and module function of the module, each defined in its
// subsystem's binding file. module.cpp adds them in the public order.
#pragma once

#include "module/class_def.h"

namespace vornex::py {

// Classes.
ModuleItem& blossom_decoder_class();
ModuleItem& sparse_blossom_decoder_class();
ModuleItem& fast_union_find_decoder_class();
ModuleItem& union_find_decoder_class();
ModuleItem& sliding_window_decoder_class();
ModuleItem& streaming_decoder_class();
ModuleItem& batch_decoder_class();
ModuleItem& cpu_batch_decoder_class();
ModuleItem& cuda_batch_decoder_class();
ModuleItem& benchmark_suite_class();
ModuleItem& ler_benchmark_class();
ModuleItem& lookup_table_decoder_class();
ModuleItem& bp_osd_decoder_class();
ModuleItem& relay_bp_decoder_class();
ModuleItem& neural_predecoder_class();
ModuleItem& detector_graph_class();
ModuleItem& gnn_predecoder_class();
ModuleItem& gnn_trainer_class();
ModuleItem& hybrid_decoder_class();
ModuleItem& detector_error_model_class();
ModuleItem& rotated_surface_code_class();
ModuleItem& matching_decoder_class();
ModuleItem& belief_matching_decoder_class();
ModuleItem& belief_correlated_decoder_class();
ModuleItem& weighted_union_find_decoder_class();
ModuleItem& learned_matching_decoder_class();
ModuleItem& stream_matching_decoder_class();

// Functions.
ModuleItem& py_check_to_edges_function();
ModuleItem& py_generate_surface_code_checks_function();
ModuleItem& py_generate_toy_code_checks_function();
ModuleItem& py_generate_ring_code_checks_function();
ModuleItem& py_generate_repetition_code_checks_function();
ModuleItem& run_mcp_server_function();
ModuleItem& cuda_is_available_function();
ModuleItem& decoder_families_function();

}  // namespace vornex::py
