#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs (corpus/<target>/) and the regression inputs
(regressions/<target>/): inputs that once broke an invariant, replayed by ctest.

Each input follows the layout described at the top of its target's source. Run it from
anywhere; it rewrites both folders in full:  python3 tests/fuzz/make_seeds.py
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
STX, ACK, NAK = 0x02, 0x06, 0x15


def frame(payload):
    payload = bytes(payload)
    return bytes([STX, len(payload)]) + payload + bytes([~(len(payload) + sum(payload)) & 0xFF])


def database(n):
    x = 0x12345678
    out = bytearray()
    for _ in range(n):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out.append(x & 0xFF)
    return bytes(out)


def trailer(n, tag=b"DATA"):
    return struct.pack("<I", n) + tag


def packed(program, n):
    return bytes([0x90]) * program + database(n) + trailer(n)


def trailer_seeds():
    # options: bits 0-1 read fault, bit 2 size lie of (bits 4-7) - 8, bit 3 quiet
    yield "valid_300", bytes([0]) + packed(64, 300)
    yield "valid_one_block", bytes([0]) + packed(10, 128)
    yield "whole_file_is_database", bytes([0]) + database(128) + trailer(128)
    yield "last_block_ends_at_file_end", bytes([0]) + packed(5, 248)
    yield "database_127_bytes", bytes([0]) + packed(64, 127)
    yield "size_reaches_before_file", bytes([0]) + bytes(100) + trailer(101)
    yield "size_all_ones", bytes([0]) + bytes(100) + trailer(0xFFFFFFFF)
    yield "tag_lower_case", bytes([0]) + database(200) + trailer(200, b"data")
    yield "tag_only", bytes([0]) + b"DATA"
    yield "empty_file", bytes([0])
    yield "read_fails", bytes([1]) + packed(64, 300)
    yield "read_fails_quiet", bytes([1 | 8]) + packed(64, 300)
    yield "short_reads", bytes([2]) + packed(64, 300)
    yield "size_claims_7_more", bytes([4 | (15 << 4)]) + packed(64, 300)
    yield "size_claims_8_less", bytes([4]) + packed(64, 300)


def packet_seeds():
    # u16 available (mod bytes + 1), u16 capacity (mod 301), bytes
    def seed(data, available=None, capacity=64):
        available = len(data) if available is None else available
        return struct.pack("<HH", available, capacity) + bytes(data)

    version = frame(b"VERSION")
    yield "version_frame", seed(version)
    yield "success_then_junk", seed(frame(b"SUCCESS") + b"\x99\x99")
    yield "empty_payload", seed(frame(b""))
    yield "zero_in_payload", seed(frame(b"AB\x00CD"))
    yield "bad_checksum", seed(version[:-1] + bytes([version[-1] ^ 1]))
    yield "one_byte_short", seed(version, len(version) - 1)
    yield "capacity_exact", seed(version, capacity=8)
    yield "capacity_one_short", seed(version, capacity=7)
    yield "capacity_zero", seed(version, capacity=0)
    yield "block_of_128", seed(frame(database(128)), capacity=300)
    yield "not_stx", seed(bytes([0x03]) + version[1:])
    yield "ack_alone", seed(bytes([ACK]))


def command_line_seeds():
    # options: bits 0-1 file (none, named, fixed), bit 2 quiet, bits 3-7 directory; capacity; line
    def seed(line, options=1, capacity=0):
        return bytes([options, capacity]) + line.encode("latin-1")

    yield "quoted_with_quiet", seed('"C:\\Program Files\\Quorvel\\kplx.exe" +Q')
    yield "quoted_no_blank", seed('"C:\\Program Files\\kplx.exe"+Q')
    yield "unquoted_relative", seed("kplx-loader.exe +Q extra")
    yield "no_extension", seed("kplx-loader")
    yield "upper_case_extension", seed('"C:\\TOOLS\\KPLX.EXE"')
    yield "unc_path", seed("\\\\server\\share\\kplx.exe")
    yield "unterminated_quote", seed('"C:\\a b\\kplx.exe +Q')
    yield "only_quotes", seed('""  +Q')
    yield "blanks_inside_quotes", seed('"kplx.exe   " x')
    yield "plus_runs", seed("kplx.exe ++Q +++Q", capacity=3)
    yield "tab_and_control", seed("kplx.exe\t\x01+Q")
    yield "high_bytes", seed("k\xe9plx\xff.exe +Q")
    yield "line_of_600", seed('"C:\\kplx.exe" ' + "x" * 586)
    yield "line_of_511", seed("C:\\" + "p" * 504 + ".exe")
    yield "empty_line", seed("", options=0)
    yield "missing_file_quiet", seed("kplx.exe +Q", options=4)
    yield "other_file_present", seed("kplx.exe", options=2)
    # directory "C:\" + 17 * 29 characters: a 10-letter name fits its buffer with ".exe",
    # an 11-letter one does not
    yield "directory_fits", seed("abcdefghij", options=1 | (29 << 3))
    yield "directory_one_too_long", seed("abcdefghijk", options=1 | (29 << 3))


