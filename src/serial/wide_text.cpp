#include "serial/wide_text.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace mbslave {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool isHighSurrogate(char32_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }

char* appendUtf8(char* out, char32_t code) noexcept {
    auto byte = [](char32_t value) { return static_cast<char>(static_cast<std::uint8_t>(value)); };
    if (code < 0x80) {
        *out++ = byte(code);
    } else if (code < 0x800) {
        *out++ = byte(0xC0 | (code >> 6));
        *out++ = byte(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = byte(0xE0 | (code >> 12));
        *out++ = byte(0x80 | ((code >> 6) & 0x3F));
        *out++ = byte(0x80 | (code & 0x3F));
    } else {
        *out++ = byte(0xF0 | (code >> 18));
        *out++ = byte(0x80 | ((code >> 12) & 0x3F));
        *out++ = byte(0x80 | ((code >> 6) & 0x3F));
        *out++ = byte(0x80 | (code & 0x3F));
    }
    return out;
}

}  // namespace

HeapText toUtf8(const MbWideChar* text) noexcept {
    std::size_t units = 0;
    if (text != nullptr) {
        while (text[units] != 0) ++units;
    }
    // A unit takes at most 3 bytes; a surrogate pair takes 4 for 2 units.
    HeapText result(static_cast<char*>(std::malloc(3 * units + 1)));
    if (result == nullptr) return nullptr;

    char* out = result.get();
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit = static_cast<std::uint16_t>(text[i]);
        char32_t code = unit;
        if (isHighSurrogate(unit) && i + 1 < units &&
            isLowSurrogate(static_cast<std::uint16_t>(text[i + 1]))) {
            const char32_t low = static_cast<std::uint16_t>(text[++i]);
            code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            code = kReplacementCharacter;
        }
        out = appendUtf8(out, code);
    }
    *out = '\0';
    return result;
}

}  // namespace mbslave
