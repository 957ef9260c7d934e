"""subparse against the Python subtitle readers of Debian's archive.

Generates a 32 MiB SRT file and a 32 MiB WebVTT file with the xorshift
generator and the shapes of bench::srt() and bench::vtt() in bench_corpus.h
(the same cues and texts; the times run at a quarter of their pace, see
QUARTER), then, for every library that reads the format, loads the file from
its path and touches every cue's start, end and text (the times and the text
lengths are summed, so nothing can be skipped, and the readers' sums are
compared). Prints MB/s (10^6 bytes of input per second) and the ratio of
subparse to the fastest peer; the target is at least 20x.

Peers: srt (python3-srt), webvtt-py (python3-webvtt: WebVTT, and SRT through
webvtt.from_srt) and aeidon (python3-aeidon). A run that takes more than
SLOW_SECONDS is not repeated; faster ones are the best of 3.

    python3 bench/python_bench.py [--mib 32]

bench/python_bench.sh runs it with the package installed in a venv."""

from __future__ import annotations

import argparse
import gc
import os
import sys
import tempfile
import time
from datetime import timedelta
from typing import Callable

import aeidon
import srt
import webvtt

import subparse

SLOW_SECONDS = 5.0
TARGET = 20.0
MASK64 = (1 << 64) - 1
# Cue lengths and gaps are a quarter of bench_corpus.h's, so that a 32 MiB
# file ends before 100 hours (about 83): aeidon reads two-digit hours only,
# and past them takes the rest of the file for one cue's text.
QUARTER = 4
HOURS_100 = 360_000_000


class Rng:
    """bench::Rng: xorshift64, the top 32 bits of the state."""

    def __init__(self) -> None:
        self.state = 0x9E3779B97F4A7C15

    def below(self, n: int) -> int:
        s = self.state
        s ^= (s << 13) & MASK64
        s ^= s >> 7
        s ^= (s << 17) & MASK64
        self.state = s
        return (s >> 32) % n


WORDS = [w.encode() for w in ("the", "night", "is", "young", "and", "we", "have", "time",
                              "Bonjour", "café", "日本語", "слово", "really?", "okay,",
                              "listen", "to", "me", "now")]


def dialogue(rng: Rng) -> bytes:
    """A line of 3 to 10 words, one in eight in italics."""
    line = b" ".join(WORDS[rng.below(len(WORDS))] for _ in range(3 + rng.below(8)))
    return b"<i>" + line + b"</i>" if rng.below(8) == 0 else line


def clock(ms: int, sep: str, hours: bool = True) -> bytes:
    h, m, s, frac = ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000
    if hours:
        return f"{h:02}:{m:02}:{s:02}{sep}{frac:03}".encode()
    return f"{h * 60 + m:02}:{s:02}{sep}{frac:03}".encode()


def generate(size: int, head: bytes, cue: Callable[[Rng, int, int, int], list[bytes]]) -> bytes:
    """`head`, then cues `cue(rng, index, start, duration)` until `size`
    bytes, at bench_corpus.h's pace (a quarter of it)."""
    rng, out, length, t, i = Rng(), [head], len(head), 1000, 1
    while length < size:
        dur = (800 + rng.below(4000)) // QUARTER
        parts = cue(rng, i, t, dur)
        out += parts
        length += sum(map(len, parts))
        t += dur + rng.below(1500) // QUARTER
        i += 1
    if t >= HOURS_100:
        raise SystemExit("python_bench: the file would pass 100 hours, which aeidon cannot read")
    return b"".join(out)


def srt_cue(rng: Rng, i: int, t: int, dur: int) -> list[bytes]:
    """A cue of bench::srt(): CR LF lines, one or two lines of dialogue."""
    cue = [b"%d\r\n%s --> %s\r\n" % (i, clock(t, ","), clock(t + dur, ",")),
           dialogue(rng) + b"\r\n"]
    if rng.below(2):
        cue.append(dialogue(rng) + b"\r\n")
    return cue + [b"\r\n"]


def vtt_cue(rng: Rng, i: int, t: int, dur: int) -> list[bytes]:
    """A cue of bench::vtt(): NOTE blocks, identifiers, settings on two cues
    in three, voice spans; hours on odd cues, and on even ones from the first
    hour on (WebVTT has no minutes past 59: webvtt-py refuses bench::vtt()'s
    "226:41.319")."""
    cue = [b"NOTE a comment block\nspanning two lines\n\n"] if i % 50 == 0 else []
    settings = b" align:start position:10%" if i % 3 else b""
    start, end = (clock(ms, ".", i % 2 == 1 or ms >= 3600000) for ms in (t, t + dur))
    cue.append(b"cue-%d\n%s --> %s%s\n" % (i, start, end, settings))
    cue.append(b"<v Speaker>" + dialogue(rng) + b"\n")
    if rng.below(2):
        cue.append(dialogue(rng) + b"\n")
    return cue + [b"\n"]


def make_srt(size: int) -> bytes:
    return generate(size, b"", srt_cue)


def make_vtt(size: int) -> bytes:
    return generate(size, b"WEBVTT - generated\nKind: captions\n\nSTYLE\n::cue { color: yellow }\n\n",
                    vtt_cue)


