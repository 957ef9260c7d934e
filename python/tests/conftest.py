"""Shared inputs of the suites. They run against the installed package
(scripts/python_test.sh runs them from outside the source tree)."""

import os
from pathlib import Path

import pytest

SRT = (b"1\n00:00:01,000 --> 00:00:02,500\nfirst line\nsecond line\n\n"
       b"2\n00:00:03,000 --> 00:00:04,000\ncaf\xc3\xa9\n")
SRT_CUES = [(1000, 2500, ("first line", "second line")), (3000, 4000, ("café",))]
BILIBILI = (b'<?xml version="1.0"?><i><d p="1.5,1,25,16777215,0,0,0,0">hello</d>'
            b'<d p="3,5,36,255,0,0,0,0">top &amp; blue</d></i>')
# Times every writer holds (centiseconds, past an hour), two lines in a cue.
WRITE_SAMPLE = SRT + b"\n3\n01:02:03,450 --> 01:02:05,000\nan hour in\n"
WRITE_CUES = SRT_CUES + [(3723450, 3725000, ("an hour in",))]


def child_env(**extra):
    """The environment of a child Python that imports the package under test."""
    import subparse

    path = [str(Path(subparse.__file__).parent.parent), os.environ.get("PYTHONPATH", "")]
    return {**os.environ, "PYTHONPATH": os.pathsep.join(p for p in path if p), **extra}


def timed(subs):
    """(start, end, lines) of every cue."""
    return [(c.start, c.end, c.lines) for c in subs]


def big_srt(size: int, word: str = "line") -> bytes:
    """An SRT file of at least `size` bytes, cue n at n seconds, text "WORD n"."""
    parts, total, n = [], 0, 0
    while total < size:
        n += 1
        clock = f"{n // 3600:02}:{n // 60 % 60:02}:{n % 60:02}"
        block = f"{n}\n{clock},000 --> {clock},500\n{word} {n}\n\n"
        parts.append(block)
        total += len(block)
    return "".join(parts).encode()


@pytest.fixture(scope="session")
def corpus() -> Path:
    """The shared corpus of real files (SUBPARSE_CORPUS); skips without it."""
    path = os.environ.get("SUBPARSE_CORPUS")
    if not path or not Path(path).is_dir():
        pytest.skip(f"no corpus: SUBPARSE_CORPUS={path!r} is not a folder (scripts/python_test.sh "
                    "sets it to ../shared/corpus beside the repository)")
    return Path(path)


@pytest.fixture(scope="session")
def big_file(tmp_path_factory) -> Path:
    """A 32 MiB SRT file on disk."""
    path = tmp_path_factory.mktemp("big") / "big.srt"
    path.write_bytes(big_srt(32 << 20))
    return path
