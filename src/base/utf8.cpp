#include "base/utf8.h"

namespace vornex {
namespace {

bool is_unicode_space(uint32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

}  // namespace


size_t utf8_char(std::string_view text, size_t i, uint32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t b0 = byte(i);
    size_t len = 0;
    uint32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > text.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

size_t first_invalid_utf8(std::string_view text) {
    uint32_t cp = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t len = utf8_char(text, i, cp);
        if (len == 0) return i;
        i += len;
    }
    return std::string_view::npos;
}

bool is_valid_utf8(std::string_view text) { return first_invalid_utf8(text) == std::string_view::npos; }

std::string utf8_lossy(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    uint32_t cp = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t len = utf8_char(text, i, cp);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            i += 1;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

bool is_blank(std::string_view text) {
    uint32_t cp = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t len = utf8_char(text, i, cp);
        if (len == 0 || !is_unicode_space(cp)) return false;
        i += len;
    }
    return true;
}

}  // namespace vornex
