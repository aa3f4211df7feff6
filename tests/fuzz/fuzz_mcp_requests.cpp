// The tool server's request handling: line framing, request parsing,
// dispatch and the tools. The input is read three ways: as one raw line, as
// a stream framed into lines under a small cap, and as token picks that
// spell requests close to the protocol (methods, tools, arguments at and
// beyond their bounds). Checks: every answer is one line of JSON with
// "jsonrpc" 2.0 and exactly one of "result" and "error"; a request with an
// id gets an answer carrying that id, a notification none; tool results
// are consistent with their structured content; framing matches a plain
// split.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz_input.h"
#include "server/line_framer.h"
#include "server/mcp_server.h"

namespace {

using namespace vornex;
using nlohmann::json;
using nlohmann::ordered_json;

void require(bool condition) {
    if (!condition) std::abort();
}

template <size_t N>
const char* pick(fuzz::Input& in, const char* const (&options)[N]) {
    return options[in.below(N)];
}

// Stops a tool after a few progress reports, so that benchmarks stay short
// and the cancelled path is taken too.
class StopAfter final : public ProgressSink {
public:
    explicit StopAfter(uint64_t reports) : left_(reports) {}
    bool report(uint64_t done, uint64_t total) override {
        require(done < total);
        return left_-- > 0;
    }

private:
    uint64_t left_;
};

json check_answer(const std::string& answer) {
    require(answer.find('\n') == std::string::npos);
    const json a = json::parse(answer);  // throws (and so aborts) on anything but one JSON value
    require(a.at("jsonrpc") == "2.0" && a.contains("id"));
    require(a.contains("result") != a.contains("error"));
    if (a.contains("error")) require(a.at("error").at("code").is_number_integer());
    return a;
}

void check_tool_result(const json& result) {
    require(result.at("content").size() == 1 && result.at("content")[0].at("type") == "text");
    const std::string& text = result.at("content")[0].at("text").get_ref<const std::string&>();
    if (result.value("isError", false)) {
        require(!result.contains("structuredContent") && !text.empty());
        return;
    }
    const json& out = result.at("structuredContent");
    require(json::parse(text) == out && out.dump() == text);
    if (out.contains("correction")) {
        require(out.at("correction").size() == out.at("n_qubits").get<size_t>());
        for (const auto& bit : out.at("correction")) require(bit == 0 || bit == 1);
    }
    if (out.contains("predictions")) {
        require(out.at("predictions").size() == out.at("num_shots").get<size_t>());
        for (const auto& shot : out.at("predictions")) {
            require(shot.size() == out.at("num_observables").get<size_t>());
            for (const auto& bit : shot) require(bit == 0 || bit == 1);
        }
    }
}

// Answers a line as the loop does; a request's answer is checked against it.
void exercise(std::string_view line) {
    LineAction action = read_request_line(line);
    require(int(action.answer.has_value()) + int(action.request.has_value()) + int(action.cancel.has_value()) <= 1);
    if (action.answer) {
        require(check_answer(*action.answer).at("id").is_null());
        return;
    }
    if (!action.request) return;
    StopAfter sink(2);
    const json a = check_answer(answer_request(*action.request, &sink));
    require(a.at("id") == json(action.request->id));
    if (action.request->method == "tools/call" && a.contains("result")) check_tool_result(a.at("result"));
}

std::string number(fuzz::Input& in) {
    static const char* const kNumbers[] = {"0",   "1",    "2",          "3",       "5",       "7",
                                           "-1",  "-5",   "1.5",        "2e6",     "1048577", "255",
                                           "256", "4294967296", "18446744073709551615", "18446744073709551616",
                                           "null", "\"3\"", "[1]", "{}", "true", "1e400"};
    // The largest sizes in bounds build decoders of a million qubits: rare,
    // so that a run stays short.
    static const char* const kLargest[] = {"1048575", "1048576"};
    return in.below(256) == 0 ? pick(in, kLargest) : pick(in, kNumbers);
}

std::string bits(fuzz::Input& in, uint32_t n) {
    std::string text = "[";
    for (uint32_t i = 0; i < n; ++i) text += std::string(i ? "," : "") + (in.below(8) ? std::to_string(in.below(2)) : number(in));
    return text + "]";
}

std::string checks(fuzz::Input& in, uint32_t& n_checks) {
    n_checks = 0;
    if (in.below(16) == 0) return number(in);
    std::string text = "[";
    n_checks = in.below(7);
    for (uint32_t c = 0; c < n_checks; ++c) {
        text += c ? ",[" : "[";
        for (uint32_t k = 0, m = in.below(4); k < m; ++k)
            text += std::string(k ? "," : "") + (in.below(6) ? std::to_string(in.below(9)) : number(in));
        text += "]";
    }
    return text + "]";
}

// Small models, some that read and some that do not, and shots for them.
std::string model_text(fuzz::Input& in) {
    static const char* const kModels[] = {
        "\"error(0.1) D0 L0\\nerror(0.1) D0 D1\\nerror(0.2) D1\\n\"",
        "\"error(0.1) D0 D1 D2 L0\\n\"",
        "\"repeat 3 {\\nerror(0.1) D0 D1\\nshift_detectors 1\\n}\\nerror(0.1) D0 L1\\n\"",
        "\"error(0.6) D0 L0\\n\"",
        "\"error(0.1) L0\\n\"",
        "\"repeat 999999999 { error(0.1) D0 }\"",
        "\"error(0.1) D131071 L63\\n\"",
        "\"nope\"",
        "\"\"",
    };
    return in.below(8) ? pick(in, kModels) : number(in);
}

std::string shots(fuzz::Input& in, bool fired) {
    std::string text = "[";
    for (uint32_t s = 0, n = in.below(5); s < n; ++s)
        text += std::string(s ? "," : "") + (fired ? bits(in, in.below(3)) : bits(in, in.below(5)));
    return text + "]";
}

std::string arguments(fuzz::Input& in, uint32_t& n_checks) {
    static const char* const kNames[] = {"check_to_qubits", "syndrome", "n_qubits", "n_samples", "seed", "other",
                                         "detector_error_model", "detection_events", "fired_detectors", "decoder"};
    static const char* const kDecoders[] = {"\"matching\"", "\"union_find\"", "\"weighted_union_find\"",
                                            "\"x\"", "null"};
    std::string text = "{";
    for (uint32_t k = 0, n = in.below(7); k < n; ++k) {
        const char* name = pick(in, kNames);
        text += std::string(k ? "," : "") + "\"" + name + "\":";
        if (name == std::string("check_to_qubits")) {
            text += checks(in, n_checks);
        } else if (name == std::string("syndrome")) {
            text += bits(in, in.below(4) ? n_checks : in.below(9));
        } else if (name == std::string("detector_error_model")) {
            text += model_text(in);
        } else if (name == std::string("detection_events") || name == std::string("fired_detectors")) {
            text += shots(in, name == std::string("fired_detectors"));
        } else if (name == std::string("decoder")) {
            text += pick(in, kDecoders);
        } else {
            text += number(in);
        }
    }
    return text + "}";
}

std::string spelled_request(fuzz::Input& in) {
    static const char* const kMethods[] = {"initialize", "ping", "tools/list", "tools/call", "tools/call",
                                           "tools/call", "notifications/cancelled", "notifications/initialized",
                                           "nope"};
    static const char* const kTools[] = {"decode_syndrome", "benchmark_decoder", "get_decoder_info",
                                         "predict_observables", "predict_observables", "", "x"};
    static const char* const kIds[] = {"1", "\"a\"", "null", "[1,{\"b\":2}]", "-7", "1.5"};
    static const char* const kVersions[] = {"\"2024-11-05\"", "\"2025-11-25\"", "\"1999\"", "7"};
    const std::string method = pick(in, kMethods);
    std::string text = "{\"jsonrpc\":\"2.0\",\"method\":\"" + method + "\"";
    if (in.below(4)) text += std::string(",\"id\":") + pick(in, kIds);
    uint32_t n_checks = 0;
    if (method == "tools/call") {
        text += std::string(",\"params\":{\"name\":\"") + pick(in, kTools) + "\"";
        if (in.below(4) == 0) text += ",\"_meta\":{\"progressToken\":" + std::string(pick(in, kIds)) + "}";
        if (in.below(8)) text += ",\"arguments\":" + arguments(in, n_checks);
        text += "}";
    } else if (method == "initialize") {
        text += std::string(",\"params\":{\"protocolVersion\":") + pick(in, kVersions) + "}";
    } else if (method == "notifications/cancelled") {
        text += std::string(",\"params\":{\"requestId\":") + pick(in, kIds) + "}";
    }
    text += "}";
    // Now and then a cut or a stray byte, so that near-misses are parsed too.
    if (in.below(16) == 0) text.resize(in.below(static_cast<uint32_t>(text.size()) + 1));
    if (in.below(16) == 0) text.insert(in.below(static_cast<uint32_t>(text.size()) + 1), 1, static_cast<char>(in.byte()));
    return text;
}

void check_framing(std::string_view stream, fuzz::Input& in) {
    const size_t cap = in.below(24);
    std::vector<std::pair<std::string, bool>> framed, plain;
    LineFramer framer(cap);
    const LineSink sink = [&](std::string_view line, bool too_long) {
        framed.emplace_back(std::string(line), too_long);
        return ok_status();
    };
    for (size_t at = 0; at < stream.size();) {
        const size_t n = std::min<size_t>(stream.size() - at, 1 + in.below(64));
        require(framer.feed(stream.substr(at, n), sink).ok());
        at += n;
    }
    require(framer.finish(sink).ok());
    for (size_t start = 0; start < stream.size();) {
        size_t nl = stream.find('\n', start);
        if (nl == std::string_view::npos) nl = stream.size();
        std::string line(stream.substr(start, nl - start));
        const bool too_long = line.size() > cap;
        if (too_long) line.clear();
        else if (!line.empty() && line.back() == '\r') line.pop_back();
        plain.emplace_back(std::move(line), too_long);
        start = nl + 1;
    }
    require(framed == plain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    exercise(raw);
    fuzz::Input chunks(data, size);
    check_framing(raw, chunks);
    fuzz::Input in(data, size);
    for (int k = 0; k < 4 && !in.empty(); ++k) exercise(spelled_request(in));
    return 0;
}
