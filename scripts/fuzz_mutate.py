#!/usr/bin/env python3
"""Writes mutated image files for the load campaign of scripts/fuzz.sh.

    fuzz_mutate.py --out DIR --count N [--seed S] [--formats bmp,gif,...]
                   [--extra-seeds FOLDER]

For every format, N mutants of the format's seed files (taken from
tests/fixtures; the metafile seeds from the folder of --extra-seeds) go to
DIR/<format>/<number>.<extension>, and DIR/<format>/origins.txt names the seed
and the mutations of each; the seeds go beside them as seed-<k>.<extension>
(DIR/<format>/seeds.txt names them). A mutant is one to four of: bit flips, an
interesting value written into a length, size, offset or count field (the
fields a small parser of the format finds, else any aligned header word),
truncation, a swap of two blocks, a splice from another seed of the same
format, a duplicated or removed block (PNG chunk checksums are mostly made
right again). The same seed number gives the same files.
"""
import argparse
import os
import random
import re
import struct
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIX = os.path.join(TOP, "tests", "fixtures")

# format -> (extension of the mutants, seed globs relative to tests/fixtures)
FORMATS = {
    "bmp": ("bmp", ["io/bmp/*.bmp", "io/formats/bmp.bmp", "io/web/*.bmp"]),
    "ico": ("ico", ["io/ico/*.ico", "io/formats/ico.ico"]),
    "cur": ("cur", ["io/ico/*.cur", "io/formats/cur.cur"]),
    "pcx": ("pcx", ["io/pcx/*.pcx", "io/formats/pcx*.pcx"]),
    "dcx": ("dcx", ["io/pcx/*.dcx", "io/formats/dcx.dcx"]),
    "gif": ("gif", ["io/gif/*.gif", "gif/*.gif", "io/formats/gif.gif"]),
    "tiff": ("tif", ["io/tiff/*.tif", "io/formats/tiff*.tif", "io/ccitt/wide-g4.tif", "io/ccitt/mixed-g3-2d.tif",
                     "io/tiff-write/lzw_struct.tif", "io/conformance/tiff-ojpeg-*.tif",
                     "io/conformance/tiff-g4-zero-runs.tif"]),
    "jpeg": ("jpg", ["io/jpeg/*.jpg", "io/jpeg-meta/*.jpg", "io/formats/jpeg.jpg"]),
    "png": ("png", ["io/png/*.png", "io/formats/png.png"]),
    "jp2": ("jp2", ["io/j2k/*.jp2", "io/formats/jp2.jp2"]),
    "j2k": ("j2k", ["io/j2k/*.j2k", "io/formats/j2k.j2k"]),
    "psd": ("psd", ["io/psd/*.psd", "io/formats/psd.psd"]),
    "tga": ("tga", ["io/tga/*.tga", "io/formats/tga*.tga"]),
    "pbm": ("pbm", ["io/pxm/*.pbm", "io/formats/pbm*.pbm"]),
    "pgm": ("pgm", ["io/pxm/*.pgm", "io/formats/pgm*.pgm"]),
    "ppm": ("ppm", ["io/pxm/*.ppm", "io/formats/ppm*.ppm"]),
    "wbmp": ("wbmp", ["io/wbmp/*.wbmp", "io/formats/wbmp.wbmp"]),
    "dicom": ("dcm", ["io/dicom/*.dcm"]),
    "raw": ("crw", ["io/raw/*.crw", "io/raw/*.dng"]),
    "hdp": ("wdp", ["io/hdp/*.wdp"]),
    "avi": ("avi", ["io/avi/*.avi"]),
    "wmf": ("wmf", []),
    "emf": ("emf", []),
}

INTERESTING = [0, 1, 2, 3, 4, 7, 8, 15, 16, 31, 32, 63, 64, 127, 128, 255, 256, 511, 512, 1000, 1024, 4096, 20000,
               32767, 32768, 48909, 65500, 65535, 65536, 0x7FFFFF, 0xFFFFFF, 0x1000000, 0x7FFFFFF0, 0x7FFFFFFF,
               0x80000000, 0xFFFFFFF0, 0xFFFFFFFE, 0xFFFFFFFF]


def seeds_of(fmt):
    import glob
    found = []
    for pattern in FORMATS[fmt][1]:
        found += sorted(glob.glob(os.path.join(FIX, pattern)))
    out = []
    for path in found:
        with open(path, "rb") as f:
            data = f.read()
        if 0 < len(data) <= 256 * 1024:
            out.append((os.path.relpath(path, FIX), data))
    out += [(name, data) for name, data in built_seeds(fmt)]
    return out


