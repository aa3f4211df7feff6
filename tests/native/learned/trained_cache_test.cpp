#include "learned/trained_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "dem/dem_reader.h"

namespace vornex {
namespace {

namespace fs = std::filesystem;

// A repetition-code memory with decomposed errors, small enough to train in
// a blink; `p` tells two models apart.
std::string model_text(double p) {
    std::string text;
    for (int t = 0; t < 3; ++t)
        for (int i = 0; i < 4; ++i) {
            const std::string d = "D" + std::to_string(4 * t + i);
            text += "error(" + std::to_string(p) + ") " + d + (i < 3 ? " D" + std::to_string(4 * t + i + 1) : " L0") + "\n";
            if (t < 2) text += "error(0.02) " + d + " D" + std::to_string(4 * (t + 1) + i) + "\n";
            if (t < 2 && i < 3)
                text += "error(0.01) " + d + " D" + std::to_string(4 * t + i + 1) + " ^ D" +
                        std::to_string(4 * t + i + 1) + " D" + std::to_string(4 * (t + 1) + i + 1) + "\n";
        }
    return text + "error(0.03) D0\n";
}

struct Build {
    LearnedMatchingDecoder decoder;
    bool loaded;
};

Build build(const DetectorErrorModel& model, const fs::path& dir) {
    auto decoder = LearnedMatchingDecoder::from_model(model, 8, 1, 3).value();
    const bool loaded = train_or_load(decoder, model, 8, 1, 3, {2000, 5, 400}, dir.string()).value();
    return {std::move(decoder), loaded};
}

// A second build of a model loads what the first trained; another model
// has its own file and trains; the same model written differently shares
// the file; a file that does not load is ignored and replaced.
TEST(TrainedCache, KeyedByModelContentAndRebuiltWhenCorrupt) {
    const fs::path dir = fs::temp_directory_path() / ("vornex_trained_cache_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const auto a = read_detector_error_model(model_text(0.05)).value();
    const auto a_again = read_detector_error_model("# the same errors\n" + model_text(0.05)).value();
    const auto b = read_detector_error_model(model_text(0.06)).value();
    const std::string path_a = trained_network_path(dir.string(), a, 8, 1, 3, {2000, 5, 400});
    EXPECT_EQ(trained_network_path(dir.string(), a_again, 8, 1, 3, {2000, 5, 400}), path_a);
    EXPECT_NE(trained_network_path(dir.string(), b, 8, 1, 3, {2000, 5, 400}), path_a);
    EXPECT_NE(trained_network_path(dir.string(), a, 8, 1, 3, {2001, 5, 400}), path_a);

    const Build first = build(a, dir);
    EXPECT_FALSE(first.loaded);
    ASSERT_TRUE(fs::is_regular_file(path_a));
    const Build second = build(a_again, dir);
    EXPECT_TRUE(second.loaded);
    EXPECT_TRUE(second.decoder.network().same_weights(first.decoder.network()));
    EXPECT_FALSE(build(b, dir).loaded);

    std::ofstream(path_a, std::ios::trunc) << "not a network";
    const Build rebuilt = build(a, dir);
    EXPECT_FALSE(rebuilt.loaded);
    const Build reloaded = build(a, dir);
    EXPECT_TRUE(reloaded.loaded);
    EXPECT_TRUE(reloaded.decoder.network().same_weights(rebuilt.decoder.network()));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);  // no temporaries left
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vornex
