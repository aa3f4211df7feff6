#include "dem/dem_syntax.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace vornex {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Shows a stretch of the input in a message without flooding it.
std::string excerpt(std::string_view text) {
    constexpr size_t kMax = 24;
    std::string out(text.substr(0, kMax));
    if (text.size() > kMax) out += "...";
    return out;
}

// Reads one line at a time; every failure carries the line number.
class LineParser {
public:
    LineParser(std::string_view line, uint32_t line_number, DemSyntax& out)
        : s_(line), line_(line_number), out_(out) {}

    // Parses one non-blank line. `depth` is the number of open repeat blocks;
    // sets `closes_block` / `opens_block` for '}' and 'repeat N {'.
    Status parse(bool& closes_block, bool& opens_block) {
        closes_block = opens_block = false;
        skip_space();
        if (at_end()) return ok_status();
        if (peek() == '}') {
            ++pos_;
            skip_space();
            if (!at_end()) return fail("unexpected '" + excerpt(rest()) + "' after '}'");
            closes_block = true;
            return ok_status();
        }
        DemOp op = DemOp::Error;
        if (auto status = read_name(op); !status) return status;
        if (auto status = skip_tag(); !status) return status;
        DemInstruction ins{op, line_, size32(out_.args), 0, size32(out_.targets), 0};
        if (auto status = read_args(); !status) return status;
        ins.arg_end = size32(out_.args);
        if (auto status = read_targets(op, opens_block); !status) return status;
        ins.target_end = size32(out_.targets);
        if (auto status = check_shape(ins, opens_block); !status) return status;
        out_.instructions.push_back(ins);
        return ok_status();
    }

private:
    static uint32_t size32(const auto& v) { return static_cast<uint32_t>(v.size()); }
    bool at_end() const { return pos_ >= s_.size() || s_[pos_] == '#'; }
    char peek() const { return s_[pos_]; }
    std::string_view rest() const {
        std::string_view r = s_.substr(pos_);
        if (auto hash = r.find('#'); hash != std::string_view::npos) r = r.substr(0, hash);
        while (!r.empty() && is_space(r.back())) r.remove_suffix(1);
        return r;
    }
    void skip_space() {
        while (pos_ < s_.size() && is_space(s_[pos_])) ++pos_;
    }
    Error fail(const std::string& what) const { return value_error("line " + std::to_string(line_) + ": " + what); }

    Status read_name(DemOp& op) {
        const size_t start = pos_;
        while (pos_ < s_.size() && ((lower(s_[pos_]) >= 'a' && lower(s_[pos_]) <= 'z') || s_[pos_] == '_')) ++pos_;
        std::string name(s_.substr(start, pos_ - start));
        for (char& c : name) c = lower(c);
        if (name == "error") {
            op = DemOp::Error;
        } else if (name == "detector") {
            op = DemOp::Detector;
        } else if (name == "logical_observable") {
            op = DemOp::LogicalObservable;
        } else if (name == "shift_detectors") {
            op = DemOp::ShiftDetectors;
        } else if (name == "repeat") {
            op = DemOp::Repeat;
        } else {
            std::string_view word = s_.substr(start);
            word = word.substr(0, std::min(word.find_first_of(" \t\r(["), word.size()));
            return fail("unknown instruction '" + excerpt(word) + "'");
        }
        return ok_status();
    }

    // Tags annotate an instruction for other tools; they do not change it.
    Status skip_tag() {
        if (pos_ >= s_.size() || s_[pos_] != '[') return ok_status();
        const size_t close = s_.find(']', pos_);
        if (close == std::string_view::npos) return fail("tag '[' is never closed with ']'");
        pos_ = close + 1;
        return ok_status();
    }