def built_seeds(fmt):
    """Seeds recorded by the driver (fuzz_load --metafile-seeds) for formats
    without fixtures; the folder comes from --extra-seeds."""
    folder = EXTRA_SEEDS[0]
    if not folder or fmt not in ("wmf", "emf"):
        return []
    path = os.path.join(folder, "shapes." + fmt)
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return [("recorded/shapes." + fmt, f.read())]


EXTRA_SEEDS = [None]


# ---- fields of a format: (offset, width, big-endian)

def fields_png(d):
    out = [(16, 4, True), (20, 4, True), (24, 1, True), (25, 1, True), (28, 1, True)]
    p = 8
    while p + 8 <= len(d):
        (n,) = struct.unpack_from(">I", d, p)
        out.append((p, 4, True))
        p += 12 + n
        if n > len(d):
            break
    return out


def fields_jpeg_like(d):
    out = []
    p = 2
    while p + 4 <= len(d):
        if d[p] != 0xFF:
            p += 1
            continue
        m = d[p + 1]
        if m in (0xD8, 0x01) or 0xD0 <= m <= 0xD7 or m == 0xFF or m == 0x00:
            p += 2 if m != 0xFF else 1
            continue
        (n,) = struct.unpack_from(">H", d, p + 2)
        out.append((p + 2, 2, True))
        if (0xC0 <= m <= 0xCF and m not in (0xC4, 0xC8, 0xCC)) and p + 9 <= len(d):
            out += [(p + 5, 2, True), (p + 7, 2, True), (p + 9, 1, True)]
        if m == 0x51 and p + 40 <= len(d):  # code-stream size marker
            out += [(p + 6 + 4 * i, 4, True) for i in range(8)] + [(p + 38, 2, True)]
        if m == 0xDA or m == 0x93:
            break
        p += 2 + n
    return out


def fields_jp2(d):
    out = []
    p = 0
    while p + 8 <= len(d):
        (n,) = struct.unpack_from(">I", d, p)
        out.append((p, 4, True))
        box = d[p + 4:p + 8]
        if box == b"jp2h":
            q = p + 8
            while q + 8 <= min(len(d), p + n):
                (m,) = struct.unpack_from(">I", d, q)
                out.append((q, 4, True))
                if d[q + 4:q + 8] == b"ihdr":
                    out += [(q + 8, 4, True), (q + 12, 4, True), (q + 16, 2, True)]
                if m < 8:
                    break
                q += m
        if box == b"jp2c":
            out += [(p + 8 + f, w, b) for f, w, b in fields_jpeg_like(d[p + 8:])]
        if n < 8:
            break
        p += n
    return out


def fields_tiff(d):
    if len(d) < 8:
        return []
    big = d[:2] == b"MM"
    e = ">" if big else "<"
    out = [(4, 4, big)]
    (ifd,) = struct.unpack_from(e + "I", d, 4)
    seen = set()
    while 0 < ifd < len(d) - 2 and ifd not in seen and len(seen) < 8:
        seen.add(ifd)
        (n,) = struct.unpack_from(e + "H", d, ifd)
        out.append((ifd, 2, big))
        for i in range(min(n, 64)):
            q = ifd + 2 + 12 * i
            if q + 12 > len(d):
                break
            out += [(q + 2, 2, big), (q + 4, 4, big), (q + 8, 4, big), (q + 8, 2, big)]
            (typ,) = struct.unpack_from(e + "H", d, q + 2)
            (cnt,) = struct.unpack_from(e + "I", d, q + 4)
            size = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 6: 1, 7: 1, 8: 2, 9: 4, 10: 8, 11: 4, 12: 8}.get(typ, 1)
            if cnt * size > 4:
                (off,) = struct.unpack_from(e + "I", d, q + 8)
                w = 2 if size == 2 else 4
                out += [(off + w * k, w, big) for k in range(min(cnt, 8)) if off + w * k + w <= len(d)]
        q = ifd + 2 + 12 * n
        if q + 4 > len(d):
            break
        out.append((q, 4, big))
        (ifd,) = struct.unpack_from(e + "I", d, q)
    return out


