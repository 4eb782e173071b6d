#include "kplx/windows_executable.h"

#include "kplx/device_text.h"

#include <cstdio>

namespace kplx {

namespace {

constexpr size_t kDosHeaderBytes = 64;   // IMAGE_DOS_HEADER
constexpr size_t kLfanewAt = 0x3C;       // its e_lfanew: where the PE header starts
constexpr size_t kShownBytes = 8;        // how much of a wrong start a message quotes

std::string hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string quoted(const uint8_t *bytes, size_t count)
{
    return "\"" + shownText(std::string_view(reinterpret_cast<const char *>(bytes), count)) + "\"";
}

ExecutableCheck verdict(ExecutableCheck::Verdict v, std::string found) { return ExecutableCheck{v, std::move(found)}; }

ExecutableCheck unreadable(const InputFile &file) { return verdict(ExecutableCheck::Verdict::unreadable, file.error()); }

ExecutableCheck other(std::string found) { return verdict(ExecutableCheck::Verdict::other, std::move(found)); }

}  // namespace

ExecutableCheck checkWindowsExecutable(InputFile &file)
{
    const uint64_t size = file.size();
    uint8_t head[kDosHeaderBytes] = {};
    const size_t headBytes = size < kDosHeaderBytes ? static_cast<size_t>(size) : kDosHeaderBytes;
    if (!file.readAt(0, head, headBytes))
        return unreadable(file);
    if (headBytes == 0)
        return other("it is empty");
    if (headBytes < 2 || head[0] != 'M' || head[1] != 'Z')
        return other("it begins " + quoted(head, headBytes < kShownBytes ? headBytes : kShownBytes) +
                     ", not with an \"MZ\" header");
    if (headBytes < kDosHeaderBytes)
        return other("its \"MZ\" header is cut short: " + std::to_string(size) + " bytes, where the header has 64");

    const uint32_t lfanew = uint32_t{head[kLfanewAt]} | uint32_t{head[kLfanewAt + 1]} << 8 |
                            uint32_t{head[kLfanewAt + 2]} << 16 | uint32_t{head[kLfanewAt + 3]} << 24;
    if (uint64_t{lfanew} + 4 > size)
        return other("its \"MZ\" header puts the PE header at " + hex(lfanew) + ", beyond its " + std::to_string(size) +
                     " bytes");
    uint8_t signature[4] = {};
    if (!file.readAt(lfanew, signature, sizeof signature))
        return unreadable(file);
    if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0)
        return other("it has an \"MZ\" header but " + quoted(signature, sizeof signature) + " at " + hex(lfanew) +
                     " where a Windows program has \"PE\\x00\\x00\"");
    return verdict(ExecutableCheck::Verdict::windowsProgram, "");
}

}  // namespace kplx
