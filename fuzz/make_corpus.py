#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/.

convert_text: one selector byte (the direction) and a value line.
line_pass: a switch byte, a read-pattern byte, and a DXF file.

Run it again after samples/ changes; the seeds are small and few, and the
fuzzers find their way from there.
"""
import hashlib
import pathlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"

# Switch byte: bit 0 recode texts, bit 1 "wl", bit 2 palette 16,
# bit 3 palette 256, bit 4 "as", bit 5 an unknown direction string.
DEFAULTS = 0b01001          # recode "lw", 256 colours "sa"
ALL_WL_AS = 0b11011         # recode "wl", 256 colours "as"
PAL16 = 0b00101             # recode "lw", 16 colours "sa"
OFF = 0b00000               # nothing but the code-page header

TEXTS = [
    b"",
    b"Ab1",
    b"%%130",
    b"%%c12",
    b"%%C",
    b"%%d %%p",
    b"abc%%",
    b"%%%130",
    b"%%1000",
    b"%%12345",
    b"%%200",
    b"%%0 %%256",
    b"%%10%%13",
    b"%%%%%c",
    b"%%37%%37c",
    b"P%%253%%161li%%231 %%167lu%%156ou%%159k%%236 k%%133%%229",
    bytes([0xA7, 0xB0, 0x85, 0xE9, 0x80, 0xFB, 0xFF]),
    bytes([0xE9]) + b"5" + bytes([0x8A]) + b"12",
    bytes(range(128, 256)),
    b"\x1a\r\n\x00",
]

CR, LF, CRLF, Z = b"\r", b"\n", b"\r\n", b"\x1a"
BINARY = b"AutoCAD Binary DXF\r\n\x1a\x00"
BOM = b"\xef\xbb\xbf"


def dxf(*lines, end=CRLF):
    return b"".join(line + end for line in lines)


PASSES = [
    (DEFAULTS, dxf(b"  0", b"SECTION", b"  2", b"HEADER", b"  9", b"$DWGCODEPAGE",
                   b"  3", b"ANSI_852", b"  9", b"$INSBASE", b"  0", b"ENDSEC")),
    (ALL_WL_AS, dxf(b"  9", b"$DWGCODEPAGE", b"  3", b"ansi_1250", b"  9", b"$ACADVER")),
    (DEFAULTS, dxf(b"  9", b"$dwgcodepage", b"  3", b"ANSI_852")),          # run to the end
    (DEFAULTS, dxf(b"  1", b"dwgcodepage", b"  62", b"     5")),
    (OFF, dxf(b"  1", b"dwgcodepage", b"  62", b"     5", b"  9", b"$X")),
    (DEFAULTS, dxf(b"    62", b"     5", b"    62", b"    -5", b"62", b"-5 ")),
    (DEFAULTS, dxf(b"  70", b"     1", b"  62", b"     5")),
    (OFF | 8, dxf(b"  70", b"     1", b"  62", b"     5")),
    (DEFAULTS, dxf(b"  8", b"0", b"  1")),                                   # code on the last line
    (DEFAULTS, dxf(b"  8", b"0", b" 62")),
    (PAL16, dxf(b" 62", b"256", b" 62", b"99999999999999999999", b" 62", b"-2147483649",
                b" 62", b"$ff", b" 62", b"0x10", b" 62", b"-x5", b" 62", b"+7", b" 62", b"")),
    (DEFAULTS, dxf(b"  1", b"%%%", b"  1", b"%%c%%C%%d", b"  1", b"%%10 and %%13")),
    (ALL_WL_AS, dxf(b"  1", bytes(range(128, 256)), b"  1", b"%%130 stays")),
    (DEFAULTS, b"  0" + LF + b"EOF" + LF + Z),                              # DOS end mark
    (DEFAULTS, dxf(b"  0", b"EOF") + Z + b"junk" + CRLF),
    (DEFAULTS, b"  1" + CRLF + Z + b"AB" + CRLF + b"AB" + Z + b"CD" + CRLF),
    (DEFAULTS, b"  0" + CRLF + b"lone" + CR + b"cr" + CR + CR + LF + b"x" + CR),
    (DEFAULTS, b"0" + CR * 40 + LF + CR * 3),
    (DEFAULTS, b" -1" + LF * 30),
    (DEFAULTS, b"  1" + CRLF + b"no line end at all"),
    (ALL_WL_AS, dxf(b"  1", b"x" * 300, b" 62", b"1") + b"tail"),           # progress over blocks
    (0b100000 | 1, dxf(b"  1", bytes([0xE9, 0x8A]), b"  9", b"$DWGCODEPAGE", b"  3", b"ANSI")),
    # Refused: a binary DXF file whatever the switches, texts in UTF-8 when recoded.
    (DEFAULTS, BINARY + b"\x00\x02\x10\x00SECTION\x00\x02\x00HEADER\x00"),
    (OFF, BINARY),
    (DEFAULTS, dxf(b"  0", b"SECTION", b"  2", b"HEADER", b"  9", b"$ACADVER", b"  1", b"AC1021",
                   b"  0", b"ENDSEC", b"  0", b"TEXT", b"  1", b"\xc3\xa9", b" 62", b"5")),
    (OFF | 8, dxf(b"  9", b"$ACADVER", b"  1", b"AC1032", b" 62", b"5")),
    (DEFAULTS, BOM + dxf(b"  0", b"SECTION", b"  1", b"\xc3\xa9")),
    (OFF | 8, BOM + dxf(b" 62", b"5", b"  1", b"\xc3\xa9")),
    # Refused: a first line that is no group code.
    (OFF, b"Hello, world." + CRLF + b"  0" + CRLF),
    (DEFAULTS, BOM),
    (OFF, Z + b"0" + CRLF),
    (OFF, dxf(b"+5", b"X")),
    (OFF, dxf(b"0x10", b"X")),
    (OFF, dxf(b" - 1", b"X")),
    # Lines longer than a few bytes, taken in pieces where the fuzzer says so.
    (DEFAULTS, dxf(b" " * 40 + b"62" + b" " * 40, b"0" * 40 + b"7", b" 62", b"-5" + b" " * 60,
                   b"  1", b"%%%130" * 20 + b"%%", b"  9", b"$DWGCODEPAGE", b"  3", b"ANSI" + b"_" * 80)),
    # The code-page run ends at the group code 0 after the last header variable.
    (DEFAULTS, dxf(b"  9", b"$DWGCODEPAGE", b"  3", b"ANSI_852", b"  0", b"ENDSEC", b"  0", b"HATCH",
                   b"  2", b"ANSI31", b" 62", b"     5", b"  1", b"%%130")),
    # Names in the OBJECTS section stay; an MTEXT's group-3 parts are texts.
    (ALL_WL_AS, dxf(b"  0", b"SECTION", b"  2", b"OBJECTS", b"  0", b"LAYOUT", b"  1", b"Pr\xe9sentation1",
                    b"  0", b"ENDSEC", b"  0", b"SECTION", b"  2", b"ENTITIES", b"  1", b"Pr\xe9sentation1")),
    (DEFAULTS, dxf(b"  0", b"MTEXT", b"  3", b"%%130" * 50, b"  1", b"%%130", b"  0", b"STYLE", b"  3",
                   b"%%130.shx")),
]


def write(directory, name, data):
    directory.mkdir(parents=True, exist_ok=True)
    (directory / name).write_bytes(data)


def main():
    for sub in ("convert_text", "line_pass"):
        d = CORPUS / sub
        if d.exists():
            for f in d.iterdir():
                f.unlink()
    for i, text in enumerate(TEXTS):
        for selector in (0, 1):
            write(CORPUS / "convert_text", f"seed-{i:02d}-{selector}", bytes([selector]) + text)
    for i, (bits, data) in enumerate(PASSES):
        write(CORPUS / "line_pass", f"seed-{i:02d}", bytes([bits, i * 37 % 256]) + data)
    for sample in sorted((ROOT / "samples").glob("*.dxf")):
        data = sample.read_bytes()
        for bits in (DEFAULTS, ALL_WL_AS, PAL16):
            tag = hashlib.sha1(sample.name.encode() + bytes([bits])).hexdigest()[:8]
            write(CORPUS / "line_pass", f"sample-{sample.stem}-{tag}", bytes([bits, 0]) + data)


if __name__ == "__main__":
    main()
