// Frames from the device: parsePacket on any bytes, with any count of bytes available and any
// output capacity, and buildPacket / parsePacket round trips.
//
// Input: available (u16, taken modulo the byte count + 1), capacity (u16, modulo 301), bytes.
// The bytes and the output live in heap blocks of exactly their size, so that any read or
// write past them is caught.
#include "fuzz_support.h"

#include "protocol/packet.h"

#include <memory>

namespace {

unsigned char checksumOf(const unsigned char *lenAndPayload, size_t count)
{
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += lenAndPayload[i];
    return static_cast<unsigned char>(~sum & 0xFF);
}

// The output as a terminated string: the payload up to its first zero byte, zeros after it.
void checkOutput(const char *output, const unsigned char *payload, size_t len)
{
    size_t i = 0;
    for (; i < len && payload[i] != 0; ++i)
        FUZZ_CHECK(static_cast<unsigned char>(output[i]) == payload[i], "payload byte " + std::to_string(i));
    for (; i <= len; ++i)
        FUZZ_CHECK(output[i] == '\0', "not zero-filled at " + std::to_string(i));
}

void parseAnyBytes(const std::vector<uint8_t> &bytes, size_t available, size_t capacity)
{
    std::unique_ptr<unsigned char[]> input(new unsigned char[available ? available : 1]);
    if (available)
        std::memcpy(input.get(), bytes.data(), available);
    std::unique_ptr<char[]> output(new char[capacity ? capacity : 1]);
    std::memset(output.get(), 0x5A, capacity ? capacity : 1);

    const int result = parsePacket(input.get(), available, capacity ? output.get() : nullptr, capacity);
    const std::string where = "available " + std::to_string(available) + " capacity " + std::to_string(capacity) +
                              " result " + std::to_string(result);

    const unsigned char *in = input.get();
    const size_t len = available >= 2 ? in[1] : 0;
    const bool valid = capacity > 0 && available >= FRAME_OVERHEAD && in[0] == STX && len + FRAME_OVERHEAD <= available &&
                       len + 1 <= capacity && checksumOf(in + 1, len + 1) == in[len + 2];

    FUZZ_CHECK(result == -1 || (result >= 0 && result <= 255), where);
    FUZZ_CHECK((result != -1) == valid, where);
    if (capacity > 0)
        FUZZ_CHECK(std::memchr(output.get(), '\0', capacity) != nullptr, "output not terminated: " + where);
    if (result == -1) {
        if (capacity > 0)
            FUZZ_CHECK(output[0] == '\0', "invalid frame left text: " + where);
        return;
    }
    FUZZ_CHECK(static_cast<size_t>(result) == len && len + 3 <= available && len + 1 <= capacity, where);
    checkOutput(output.get(), in + 2, len);

    // A payload without zero bytes survives as text, so building it again gives the same frame.
    if (std::memchr(in + 2, 0, len) == nullptr) {
        unsigned char frame[FRAME_BUFFER_SIZE + 3];
        int size = buildPacket(output.get(), result, frame);
        FUZZ_CHECK(size == result + FRAME_OVERHEAD && std::memcmp(frame, in, static_cast<size_t>(size)) == 0,
                   "round trip differs: " + where);
    }
}

// Any payload of up to 255 bytes: the built frame parses back, and is refused when one byte
// is cut off, when the output is one byte short, or when a payload or checksum byte changes.
void buildAndParse(const std::vector<uint8_t> &input, uint16_t choice)
{
    const size_t len = input.size() < 255 ? input.size() : 255;
    std::vector<uint8_t> bytes(input.begin(), input.begin() + static_cast<long>(len));
    bytes.reserve(1);   // never a null source, even for an empty payload
    const size_t frameSize = len + FRAME_OVERHEAD;
    std::unique_ptr<unsigned char[]> frame(new unsigned char[frameSize]);
    FUZZ_CHECK(buildPacket(bytes.data(), static_cast<int>(len), frame.get()) == static_cast<int>(frameSize),
               "buildPacket size");
    FUZZ_CHECK(frame[0] == STX && frame[1] == len && frame[len + 2] == checksumOf(frame.get() + 1, len + 1),
               "built frame layout");
    FUZZ_CHECK(std::memcmp(frame.get() + 2, bytes.data(), len) == 0, "built payload");

    std::unique_ptr<char[]> output(new char[len + 1]);
    FUZZ_CHECK(parsePacket(frame.get(), frameSize, output.get(), len + 1) == static_cast<int>(len), "parse of built frame");
    checkOutput(output.get(), frame.get() + 2, len);

    FUZZ_CHECK(parsePacket(frame.get(), frameSize - 1, output.get(), len + 1) == -1, "incomplete frame accepted");
    if (len > 0)
        FUZZ_CHECK(parsePacket(frame.get(), frameSize, output.get(), len) == -1, "payload overflowing output accepted");

    const size_t at = 2 + choice % (len + 1);   // a payload byte or the checksum
    frame[at] = static_cast<unsigned char>(frame[at] ^ (1 + (choice >> 8) % 255));
    FUZZ_CHECK(parsePacket(frame.get(), frameSize, output.get(), len + 1) == -1,
               "corrupted byte " + std::to_string(at) + " accepted");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputReader in(data, size);
    const uint16_t availableChoice = in.u16();
    const uint16_t capacityChoice = in.u16();
    const std::vector<uint8_t> bytes = in.rest();

    parseAnyBytes(bytes, availableChoice % (bytes.size() + 1), capacityChoice % 301);
    buildAndParse(bytes, static_cast<uint16_t>(availableChoice ^ capacityChoice));
    return 0;
}
