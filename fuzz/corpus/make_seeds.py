#!/usr/bin/env python3
"""Writes the fuzzers' seed inputs: sections whose descriptors run past their own loop but
not past the section, which the decoders must read through to the later entries.

The EIT and PMT fuzzers append the CRC themselves, so their seeds stop before it; the NIT
fuzzer takes a first byte choosing which services carry video.
"""
import os


def crc32_mpeg2(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1) & 0xFFFFFFFF
    return crc


def section(table_id, extension, body, with_crc=True):
    """Table header (section_length counting the CRC), body, then the CRC when asked."""
    length = 5 + len(body) + 4
    head = bytes([table_id, 0xB0 | (length >> 8), length & 0xFF,
                  extension >> 8, extension & 0xFF, 0xC1, 0, 0])
    data = head + bytes(body)
    return data + crc32_mpeg2(data).to_bytes(4, "big") if with_crc else data


def length12(n):
    return [0xF0 | (n >> 8), n & 0xFF]


def sdt():
    body = [0x20, 0xFA, 0xFF]  # original_network_id, reserved
    first = [0x48, 0x05, 0x01, 0x01, ord("p"), 0x01, ord("A"), 0x5F, 0x04, 0x00]
    second = [0x48, 0x05, 0x01, 0x01, ord("q"), 0x01, ord("B")]
    for sid, loop in ((0x0101, first), (0x0102, second)):
        body += [sid >> 8, sid & 0xFF, 0xFC] + length12(len(loop)) + loop
    return section(0x42, 0x0004, body)


def nit():
    entries = []
    for tsid, loop in ((1, [0x41, 0x06, 1, 2, 3, 4]), (2, [0x83, 0x04, 0x01, 0x01, 0xFC, 0x05])):
        entries += [0, tsid, 0x20, 0xFA] + length12(len(loop)) + loop
    body = length12(0) + length12(len(entries)) + entries
    return bytes([0xFF]) + section(0x40, 0x20FA, body)


def eit():
    body = [0x00, 0x04, 0x20, 0xFA, 0x00, 0x4E]
    short_a = [0x4D, 0x07] + list(b"fre") + [1, ord("A"), 1, ord("a")]
    short_b = [0x4D, 0x07] + list(b"fre") + [1, ord("B"), 1, ord("b")]
    for hour, minute, loop in ((0x20, 0x00, short_a + [0x5F, 0x04, 0x00]), (0x20, 0x30, short_b)):
        body += [0x00, 0x01, 0xEF, 0xC5, hour, minute, 0x00, 0x00, 0x30, 0x00]
        body += length12(len(loop)) + loop
    return section(0x4E, 0x0101, body, with_crc=False)


def pmt():
    body = [0xE1, 0x00] + length12(0)  # PCR PID 0x100, no program descriptors
    streams = ((0x02, 0x100, [0x0A, 0x06] + list(b"fra") + [0]),
               (0x06, 0x102, [0x0A, 0x04] + list(b"fra") + [0, 0x6A, 0x03, 0x00]),
               (0x03, 0x101, []))
    for stream_type, pid, loop in streams:
        body += [stream_type, 0xE0 | (pid >> 8), pid & 0xFF] + length12(len(loop)) + loop
    return section(0x02, 0x0001, body, with_crc=False)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for fuzzer, data in (("fuzz_sdt", sdt()), ("fuzz_nit", nit()), ("fuzz_eit", eit()),
                         ("fuzz_pmt", pmt())):
        os.makedirs(os.path.join(here, fuzzer), exist_ok=True)
        with open(os.path.join(here, fuzzer, "descriptor_past_its_loop"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