    Status read_args() {
        if (pos_ >= s_.size() || s_[pos_] != '(') return ok_status();
        ++pos_;
        skip_space();
        if (pos_ < s_.size() && s_[pos_] == ')') {
            ++pos_;
            return ok_status();
        }
        while (true) {
            skip_space();
            double value = 0;
            if (auto status = read_number(value); !status) return status;
            out_.args.push_back(value);
            skip_space();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ')') {
                ++pos_;
                return ok_status();
            }
            return fail("expected ',' or ')' in the arguments, got '" + excerpt(s_.substr(pos_)) + "'");
        }
    }

    Status read_number(double& value) {
        const char* begin = s_.data() + pos_;
        const char* end = s_.data() + s_.size();
        size_t length = 0;
        while (pos_ + length < s_.size() && s_[pos_ + length] != ',' && s_[pos_ + length] != ')' &&
               !is_space(s_[pos_ + length]) && s_[pos_ + length] != '#')
            ++length;
        const std::string_view token(begin, length);
        // Hexadecimal, infinities and NaN are not numbers of this format.
        const bool plain = length > 0 && (is_digit(token[0]) || token[0] == '.' || token[0] == '-') &&
                           token.find_first_of("xXiInN") == std::string_view::npos;
        auto [ptr, ec] = std::from_chars(begin, std::min(end, begin + length), value);
        if (!plain || ptr != begin + length || (ec != std::errc() && ec != std::errc::result_out_of_range))
            return fail("expected a number, got '" + excerpt(token) + "'");
        if (ec == std::errc::result_out_of_range) {
            // Underflow reads as zero; overflow is not a real number.
            value = std::strtod(std::string(token).c_str(), nullptr);
            if (!std::isfinite(value)) return fail("number '" + excerpt(token) + "' is out of range");
        }
        pos_ += length;
        return ok_status();
    }

    Status read_unsigned(uint64_t limit, const char* what, uint64_t& value) {
        if (pos_ >= s_.size() || !is_digit(s_[pos_]))
            return fail(std::string("expected ") + what + ", got '" + excerpt(s_.substr(pos_)) + "'");
        value = 0;
        while (pos_ < s_.size() && is_digit(s_[pos_])) {
            const uint64_t digit = static_cast<uint64_t>(s_[pos_] - '0');
            // Checked before the step: value * 10 + digit >= limit, without
            // forming a product that could wrap past 2^64.
            if (value > (limit - 1 - digit) / 10)
                return fail(std::string(what) + " is too large (must be below " + std::to_string(limit) + ")");
            value = value * 10 + digit;
            ++pos_;
        }
        return ok_status();
    }

    Status read_targets(DemOp op, bool& opens_block) {
        while (true) {
            const size_t before = pos_;
            skip_space();
            if (at_end()) return ok_status();
            if (pos_ == before) return fail("targets must be separated by spaces near '" + excerpt(rest()) + "'");
            const char c = lower(s_[pos_]);
            uint64_t value = 0;
            if (c == '{') {
                ++pos_;
                skip_space();
                if (op != DemOp::Repeat) return fail("'{' only opens a repeat block");
                if (!at_end()) return fail("unexpected '" + excerpt(rest()) + "' after '{'");
                opens_block = true;
                return ok_status();
            } else if (c == '^') {
                ++pos_;
                out_.targets.push_back(uint64_t{2} << 62);
            } else if (c == 'd' || c == 'l') {
                ++pos_;
                const bool detector = c == 'd';
                if (auto status = read_unsigned(kDemMaxId, detector ? "a detector id" : "an observable id", value);
                    !status)
                    return status;
                out_.targets.push_back(detector ? value : (uint64_t{1} << 62) | value);
            } else if (is_digit(c)) {
                if (auto status = read_unsigned(kDemTargetValueMask, "a count", value); !status) return status;
                out_.targets.push_back((uint64_t{3} << 62) | value);
            } else {
                return fail("unexpected target '" + excerpt(rest().substr(0, rest().find_first_of(" \t"))) + "'");
            }
            if (pos_ < s_.size() && !is_space(s_[pos_]) && s_[pos_] != '#')
                return fail("targets must be separated by spaces near '" + excerpt(rest()) + "'");
        }
    }

    size_t count(const DemInstruction& ins, DemTargetKind kind) const {
        size_t n = 0;
        for (uint32_t i = ins.target_begin; i < ins.target_end; ++i) n += dem_target_kind(out_.targets[i]) == kind;
        return n;
    }

    // The instructions whose only target is one of a kind.
    Status one_target(const DemInstruction& ins, DemTargetKind kind, const char* message) const {
        if (ins.target_end - ins.target_begin != 1 || dem_target_kind(out_.targets[ins.target_begin]) != kind)
            return fail(message);
        return ok_status();
    }

    Status check_shape(DemInstruction& ins, bool opens_block) {
        const size_t n_args = ins.arg_end - ins.arg_begin;
        const size_t n_targets = ins.target_end - ins.target_begin;
        auto kind_at = [&](size_t i) { return dem_target_kind(out_.targets[ins.target_begin + i]); };
        switch (ins.op) {
            case DemOp::Error: {
                if (n_args != 1)
                    return fail("'error' takes one probability argument, got " + std::to_string(n_args));
                const double p = out_.args[ins.arg_begin];
                if (!(p >= 0 && p <= 1)) return fail("'error' probability " + excerpt(std::to_string(p)) + " is outside [0, 1]");
                if (count(ins, DemTargetKind::Number))
                    return fail("'error' takes detector (D#), observable (L#) and '^' targets only");
                for (size_t i = 0; i < n_targets; ++i) {
                    if (kind_at(i) != DemTargetKind::Separator) continue;
                    if (i == 0 || i + 1 == n_targets) return fail("'^' must stand between targets of 'error'");
                    if (kind_at(i - 1) == DemTargetKind::Separator) return fail("'error' has adjacent separators '^ ^'");
                }
                return ok_status();
            }
            case DemOp::Detector:
                return one_target(ins, DemTargetKind::Detector, "'detector' takes exactly one detector target (D#)");
            case DemOp::LogicalObservable:
                if (n_args) return fail("'logical_observable' takes no arguments");
                return one_target(ins, DemTargetKind::Observable,
                                  "'logical_observable' takes exactly one observable target (L#)");
            case DemOp::ShiftDetectors:
                return one_target(ins, DemTargetKind::Number, "'shift_detectors' takes exactly one count target");
            case DemOp::Repeat:
                if (n_args) return fail("'repeat' takes no arguments");
                if (auto st = one_target(ins, DemTargetKind::Number, "'repeat' takes exactly one count followed by '{'");
                    !st)
                    return st;
                if (!opens_block) return fail("'repeat' must end its line with '{'");
                ins.repeat_count = dem_target_value(out_.targets[ins.target_begin]);
                return ok_status();
        }
        return ok_status();
    }

    std::string_view s_;
    uint32_t line_;
    DemSyntax& out_;
    size_t pos_ = 0;
};

}  // namespace

