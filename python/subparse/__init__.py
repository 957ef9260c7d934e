"""subparse: read, convert and retime subtitle files.

Reads SRT, WebVTT, ASS/SSA, MicroDVD, SubViewer, TTML/DFXP, YouTube XML,
LRC, SAMI, and Bilibili and AcFun danmaku (comments); writes SRT, WebVTT,
ASS, LRC, TTML and JSON. The work is done by the C library libsubparse,
built and bundled with this package when pip installs it.

Quick tour
----------

    import subparse

    subs = subparse.load("movie.srt")        # a path; parse(b"...") takes content
    print(subs.format, subs.encoding, len(subs), subs.warnings)
    for cue in subs:                          # Cue(start, end, lines, ...)
        print(cue.start, cue.end, cue.text)
    first, last = subs[0], subs[-1]           # cues are read when asked for
    subs.shift(2000).scale(25, 23.976).sort() # retime in place; calls chain
    vtt = subs.write("vtt")                   # the text of another format
    subs.save("movie.ass", ass_font="DejaVu Sans")   # format from the extension
    doc = subs.to_dict()                      # the library's JSON document
    subs.close()                              # or: with subparse.load(...) as subs:

Reading
-------
load(path, format="auto", encoding="auto", reading="standard",
microdvd_fps=None) reads a file; parse(data, ...) takes bytes, or a str as
the text itself. Both return Subtitles, a sequence of Cue. The encoding is
detected unless named ("cp1251", "gbk", ...); a guess is named in
Subtitles.warnings ("encoding: detected CP1251"). WebVTT read by the
standard reading keeps each cue's identifier and settings (Cue.id,
Cue.settings); danmaku keep their mode, colour and size (Cue.mode,
Cue.color, Cue.fontsize; None for other formats).

Writing
-------
Subtitles.write(format="srt", **options) returns the text; save(path,
format=None, **options) writes a file in one step (an interrupted save
leaves the old file). Options: vtt_header, ass_play_res=(x, y), ass_font,
ass_font_size, ttml_lang, and for danmaku written as ASS the layout
options danmaku_* (see Subtitles.write), among them danmaku_measure, a
callable (text, font_px) -> width that measures text as your renderer does.

Errors
------
Every failure of the library raises an Error (with .code, .message and
.warnings): UnknownFormat (1), DecodeError (2), EmptyInput (3), NoCues (5),
ArgumentError (6); UnknownFormat and ArgumentError are ValueErrors too.
Memory running out raises MemoryError. Using Subtitles after close()
raises ValueError.

Cues
----
A loop over Subtitles reads its cues from the document in batches (8 at
first, then up to 1024), so the first comes at once however large the file;
each Cue is a value of its own (see help(subparse.Cue)). close() during a
loop ends it with ValueError at the next batch.

Threads
-------
Each Subtitles owns its own document in the library, and ctypes lets go of
the GIL during each call: parses on several threads run in parallel. A
Subtitles shared between threads lets one call in at a time.

From the shell
--------------
    python -m subparse movie.srt                 # list the cues
    python -m subparse movie.srt --info          # format, encoding, count
    python -m subparse movie.srt --to vtt        # convert to standard output
    python -m subparse movie.srt -o movie.ass    # convert to a file

The library is the libsubparse.so installed beside this module; the
environment variable SUBPARSE_LIBRARY names another one (a build tree's).
"""

from __future__ import annotations

from importlib import metadata as _metadata

try:
    from . import _cues  # noqa: F401 - built by the package's install, not found in a source tree
except ImportError as _error:
    raise ImportError("subparse: the extension module subparse._cues is not built: install the "
                      "package with pip (pip install --no-build-isolation ./python from the "
                      "repository), which builds it and bundles the library") from _error

from ._core import (FORMATS, WRITE_FORMATS, ArgumentError, Cue, DecodeError, EmptyInput, Error,
                    NoCues, Subtitles, UnknownFormat, detect, load, parse)
from ._native import LibraryNotFoundError

# Shown as subparse.Error, subparse.Subtitles, ... in help() and tracebacks.
# (Cue, defined in C, is named subparse.Cue there.)
for _public in (Subtitles, Error, UnknownFormat, DecodeError, EmptyInput, NoCues,
                ArgumentError, LibraryNotFoundError, load, parse, detect):
    _public.__module__ = __name__
del _public

try:
    __version__ = _metadata.version("subparse")
except _metadata.PackageNotFoundError:  # run from a source tree, not installed
    __version__ = "0+unknown"


def library_path() -> str:
    """The path of the libsubparse.so in use (loading it if not yet
    loaded); raises LibraryNotFoundError when it cannot be loaded."""
    from . import _native

    _native.lib()
    return _native.loaded_path()


__all__ = ["load", "parse", "detect", "Subtitles", "Cue", "Error", "UnknownFormat", "DecodeError",
           "EmptyInput", "NoCues", "ArgumentError", "LibraryNotFoundError", "FORMATS",
           "WRITE_FORMATS", "library_path", "__version__"]
