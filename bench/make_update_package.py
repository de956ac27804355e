# Writes the files of the update benchmark and its plain description (see run_update_bench.sh).
#   make_update_package.py FILES_DIR PLAIN_INI DEST_DIR COUNT TOTAL_MIB   (COUNT 0: an empty list)
import os
import random
import sys
import zlib

root, ini, dest = sys.argv[1], sys.argv[2], sys.argv[3]
count, total = int(sys.argv[4]), int(sys.argv[5]) << 20
rng = random.Random(4)
# A few large files and many small ones, as in a runtime folder.
weights = [rng.lognormvariate(0, 1.5) for _ in range(count)]
scale = total / sum(weights) if weights else 0
sizes = [max(1, int(w * scale)) for w in weights]
if sizes:
    sizes[-1] += total - sum(sizes)

lines = ["\ufeff# bench", "[UPDATE_CONFIG]", "PROGRAM_NUM=0", "[COPYFILE]", "COPYFILENUM=%d" % count]
for i, size in enumerate(sizes, 1):
    rel = "d%02d/f%03d.bin" % (i % 20, i)
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    data = os.urandom(size)
    with open(path, "wb") as f:
        f.write(data)
    lines += [
        "SRCPATH%d=files/%s" % (i, rel),
        "DESTPATH%d=%s/%s" % (i, dest, rel),
        "CRCVALUE%d=%08X" % (i, zlib.crc32(data) & 0xFFFFFFFF),
    ]
lines += ["[UPDATE_FINISH_CONFIG]", "BEEPNUM=0", "REBOOT=1", ""]
with open(ini, "w", encoding="utf-8") as f:
    f.write("\n".join(lines))