Result<DemSyntax> parse_dem_syntax(std::string_view text) {
    DemSyntax syntax;
    // Open repeat instructions: index into instructions, for body_end and messages.
    std::vector<uint32_t> open_blocks;
    uint32_t line_number = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        ++line_number;
        if (line_number == UINT32_MAX) return value_error("model text has too many lines");
        bool closes = false, opens = false;
        LineParser parser(text.substr(start, end - start), line_number, syntax);
        if (auto status = parser.parse(closes, opens); !status) return status.error();
        if (closes) {
            if (open_blocks.empty())
                return value_error("line " + std::to_string(line_number) + ": '}' without an open repeat block");
            syntax.instructions[open_blocks.back()].body_end = static_cast<uint32_t>(syntax.instructions.size());
            open_blocks.pop_back();
        }
        if (opens) {
            if (open_blocks.size() == kDemMaxNesting)
                return value_error("line " + std::to_string(line_number) + ": repeat blocks nest deeper than " +
                                   std::to_string(kDemMaxNesting));
            open_blocks.push_back(static_cast<uint32_t>(syntax.instructions.size() - 1));
        }
        if (syntax.instructions.size() >= UINT32_MAX - 1 || syntax.targets.size() >= UINT32_MAX - 1)
            return value_error("line " + std::to_string(line_number) + ": model text is too large");
        start = end + 1;
    }
    if (!open_blocks.empty()) {
        return value_error("line " + std::to_string(syntax.instructions[open_blocks.back()].line) +
                           ": repeat block is never closed with '}'");
    }
    return syntax;
}

}  // namespace vornex
