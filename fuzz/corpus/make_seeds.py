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


def subtitled_pmt():
    """DVB subtitles: two languages on one PID, a hard-of-hearing stream whose second entry
    is cut short, and a stream that the E-AC-3 descriptor keeps as audio."""
    body = [0xE1, 0x00] + length12(0)
    two = list(b"fra") + [0x10, 0, 1, 0, 1] + list(b"deu") + [0x10, 0, 2, 0, 2]
    cut = list(b"fra") + [0x20, 0, 3, 0, 3] + list(b"eng")
    streams = ((0x1B, 0x100, []),
               (0x06, 0x110, [0x59, len(two)] + two),
               (0x06, 0x111, [0x59, len(cut)] + cut),
               (0x06, 0x112, [0x7A, 0x01, 0x00, 0x59, 0x08] + two[:8]))
    for stream_type, pid, loop in streams:
        body += [stream_type, 0xE0 | (pid >> 8), pid & 0xFF] + length12(len(loop)) + loop
    return section(0x02, 0x0001, body, with_crc=False)


CHANNEL_FILE = (
    "<Chaines>\r\n\t<Chaine>\r\n\t\t<Nom>Sept Arts</Nom>\r\n\t\t<Groupe>R1</Groupe>\r\n"
    "\t\t<Frequence>586167</Frequence>\r\n\t\t<ONID>8442</ONID>\r\n\t\t<TSID>1</TSID>\r\n"
    "\t\t<SID>263</SID>\r\n\t\t<Numero>7</Numero>\r\n\t\t<PMT>1017</PMT>\r\n"
    "\t\t<PCR>1824</PCR>\r\n\t\t<Video_mpeg4>1824</Video_mpeg4>\r\n"
    "\t\t<Piste>1842 eac3 description qad</Piste>\r\n\t\t<Piste>1840 eac3 principale fre</Piste>\r\n"
    "\t\t<SousTitre>1856 16 1 1 fra</SousTitre>\r\n\t\t<SousTitre>1857 16 1 1 deu</SousTitre>\r\n"
    "\t\t<SousTitre>1858 32 2 2 &#xE000;&lt;&#xE9;</SousTitre>\r\n"
    "\t\t<SousTitre>1859 x 1 1 fra</SousTitre>\r\n"
    "\t</Chaine>\r\n</Chaines>\r\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    seeds = (("fuzz_sdt", "descriptor_past_its_loop", sdt()),
             ("fuzz_nit", "descriptor_past_its_loop", nit()),
             ("fuzz_eit", "descriptor_past_its_loop", eit()),
             ("fuzz_pmt", "descriptor_past_its_loop", pmt()),
             ("fuzz_pmt", "subtitling_descriptors", subtitled_pmt()),
             ("fuzz_channel_file", "subtitle_streams", CHANNEL_FILE.encode("ascii")))
    for fuzzer, name, data in seeds:
        os.makedirs(os.path.join(here, fuzzer), exist_ok=True)
        with open(os.path.join(here, fuzzer, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
