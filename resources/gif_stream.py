"""GIF stream pieces shared by the scripts that write GIF files: data
sub-blocks and a plain LZW encoder."""


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def lzw(pixels, min_size, declared=None):
    """Plain GIF LZW: clear first, clear when the table is full, end code."""
    clear = 1 << min_size
    end = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def put(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    width = min_size + 1
    table = {}
    nxt = end + 1
    put(clear, width)
    prefix = None
    for p in pixels:
        if prefix is None:
            prefix = p
            continue
        key = (prefix, p)
        if key in table:
            prefix = table[key]
            continue
        put(prefix, width)
        first_code = not table
        if nxt < 4096:
            table[key] = nxt
            nxt += 1
            # A decoder adds its first entry with the second code after a
            # clear; only code size 1 can reach a width step that early.
            if nxt > (1 << width) and width < 12 and not (first_code and min_size == 1):
                width += 1
        else:
            put(clear, width)
            table = {}
            nxt = end + 1
            width = min_size + 1
        prefix = p
    if prefix is not None:
        put(prefix, width)
    put(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes([declared if declared is not None else min_size]) + sub_blocks(bytes(out))