NONE = 0xFF


def transfer_seed(n, raw=NONE, nak=NONE, silent=NONE, unplug=NONE, pieces=(), reply=b""):
    # u16 size (128 + v % 873), raw/nak/silent/unplug frames, pieces, raw reply
    return struct.pack("<H", n - 128) + bytes([raw, nak, silent, unplug, len(pieces)] + list(pieces)) + bytes(reply)


def transfer_seeds():
    # 300 bytes: DATABASE, blocks 0-2, END (frames 0-4)
    yield "healthy_300", transfer_seed(300)
    yield "healthy_1000", transfer_seed(1000)
    yield "healthy_128_in_pieces", transfer_seed(128, pieces=(1, 1))
    yield "end_reply_in_pieces", transfer_seed(300, pieces=(2, 3))
    yield "nak_to_database", transfer_seed(300, nak=0)
    yield "nak_to_block", transfer_seed(300, nak=2)
    yield "raw_nak_to_block", transfer_seed(300, raw=1, reply=[NAK])
    yield "raw_nothing_to_block", transfer_seed(300, raw=2)
    yield "silent_from_block", transfer_seed(300, silent=3)
    yield "silent_at_end", transfer_seed(300, silent=4)
    yield "unplugged_at_block", transfer_seed(300, unplug=3)
    yield "unplugged_at_end", transfer_seed(300, unplug=4)
    yield "end_ack_then_junk", transfer_seed(300, raw=4, reply=[ACK, 0x99, 0x99])
    yield "end_nak_then_stx", transfer_seed(300, raw=4, reply=[NAK, STX, 0])
    yield "end_success_after_junk", transfer_seed(300, raw=4, reply=[NAK, 0, 0] + list(b"SUCCESS"))
    yield "end_other_letters", transfer_seed(300, raw=4, reply=[NAK, 0, 0] + list(b"FAILURE"))
    yield "end_nak_alone", transfer_seed(300, raw=4, reply=[NAK])


def transfer_regressions():
    # A reply longer than the one byte read stays queued and is taken as the next frame's.
    yield "extra_byte_read_as_next_reply", transfer_seed(300, raw=1, reply=[ACK, NAK])
    # Queued ACKs stand in for the NAK the meter gave block 1: "Transfer Complete!" though
    # the meter dropped the block.
    yield "queued_acks_hide_a_nak", transfer_seed(300, raw=1, nak=2, reply=[ACK] * 4)
    # The same with a meter that stops answering: complete though nothing after block 0 was
    # acknowledged and END never reached the meter's answer.
    yield "queued_acks_hide_a_silent_meter", transfer_seed(300, raw=1, silent=2, reply=[ACK] * 5)


def version_meter(reply, pieces=()):
    return bytes([len(reply), len(pieces)] + list(pieces)) + bytes(reply)


def answer(text):
    return bytes([ACK]) + frame(text)


def version_seeds():
    # layout: meters 1 + b % 3, cable at (b >> 2) % 4 (none past the meters)
    one = 9   # one meter, no cable
    yield "one_meter", bytes([one]) + version_meter(answer(b"KPLX Meter V2.10"))
    yield "pieces_of_3_and_10", bytes([one]) + version_meter(answer(b"KPLX V2.1"), (3, 10))
    yield "pieces_of_one", bytes([one]) + version_meter(answer(b"V2"), (1, 1, 1, 1, 1))
    yield "nak", bytes([one]) + version_meter([NAK])
    yield "no_answer", bytes([one]) + version_meter(b"")
    bad = bytearray(answer(b"KPLX Meter V2.10"))
    bad[-1] ^= 1
    yield "bad_checksum", bytes([one]) + version_meter(bad)
    yield "no_ack", bytes([one]) + version_meter(b"\x00" + answer(b"KPLX Meter V2.10")[1:])
    yield "empty_version", bytes([one]) + version_meter([ACK, STX, 0, 0xFF])
    yield "text_of_63", bytes([one]) + version_meter(answer(b"a" * 63))
    yield "text_of_64", bytes([one]) + version_meter(answer(b"b" * 64))
    yield "frame_beyond_reply", bytes([one]) + version_meter(bytes([ACK, STX, 0x7F]) + b"x" * 137)
    yield "zero_in_text", bytes([one]) + version_meter(answer(b"KP\x00LX"))
    yield "long_trailing_junk", bytes([one]) + version_meter(answer(b"KPLX") + b"j" * 120)
    # three meters and a cable in second place
    yield "three_meters_and_a_cable", bytes([5]) + version_meter(answer(b"KPLX Meter V2.10")) + \
        version_meter([NAK]) + version_meter(answer(b"KPLX Meter V1.07"), (4, 16))