# One adapter a library: read the file at `path` and return (cues, sum of
# start and end in ms, sum of text lengths in characters).
Summary = tuple[int, int, int]


def touch(cues) -> Summary:
    """subparse's walk over cues (the peers' adapters walk theirs the same way)."""
    n = times = chars = 0
    for cue in cues:
        n, times, chars = n + 1, times + cue.start + cue.end, chars + len(cue.text)
    return n, times, chars


def read_subparse(path: str) -> Summary:
    with subparse.load(path) as subs:
        return touch(subs)


def subparse_floor(path: str) -> tuple[float, float]:
    """What subparse cannot go below: (seconds of subparse.load alone,
    seconds of the loop over cues already made and read once), best of 3."""
    load = walk = float("inf")
    for _ in range(3):
        gc.collect()
        start = time.perf_counter()
        with subparse.load(path) as subs:
            middle = time.perf_counter()
            cues = subs[:]
        touch(cues)  # a first walk, so that the one timed runs warm
        begin = time.perf_counter()
        touch(cues)
        end = time.perf_counter()
        load, walk = min(load, middle - start), min(walk, end - begin)
        del cues
    return load, walk


def read_srt(path: str) -> Summary:
    n = times = chars = 0
    with open(path, encoding="utf-8") as f:
        for sub in srt.parse(f.read()):
            ms = (sub.start + sub.end) // timedelta(milliseconds=1)
            n, times, chars = n + 1, times + ms, chars + len(sub.content)
    return n, times, chars


def read_webvtt(path: str) -> Summary:
    captions = webvtt.from_srt(path) if path.endswith(".srt") else webvtt.read(path)
    n = times = chars = 0
    for c in captions:  # raw_text: the lines as written (text strips the tags)
        ms = round(c.start_in_seconds * 1000) + round(c.end_in_seconds * 1000)
        n, times, chars = n + 1, times + ms, chars + len(c.raw_text)
    return n, times, chars


def read_aeidon(path: str) -> Summary:
    project = aeidon.Project()
    project.open_main(path, "utf_8")
    n = times = chars = 0
    for s in project.subtitles:
        ms = round(s.start_seconds * 1000) + round(s.end_seconds * 1000)
        n, times, chars = n + 1, times + ms, chars + len(s.main_text)
    return n, times, chars


READERS: dict[str, list[tuple[str, Callable[[str], Summary]]]] = {
    "SRT": [("subparse", read_subparse), ("srt", read_srt),
            ("webvtt-py (from_srt)", read_webvtt), ("aeidon", read_aeidon)],
    "WebVTT": [("subparse", read_subparse), ("webvtt-py", read_webvtt),
               ("aeidon", read_aeidon)],
}


def timed(read: Callable[[str], Summary], path: str) -> tuple[float, int, Summary]:
    """Best time of 3 runs, or of 1 when the first is slow; (seconds, runs,
    the reader's summary)."""
    best, runs = float("inf"), 0
    while runs < 3 and (runs == 0 or best < SLOW_SECONDS):
        gc.collect()
        start = time.perf_counter()
        summary = read(path)
        best, runs = min(best, time.perf_counter() - start), runs + 1
    return best, runs, summary


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=int, default=32, help="size of each file (default 32)")
    args = parser.parse_args()
    size = args.mib << 20
    print(f"subparse {subparse.__version__} ({subparse.library_path()}), "
          f"Python {sys.version.split()[0]}")
    met = True
    with tempfile.TemporaryDirectory() as folder:
        files = {"SRT": (os.path.join(folder, "bench.srt"), make_srt(size)),
                 "WebVTT": (os.path.join(folder, "bench.vtt"), make_vtt(size))}
        for path, data in files.values():
            with open(path, "wb") as f:
                f.write(data)
        print(f"\n{'format':7} {'library':21} {'runs':>4} {'s':>7} {'MB/s':>7} "
              f"{'cues':>8} {'ms sum':>14} {'chars':>10}")
        for fmt, readers in READERS.items():
            path, data = files[fmt]
            rates: dict[str, float] = {}
            summaries = set()
            for name, read in readers:
                seconds, runs, (n, times, chars) = timed(read, path)
                rates[name] = len(data) / seconds / 1e6
                summaries.add((n, times, chars))
                print(f"{fmt:7} {name:21} {runs:4} {seconds:7.2f} {rates[name]:7.1f} "
                      f"{n:8} {times:14} {chars:10}", flush=True)
            peer = max((r, name) for name, r in rates.items() if name != "subparse")
            ratio = rates["subparse"] / peer[0]
            met = met and ratio >= TARGET
            print(f"{fmt}: subparse / fastest peer ({peer[1]}) = {ratio:.1f}x "
                  f"(target {TARGET:.0f}x); the readers "
                  f"{'agree' if len(summaries) == 1 else 'DISAGREE'} on cues, times and text")
            load, walk = subparse_floor(path)
            bound = len(data) / (load + walk) / 1e6 / peer[0]
            print(f"{fmt}: floor: subparse.load alone {load:.3f} s, the loop over cues already "
                  f"made {walk:.3f} s; making cues for free would give at most {bound:.1f}x\n")
    print(f"target {'met' if met else 'NOT MET'}: subparse at least {TARGET:.0f}x the fastest "
          "peer on every format")
    return 0


if __name__ == "__main__":
    sys.exit(main())
