#include "learned/trained_cache.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace vornex {

namespace {

class Fnv1a {
public:
    void add(uint64_t x) {
        for (int byte = 0; byte < 8; ++byte) {
            h_ ^= (x >> (8 * byte)) & 0xFF;
            h_ *= 1099511628211ull;
        }
    }
    uint64_t value() const { return h_; }

private:
    uint64_t h_ = 14695981039346656037ull;
};

std::string hex(uint64_t x) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(x));
    return text;
}

}  // namespace

uint64_t model_content_hash(const DetectorErrorModel& model) {
    Fnv1a h;
    h.add(model.num_detectors);
    h.add(model.num_observables);
    h.add(model.num_errors());
    for (size_t column = 0; column < model.num_errors(); ++column) {
        h.add(std::bit_cast<uint64_t>(model.probability[column]));
        const auto targets = model.targets_of(column);
        h.add(targets.size());
        for (const uint32_t t : targets) h.add(t);
    }
    return h.value();
}

std::string trained_network_path(const std::string& directory, const DetectorErrorModel& model, size_t hidden_size,
                                 size_t n_layers, uint64_t network_seed, const TrainingBudget& budget) {
    const std::string name = "learned_matching-" + hex(model_content_hash(model)) + "-h" +
                             std::to_string(hidden_size) + "-l" + std::to_string(n_layers) + "-s" +
                             std::to_string(network_seed) + "-n" + std::to_string(budget.samples) + "-t" +
                             std::to_string(budget.seed) + "-v" + std::to_string(budget.validation_shots) +
                             ".weights";
    return (std::filesystem::path(directory) / name).string();
}

std::string default_cache_directory() {
    if (const char* dir = std::getenv("VORNEX_CACHE_DIR"); dir != nullptr && *dir) return dir;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg)
        return (std::filesystem::path(xdg) / "vornex_decoder_v3").string();
    if (const char* home = std::getenv("HOME"); home != nullptr && *home)
        return (std::filesystem::path(home) / ".cache" / "vornex_decoder_v3").string();
    return "";
}

Result<bool> train_or_load(LearnedMatchingDecoder& decoder, const DetectorErrorModel& model, size_t hidden_size,
                           size_t n_layers, uint64_t network_seed, const TrainingBudget& budget,
                           const std::string& directory, ProgressSink* progress) {
    if (budget.samples == 0) return false;
    const std::string path =
        directory.empty() ? "" : trained_network_path(directory, model, hidden_size, n_layers, network_seed, budget);
    std::error_code ec;
    if (!path.empty() && std::filesystem::is_regular_file(path, ec) && decoder.load_weights(path)) return true;
    if (auto trained = decoder.train(budget.samples, budget.seed, budget.validation_shots, progress); !trained)
        return trained.error();
    if (path.empty()) return false;
    // Written aside and renamed into place: concurrent compiles of the same
    // model each write whole files, and the last rename wins.
    std::filesystem::create_directories(directory, ec);
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    if (decoder.save_weights(temporary)) {
        std::filesystem::rename(temporary, path, ec);
        if (ec) std::filesystem::remove(temporary, ec);
    }
    return false;
}

}  // namespace vornex
