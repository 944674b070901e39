#!/usr/bin/env python3
"""Writes libs/common/ffmpeg_functions.inc: the FFmpeg functions the program
calls, with their prototypes as the installed headers declare them.

Usage: tools/gen-ffmpeg-binding.py [NAME ...]

Without names, the names already listed in the file are kept; names given are
added. The prototypes come from the C compiler (gcc -aux-info) reading the
FFmpeg headers, so that the binding matches the FFmpeg the program is built
against. Run it after calling a new FFmpeg function (the link then fails with
that function undefined) and commit the result.
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "libs", "common", "ffmpeg_functions.inc")
HEADERS = [
    "libavformat/avformat.h",
    "libavformat/avio.h",
    "libavcodec/avcodec.h",
    "libavutil/avutil.h",
    "libavutil/channel_layout.h",
    "libavutil/dict.h",
    "libavutil/error.h",
    "libavutil/frame.h",
    "libavutil/log.h",
    "libavutil/mathematics.h",
    "libavutil/mem.h",
    "libavutil/opt.h",
    "libavutil/samplefmt.h",
    "libswresample/swresample.h",
]
LINE = re.compile(r"^/\* .* \*/ extern (.+?)\s*\b(\w+) \((.*)\);$")


def listed_names():
    if not os.path.exists(OUT):
        return []
    names = []
    with open(OUT, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"KESTREL_FF\([^,]+(?:\([^)]*\))?[^,]*, (\w+),", line)
            if m:
                names.append(m.group(1))
    return names


def split_params(params):
    parts, depth, cur = [], 0, ""
    for ch in params:
        if ch == "," and depth == 0:
            parts.append(cur.strip())
            cur = ""
            continue
        depth += ch == "("
        depth -= ch == ")"
        cur += ch
    if cur.strip():
        parts.append(cur.strip())
    return [] if parts == ["void"] else parts


def prototypes():
    cflags = subprocess.run(
        ["pkg-config", "--cflags", "libavformat", "libavcodec", "libavutil", "libswresample"],
        check=True, capture_output=True, text=True).stdout.split()
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "h.c")
        aux = os.path.join(tmp, "aux.txt")
        with open(src, "w") as f:
            f.writelines(f"#include <{h}>\n" for h in HEADERS)
        subprocess.run(["gcc", "-c", src, "-o", os.devnull, "-aux-info", aux] + cflags,
                       check=True)
        found = {}
        with open(aux, encoding="utf-8") as f:
            for line in f:
                m = LINE.match(line.strip())
                if m:
                    found[m.group(2)] = (m.group(1).strip(), m.group(3))
        return found


def main():
    names = listed_names()
    for n in sys.argv[1:]:
        if n not in names:
            names.append(n)
    protos = prototypes()
    lines = []
    for name in sorted(set(names)):
        if name not in protos:
            sys.exit(f"{name}: no such function in the FFmpeg headers")
        ret, params = protos[name]
        types = split_params(params)
        if any("(*" in t for t in types):
            sys.exit(f"{name}: function pointer parameters are not supported")
        args = [f"a{i}" for i in range(len(types))]
        decl = ", ".join(f"{t} {a}" for t, a in zip(types, args))
        lines.append(f"KESTREL_FF({ret}, {name}, ({decl}), ({', '.join(args)}))\n")
    with open(OUT, "w", encoding="utf-8") as f:
        f.write("// The FFmpeg functions the program calls: return type, name, parameters,\n"
                "// arguments. Written by tools/gen-ffmpeg-binding.py from the installed\n"
                "// headers; see ffmpeg_binding.cpp.\n")
        f.writelines(lines)
    print(f"{OUT}: {len(lines)} functions")


if __name__ == "__main__":
    main()