def fields_gif(d):
    out = [(6, 2, False), (8, 2, False), (10, 1, False), (11, 1, False)]
    p = 13 + (3 << ((d[10] & 7) + 1) if len(d) > 10 and d[10] & 0x80 else 0)
    while p < len(d):
        b = d[p]
        if b == 0x2C and p + 10 <= len(d):
            out += [(p + 1, 2, False), (p + 3, 2, False), (p + 5, 2, False), (p + 7, 2, False), (p + 9, 1, False)]
            p += 10
            if d[p - 1] & 0x80:
                p += 3 << ((d[p - 1] & 7) + 1)
            out.append((p, 1, False))
            p += 1
        elif b == 0x21 and p + 2 < len(d):
            p += 2
        elif b == 0x3B:
            break
        else:
            p += 1
            continue
        while p < len(d) and d[p] != 0:  # sub-blocks
            out.append((p, 1, False))
            p += 1 + d[p]
        p += 1
    return out


def fields_fixed(offsets, big=False):
    return lambda d: [(o, w, big) for o, w in offsets if o + w <= len(d)]


def fields_ico(d):
    out = [(2, 2, False), (4, 2, False)]
    n = struct.unpack_from("<H", d, 4)[0] if len(d) >= 6 else 0
    for i in range(min(n, 16)):
        q = 6 + 16 * i
        out += [(q, 1, False), (q + 1, 1, False), (q + 2, 1, False), (q + 4, 2, False), (q + 6, 2, False),
                (q + 8, 4, False), (q + 12, 4, False)]
        if q + 16 <= len(d):
            (off,) = struct.unpack_from("<I", d, q + 12)
            out += [(off + o, w, False) for o, w in ((0, 4), (4, 4), (8, 4), (14, 2), (16, 4), (32, 4))]
    return [f for f in out if f[0] + f[1] <= len(d)]


def fields_psd(d):
    out = [(12, 2, True), (14, 4, True), (18, 4, True), (22, 2, True), (24, 2, True)]
    p = 26
    for _ in range(3):  # colour data, resources, layers: length-prefixed sections
        if p + 4 > len(d):
            break
        out.append((p, 4, True))
        (n,) = struct.unpack_from(">I", d, p)
        p += 4 + n
    out.append((p, 2, True))  # compression of the merged image
    out += [(p + 2 + 2 * i, 2, True) for i in range(16)]  # run-length counts
    return [f for f in out if f[0] + f[1] <= len(d)]


def fields_dcx(d):
    out = [(4 + 4 * i, 4, False) for i in range(4)]
    if len(d) >= 8:
        (off,) = struct.unpack_from("<I", d, 4)
        out += [(off + o, w, False) for o, w in ((4, 2), (6, 2), (8, 2), (10, 2), (65, 1), (66, 2))]
    return [f for f in out if f[0] + f[1] <= len(d)]


def fields_dicom(d):
    out = []
    p = 132 if d[128:132] == b"DICM" else 0
    while p + 8 <= len(d) and len(out) < 200:
        vr = d[p + 4:p + 6]
        if vr in (b"OB", b"OW", b"OF", b"SQ", b"UT", b"UN"):
            out.append((p + 8, 4, False))
            (n,) = struct.unpack_from("<I", d, p + 8)
            head = 12
        elif vr.isalpha() and vr.isupper():
            out.append((p + 6, 2, False))
            (n,) = struct.unpack_from("<H", d, p + 6)
            head = 8
        else:
            out.append((p + 4, 4, False))
            (n,) = struct.unpack_from("<I", d, p + 4)
            head = 8
        if n == 0xFFFFFFFF:
            n = 0
        if n <= 8:
            out.append((p + head, max(1, min(n, 4) if n in (1, 2, 4) else 2), False))
        p += head + n
    return [f for f in out if f[0] + f[1] <= len(d)]


