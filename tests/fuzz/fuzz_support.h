// Shared by the fuzz targets: invariant checks that abort (a crash to libFuzzer, a failure to
// the replay runner), a reader that turns the input into choices, and a fresh test host.
#pragma once

#include "app/messages.h"
#include "testhost.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

[[noreturn]] inline void fuzzFailed(const char *file, int line, const char *condition, const std::string &detail)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    if (!detail.empty())
        std::fprintf(stderr, "  %s\n", detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                    \
    do {                                                                 \
        if (!(condition))                                                \
            fuzzFailed(__FILE__, __LINE__, #condition, (detail));        \
    } while (0)

inline std::string hexBytes(const std::vector<uint8_t> &bytes, size_t max = 64)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        std::snprintf(b, sizeof b, "%02x ", bytes[i]);
        s += b;
    }
    if (bytes.size() > max)
        s += "...";
    return s;
}

// Consumes the input front to back; past the end every value is zero, so any input is usable.
class InputReader {
public:
    InputReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16()
    {
        uint16_t lo = byte();
        return static_cast<uint16_t>(lo | (byte() << 8));
    }
    std::vector<uint8_t> take(size_t n)
    {
        size_t k = n < size_ - pos_ ? n : size_ - pos_;
        std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + k);
        pos_ += k;
        return out;
    }
    std::vector<uint8_t> rest() { return take(size_ - pos_); }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// The utility's message texts, read from its .rc once: re-reading the file on every input
// would dominate the run.
struct MessageTexts {
    std::vector<std::pair<UINT, std::string>> byId;
    std::string text[MESSAGE_COUNT];
};

inline const MessageTexts &messageTexts()
{
    static const MessageTexts texts = [] {
        MessageTexts t;
        testhost::reset();
        if (!testhost::loadStringTable(KPLX_RC_FILE)) {
            std::fprintf(stderr, "cannot read the string table %s\n", KPLX_RC_FILE);
            std::abort();
        }
        for (int i = 0; i < MESSAGE_COUNT; ++i) {
            char buffer[MESSAGE_BUFFER_SIZE];
            LoadStringA(nullptr, MessageCatalogue[i], buffer, sizeof buffer);
            t.text[i] = buffer;
            if (buffer[0] != '\0')
                t.byId.emplace_back(MessageCatalogue[i], buffer);
        }
        return t;
    }();
    return texts;
}

inline const std::string &messageText(int number)
{
    return messageTexts().text[number];
}

inline void freshHost()
{
    const MessageTexts &texts = messageTexts();
    testhost::reset();
    for (const auto &entry : texts.byId)
        testhost::setString(entry.first, entry.second);
    std::memcpy(titleText, "Quorvel KPLX Meter", sizeof "Quorvel KPLX Meter");
}

inline std::vector<std::string> boxTexts()
{
    std::vector<std::string> texts;
    for (const auto &b : testhost::messageBoxes())
        texts.push_back(b.text);
    return texts;
}

inline std::string joined(const std::vector<std::string> &texts)
{
    std::string s;
    for (const auto &t : texts)
        s += "[" + t + "] ";
    return s;
}
