#!/usr/bin/env python3
"""The source trees of the benchmarks, the same on every machine (fixed seeds, sizes, contents
and file times, so that nothing looks changed to an update run):

  make_trees.py many ROOT COUNT   COUNT files of 10-400 bytes in 100 folders: four in five are
                                  text of words and numbers, the fifth random bytes
  make_trees.py large ROOT        8 files of 32 MiB in 2 folders: half text that deflate
                                  shrinks to about a third, half random bytes it cannot shrink
"""
import os
import random
import sys

WORDS = ("backup archive folder file task schedule daily weekly report invoice letter photo "
         "music notes draft budget plan list copy data table index readme config settings").split()


def text(rng, size):
    out = []
    n = 0
    while n < size:
        w = rng.choice(WORDS) if rng.random() < 0.8 else str(rng.randint(0, 99999))
        sep = "\n" if rng.random() < 0.1 else " "
        out.append(w + sep)
        n += len(w) + 1
    return "".join(out).encode()[:size]


def many(root, count):
    rng = random.Random(20240611)
    folders = 100
    for d in range(folders):
        os.makedirs(os.path.join(root, "d%02d" % d), exist_ok=True)
    for i in range(count):
        size = rng.randint(10, 400)
        if i % 5 == 4:
            data = bytes(rng.getrandbits(8) for _ in range(size))
            name = "f%05d.bin" % i
        else:
            data = text(rng, size)
            name = "f%05d.txt" % i
        path = os.path.join(root, "d%02d" % (i % folders), name)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (1700000000 + i, 1700000000 + i))


def large(root):
    rng = random.Random(20250107)
    size = 32 << 20
    block = 1 << 20
    # Text is made a block at a time from a few blocks of words, each written with a changed
    # start, so that no two blocks of a file are the same.
    blocks = [text(rng, block) for _ in range(4)]
    for i in range(8):
        folder = os.path.join(root, "part%d" % (i % 2))
        os.makedirs(folder, exist_ok=True)
        random_bytes = i % 2 == 1
        path = os.path.join(folder, "large%d.%s" % (i, "bin" if random_bytes else "txt"))
        with open(path, "wb") as f:
            for b in range(size // block):
                if random_bytes:
                    f.write(rng.randbytes(block))
                else:
                    head = str(rng.randint(0, 10**9)).encode()
                    f.write(head + blocks[b % len(blocks)][len(head):])
        os.utime(path, (1700000000 + i, 1700000000 + i))


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "many":
        many(sys.argv[2], int(sys.argv[3]))
    elif len(sys.argv) == 3 and sys.argv[1] == "large":
        large(sys.argv[2])
    else:
        sys.exit(__doc__)