def version_regressions():
    one = 9
    # A valid answer whose first read brings 5 bytes or more but not the whole frame.
    yield "answer_split_after_five_bytes", bytes([one]) + version_meter(answer(b"KPLX Meter V2.10"), (10,))
    # The bridge's 62-byte USB packets: a 60-character version never arrives in one read.
    yield "long_version_in_usb_packets", bytes([one]) + version_meter(answer(b"V" * 60), (62,))


def ft232r_checksum(image):
    total = 0xAAAA
    for i in range(0, 126, 2):
        total ^= image[i] | image[i + 1] << 8
        total = ((total << 1) | (total >> 15)) & 0xFFFF
    return total


def ft232r_image(strings=("FTDI", "Quorvel KPLX", "KP000001"), invert=0x10, cbus4=5, lengths=(None, None, None)):
    """A meter's FT232R EEPROM as the emulated chip stores it; `lengths` overrides slot length bytes."""
    image = bytearray(128)
    image[0x01] = 0x40
    image[0x02:0x08] = bytes([0x03, 0x04, 0x01, 0x60, 0x00, 0x06])
    image[0x08] = 0x80
    image[0x09] = 45
    image[0x0A] = 0x08
    image[0x0B] = invert
    image[0x0C:0x0E] = bytes([0x00, 0x02])
    at = 0x18
    for slot, text, length in zip((0x0E, 0x10, 0x12), strings, lengths):
        encoded = text.encode("utf-16-le")
        descriptor = bytes([2 + len(encoded), 3]) + encoded
        image[slot] = 0x80 | at
        if length is not None:
            image[slot + 1] = length
            continue
        image[slot + 1] = len(descriptor)
        image[at:at + len(descriptor)] = descriptor
        at += len(descriptor)
    image[0x14:0x17] = bytes([0x23, 0x10, cbus4])
    total = ft232r_checksum(image)
    image[126:128] = bytes([total & 0xFF, total >> 8])
    return bytes(image)


def eeprom_seeds():
    # layout: options (bit 0: make the checksum right), the 128-byte image
    yield "meter", bytes([0]) + ft232r_image()
    yield "cable", bytes([0]) + ft232r_image(("FTDI", "FT232R USB UART", "FT000002"), invert=0, cbus4=1)
    yield "description_length_0", bytes([0]) + ft232r_image(lengths=(None, 0, None))
    yield "description_length_1", bytes([0]) + ft232r_image(lengths=(None, 1, None))
    yield "serial_past_the_end", bytes([1]) + ft232r_image(lengths=(None, None, 0x7E))
    yield "non_ascii", bytes([0]) + ft232r_image(("F\u00e9", "Quorvel\u001b[2J KPLX\r", "KP\U0001F600"))
    spoiled = bytearray(ft232r_image())
    spoiled[-1] ^= 1
    yield "bad_checksum", bytes([0]) + bytes(spoiled)
    yield "zeros_resealed", bytes([1]) + bytes(128)


TARGETS = {
    "fuzz_trailer": (trailer_seeds, None),
    "fuzz_packet": (packet_seeds, None),
    "fuzz_command_line": (command_line_seeds, None),
    "fuzz_transfer_reply": (transfer_seeds, transfer_regressions),
    "fuzz_version_reply": (version_seeds, version_regressions),
    "fuzz_ft232r_eeprom": (eeprom_seeds, None),
}


def write(kind, target, inputs):
    folder = os.path.join(HERE, kind, target)
    names = list(inputs)
    assert len({n for n, _ in names}) == len(names), "duplicate input name in " + target
    os.makedirs(folder, exist_ok=True)
    for name, data in names:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return len(names)


def main():
    for kind in ("corpus", "regressions"):
        shutil.rmtree(os.path.join(HERE, kind), ignore_errors=True)
    for target, (seeds, regressions) in TARGETS.items():
        count = write("corpus", target, seeds())
        extra = write("regressions", target, regressions()) if regressions else 0
        print(f"{target}: {count} seeds, {extra} regressions")


if __name__ == "__main__":
    main()