def fields_riff(d):
    out = [(4, 4, False)]
    p = 12
    while p + 8 <= len(d) and len(out) < 100:
        out.append((p + 4, 4, False))
        tag = d[p:p + 4]
        (n,) = struct.unpack_from("<I", d, p + 4)
        if tag in (b"LIST", b"RIFF"):
            p += 12
            continue
        if tag in (b"avih", b"strh", b"strf"):
            out += [(p + 8 + 4 * i, 4, False) for i in range(min(n // 4, 12))]
        if tag == b"idx1":
            out += [(p + 8 + 16 * i + o, 4, False) for i in range(min(n // 16, 8)) for o in (8, 12)]
        p += 8 + n + (n & 1)
    return [f for f in out if f[0] + f[1] <= len(d)]


def fields_wmf(d):
    base = 22 if d[:4] == b"\xd7\xcd\xc6\x9a" else 0
    out = [(o, 2, False) for o in range(6, 22, 2)] if base else []
    out += [(base + o, w, False) for o, w in ((2, 2), (6, 4), (10, 2), (12, 4))]
    p = base + 18
    while p + 6 <= len(d) and len(out) < 100:
        out += [(p, 4, False), (p + 6, 2, False), (p + 8, 2, False)]
        (n,) = struct.unpack_from("<I", d, p)
        if n < 3:
            break
        p += 2 * n
    return [f for f in out if f[0] + f[1] <= len(d)]


def fields_emf(d):
    out = [(o, 4, False) for o in range(0, 108, 4)]
    p = struct.unpack_from("<I", d, 4)[0] if len(d) >= 8 else 0
    while p + 8 <= len(d) and len(out) < 200:
        out += [(p + 4, 4, False), (p + 8, 4, False), (p + 12, 4, False)]
        (n,) = struct.unpack_from("<I", d, p + 4)
        if n < 8:
            break
        p += n
    return [f for f in out if f[0] + f[1] <= len(d)]


FIELDS = {
    "png": fields_png, "jpeg": fields_jpeg_like, "j2k": fields_jpeg_like, "jp2": fields_jp2,
    "tiff": fields_tiff, "raw": fields_tiff, "hdp": fields_tiff, "gif": fields_gif,
    "bmp": fields_fixed([(2, 4), (10, 4), (14, 4), (18, 4), (22, 4), (26, 2), (28, 2), (30, 4), (34, 4), (46, 4),
                         (54, 4), (58, 4)]),
    "ico": fields_ico, "cur": fields_ico, "psd": fields_psd, "dcx": fields_dcx, "dicom": fields_dicom,
    "pcx": fields_fixed([(1, 1), (2, 1), (3, 1), (4, 2), (6, 2), (8, 2), (10, 2), (65, 1), (66, 2), (68, 2)]),
    "tga": fields_fixed([(0, 1), (1, 1), (2, 1), (3, 2), (5, 2), (7, 1), (8, 2), (10, 2), (12, 2), (14, 2),
                         (16, 1), (17, 1)]),
    "wbmp": fields_fixed([(0, 1), (1, 1), (2, 1), (3, 1), (4, 1), (5, 1)]),
    "avi": fields_riff, "wmf": fields_wmf, "emf": fields_emf,
}

NUMBER = re.compile(rb"\d+")


def put(d, off, width, big, value):
    value &= (1 << (8 * width)) - 1
    d[off:off + width] = value.to_bytes(width, "big" if big else "little")


def mutate_numbers(rng, d):
    """Text headers (PBM/PGM/PPM): replaces a number of the first lines."""
    head = bytes(d[:64])
    found = list(NUMBER.finditer(head))
    if not found:
        return "text:none"
    m = rng.choice(found)
    value = rng.choice([b"0", b"1", b"-1", b"2", b"65535", b"65536", b"4294967295", b"2147483647",
                        b"99999999999", b"40000", b"7"])
    d[m.start():m.end()] = value
    return "text@%d=%s" % (m.start(), value.decode())


def one_mutation(rng, fmt, d, others):
    kinds = ["flip", "field", "field", "field", "truncate", "swap", "splice", "dup", "cut"]
    if fmt in ("pbm", "pgm", "ppm"):
        kinds += ["text", "text", "text"]
    kind = rng.choice(kinds)
    n = len(d)
    if n == 0:
        return "empty"
    if kind == "flip":
        span = min(n, 128) if rng.random() < 0.6 else n
        count = rng.randint(1, 8)
        for _ in range(count):
            p = rng.randrange(span)
            d[p] ^= 1 << rng.randrange(8)
        return "flip%d" % count
    if kind == "field":
        try:
            fields = FIELDS.get(fmt, lambda _d: [])(bytes(d))
        except (struct.error, IndexError):  # a damaged structure ends the parse
            fields = []
        fields = [f for f in fields if 0 <= f[0] and f[0] + f[1] <= n]
        if not fields:
            w = rng.choice([1, 2, 4])
            off = rng.randrange(0, max(1, min(n, 256) - w + 1))
            if off + w > n:
                return "field:none"
            fields = [(off, w, rng.random() < 0.5)]
        off, w, big = rng.choice(fields)
        r = rng.random()
        old = int.from_bytes(d[off:off + w], "big" if big else "little")
        if r < 0.6:
            value = rng.choice(INTERESTING + [n, n - 1, n + 1, n - off, n * 2])
        elif r < 0.8:
            value = old + rng.choice([-2, -1, 1, 2, 16, -16, 256])
        else:
            value = old * rng.choice([2, 16, 256, 4096])
        put(d, off, w, big, value)
        return "field@%d/%d=%d" % (off, w, value & ((1 << (8 * w)) - 1))
    if kind == "truncate":
        cut = rng.randrange(n) if rng.random() < 0.5 else rng.randrange(min(n, 64))
        del d[cut:]
        return "truncate%d" % cut
    if kind == "swap" and n >= 8:
        size = rng.randint(1, max(1, n // 8))
        a = rng.randrange(n - size + 1)
        b = rng.randrange(n - size + 1)
        if a > b:
            a, b = b, a
        if a + size <= b:
            block_a, block_b = bytes(d[a:a + size]), bytes(d[b:b + size])
            d[a:a + size], d[b:b + size] = block_b, block_a
        return "swap%d,%d/%d" % (a, b, size)
    if kind == "splice" and others:
        src = rng.choice(others)
        if src:
            s0 = rng.randrange(len(src))
            piece = src[s0:s0 + rng.randint(1, 256)]
            p = rng.randrange(n)
            if rng.random() < 0.5:
                d[p:p + len(piece)] = piece
            else:
                d[p:p] = piece
            return "splice%d+%d" % (p, len(piece))
    if kind == "dup":
        size = rng.randint(1, min(n, 512))
        a = rng.randrange(n - size + 1)
        times = rng.choice([1, 1, 2, 16])
        d[a:a] = bytes(d[a:a + size]) * times
        return "dup%d/%dx%d" % (a, size, times)
    if kind == "cut":
        size = rng.randint(1, max(1, n // 4))
        a = rng.randrange(n - size + 1)
        del d[a:a + size]
        return "cut%d/%d" % (a, size)
    if kind == "text":
        return mutate_numbers(rng, d)
    d[rng.randrange(n)] = rng.randrange(256)
    return "byte"


def fix_png_crcs(d):
    """Recomputes the chunk checksums, so that mutants reach the decoder."""
    import zlib
    p = 8
    while p + 12 <= len(d):
        (n,) = struct.unpack_from(">I", d, p)
        if p + 12 + n > len(d):
            break
        struct.pack_into(">I", d, p + 8 + n, zlib.crc32(bytes(d[p + 4:p + 8 + n])) & 0xFFFFFFFF)
        p += 12 + n


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--count", type=int, default=2000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--extra-seeds", default=None)
    ap.add_argument("--formats", default=",".join(FORMATS))
    args = ap.parse_args()
    EXTRA_SEEDS[0] = args.extra_seeds
    for fmt in args.formats.split(","):
        if fmt not in FORMATS:
            sys.exit("unknown format " + fmt)
        seeds = seeds_of(fmt)
        if not seeds:
            sys.exit("no seeds for " + fmt)
        ext = FORMATS[fmt][0]
        folder = os.path.join(args.out, fmt)
        os.makedirs(folder, exist_ok=True)
        rng = random.Random("%d/%s" % (args.seed, fmt))
        datas = [s[1] for s in seeds]
        # The seeds themselves, loaded beside their mutants so that a mutant
        # that loads all black can be told from a black source picture.
        with open(os.path.join(folder, "seeds.txt"), "w") as names:
            for k, (name, data) in enumerate(seeds):
                with open(os.path.join(folder, "seed-%03d.%s" % (k, ext)), "wb") as f:
                    f.write(data)
                names.write("seed-%03d.%s %s\n" % (k, ext, name))
        with open(os.path.join(folder, "origins.txt"), "w") as origins:
            for i in range(args.count):
                name, data = rng.choice(seeds)
                d = bytearray(data)
                done = [one_mutation(rng, fmt, d, datas) for _ in range(rng.choice([1, 1, 1, 2, 2, 3, 4]))]
                if fmt == "png" and rng.random() < 0.8:
                    fix_png_crcs(d)
                    done.append("crc")
                path = os.path.join(folder, "%05d.%s" % (i, ext))
                with open(path, "wb") as f:
                    f.write(d)
                origins.write("%05d %s %s\n" % (i, name, " ".join(done)))
        print("%s: %d mutants of %d seeds" % (fmt, args.count, len(seeds)))


if __name__ == "__main__":
    main()
