#include "kplx/device_text.h"

#include <cstdint>

namespace kplx {

namespace {

// The length of the well-formed UTF-8 sequence at s[i] (overlong forms, surrogates and values
// beyond U+10FFFF are not), or 0.
size_t utf8Length(std::string_view s, size_t i)
{
    const auto at = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t b = at(i);
    size_t n = 0;
    uint8_t low = 0x80, high = 0xBF;   // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size() || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return n;
}

void appendEscaped(std::string &out, uint8_t b)
{
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[b >> 4];
    out += digits[b & 0xF];
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string shownText(std::string_view raw)
{
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size();) {
        const uint8_t b = static_cast<uint8_t>(raw[i]);
        if (b < 0x80) {
            if (b < 0x20 || b == 0x7F || b == '\\')
                appendEscaped(out, b);
            else
                out += static_cast<char>(b);
            ++i;
            continue;
        }
        const size_t n = utf8Length(raw, i);
        // C1 controls (U+0080 .. U+009F) act on some terminals as ESC sequences do.
        const bool c1 = n == 2 && b == 0xC2 && static_cast<uint8_t>(raw[i + 1]) < 0xA0;
        if (n == 0 || c1) {
            appendEscaped(out, b);
            ++i;
            continue;
        }
        out.append(raw.substr(i, n));
        i += n;
    }
    return out;
}

std::string rawText(std::string_view shown)
{
    std::string out;
    out.reserve(shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\\' && i + 3 < shown.size() && shown[i + 1] == 'x' && hexValue(shown[i + 2]) >= 0 &&
            hexValue(shown[i + 3]) >= 0) {
            out += static_cast<char>(hexValue(shown[i + 2]) * 16 + hexValue(shown[i + 3]));
            i += 3;
            continue;
        }
        out += shown[i];
    }
    return out;
}

}  // namespace kplx
