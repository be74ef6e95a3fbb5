#!/usr/bin/env python3
"""Alters a checkpoint file and gives it the checksum that fits, as a careless
or hostile hand could: the program must find out from the records alone.
Usage: forge_checkpoint.py FILE PATTERN REPLACEMENT [PATTERN REPLACEMENT ...]
(regular expressions over the body's lines, applied in order)."""
import ctypes
import re
import sys

xxhash = ctypes.CDLL("libxxhash.so.0")
xxhash.XXH64.restype = ctypes.c_uint64
xxhash.XXH64.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint64]

path, edits = sys.argv[1], sys.argv[2:]
text = open(path, encoding="ascii").read()
body = text[: text.rindex("xxh64 ")]
for pattern, replacement in zip(edits[0::2], edits[1::2]):
    changed = re.sub(pattern, replacement, body, flags=re.MULTILINE)
    if changed == body:
        sys.exit("forge_checkpoint: %r matched nothing" % pattern)
    body = changed
data = body.encode("ascii")
open(path, "w", encoding="ascii").write(body + "xxh64 %016x\n" % xxhash.XXH64(data, len(data), 0))
