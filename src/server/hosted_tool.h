// Tools whose work the program hosting the server does (the Python package
// adds tools that need libraries the native core cannot call). The server
// lists them after its own and hands them their calls on its answering
// thread; everything else (framing, order, cancellation, progress) stays
// the server's.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/progress.h"

namespace vornex {

// What a hosted tool made of one call.
struct HostedToolOutcome {
    enum class Kind {
        Output,     // `text` is the output object as JSON
        Failure,    // a well-formed call failed: `text` is the message of an isError result
        Malformed,  // arguments outside the schema: `text` is the message of an invalid-params answer
    };
    Kind kind = Kind::Failure;
    std::string text;
};

struct HostedTool {
    // The tool's "tools/list" entry: name, description, inputSchema, outputSchema.
    nlohmann::json listing;
    // Runs one call on the call's "arguments" as JSON text; reports to
    // `progress` (never null) and stops when it says so.
    std::function<HostedToolOutcome(const std::string& arguments, ProgressSink& progress)> run;
};

using HostedTools = std::vector<HostedTool>;

}  // namespace vornex
