"""subparse for Python: the library's C API through ctypes, standard library only.

    from subparse import Subparse

    lib = Subparse()                      # or Subparse("/path/to/libsubparse.so.0")
    result = lib.parse(open("movie.srt", "rb").read())
    print(result.format, len(result))
    for cue in result:
        print(cue.start_ms, cue.end_ms, " | ".join(cue.lines))
    doc = result.to_dict()                # the library's JSON document

The library keeps one result per process and is not reentrant, so a
Subparse serialises its calls with a lock shared by every instance, and
parse() copies everything out before it returns: a Result stays valid after
later parses. A failed parse raises SubparseError with the library's code and
error text.

The library is found from the path given, else $SUBPARSE_LIBRARY, else
ctypes.util.find_library("subparse"), else "libsubparse.so.0".

Run as a script, `python3 subparse.py FILE [ENCODING]` prints one line per
cue: "START --> END  LINE | LINE", danmaku adding their mode, colour and size.
"""

import ctypes
import ctypes.util
import json
import os
import sys
import threading
from dataclasses import dataclass
from typing import Optional, Tuple, Union

FORMATS = ("srt", "vtt", "ass", "microdvd", "subviewer", "ttml", "ytxml", "lrc", "sami",
           "bilibili", "acfun")

_CODE_NAMES = {1: "unknown format", 2: "decoding failed", 3: "empty buffer",
               4: "out of memory", 5: "nothing parsed"}

# name: (result type, argument types), exactly as subparse.h declares them.
_I32, _U32, _STR = ctypes.c_int32, ctypes.c_uint32, ctypes.c_char_p
_SIGNATURES = {
    "sub_parse": (_I32, [ctypes.c_void_p, ctypes.c_size_t, _I32, _STR]),
    "sub_format_name": (_STR, [_I32]),
    "sub_detect_format": (_I32, [ctypes.c_void_p, ctypes.c_size_t, _STR]),
    "sub_clear": (None, []),
    "sub_cue_count": (_I32, []),
    "sub_cue_start_ms": (_I32, [_I32]),
    "sub_cue_end_ms": (_I32, [_I32]),
    "sub_cue_line_count": (_I32, [_I32]),
    "sub_cue_line": (_STR, [_I32, _I32]),
    "sub_cue_is_danmu": (_I32, [_I32]),
    "sub_cue_danmu_mode": (_I32, [_I32]),
    "sub_cue_danmu_color": (_U32, [_I32]),
    "sub_cue_danmu_fontsize": (ctypes.c_float, [_I32]),
    "sub_last_error": (_STR, []),
    "sub_warning_count": (_I32, []),
    "sub_warning": (_STR, [_I32]),
    "sub_detected_format": (_I32, []),
    "sub_result_json": (_STR, []),
}

# One lock for the process: the library's result is process-wide.
_LOCK = threading.Lock()


class SubparseError(Exception):
    """A failed parse: `code` is sub_parse's result, `message` the library's text."""

    def __init__(self, code: int, message: str, warnings: Tuple[str, ...] = ()):
        self.code = code
        self.message = message or _CODE_NAMES.get(code, "parse failed")
        self.warnings = warnings  # raised by the failed parse before it gave up
        super().__init__(f"{self.message} (code {code})")


@dataclass(frozen=True)
class Cue:
    """One timed cue. Danmaku fields keep the library's values for other cues
    (danmu False, mode 0, color 0, fontsize 25.0)."""

    start_ms: int
    end_ms: int
    lines: Tuple[str, ...]
    danmu: bool = False
    mode: int = 0
    color: int = 0
    fontsize: float = 25.0


@dataclass(frozen=True)
class Result:
    """A parse's whole result, copied out of the library."""

    format: str
    format_id: int
    cues: Tuple[Cue, ...]
    warnings: Tuple[str, ...]
    json: str

    def __iter__(self):
        return iter(self.cues)

    def __len__(self):
        return len(self.cues)

    def to_dict(self) -> dict:
        """The library's JSON document as Python objects."""
        return json.loads(self.json)


def _text(raw: Optional[bytes]) -> str:
    # The accessors hand out the parsed bytes; the rare ill-formed ones are
    # shown as U+FFFD, as the JSON document shows them.
    return raw.decode("utf-8", errors="replace") if raw is not None else ""


class Subparse:
    """The loaded library.

    parse() holds a lock shared by every instance while it calls into the
    library and copies the result out, because the library keeps one result
    per process: threads may share an instance or each make their own.
    detect() and format_name() keep no state and take no lock."""

    def __init__(self, path: Optional[str] = None):
        path = (path or os.environ.get("SUBPARSE_LIBRARY") or ctypes.util.find_library("subparse")
                or "libsubparse.so.0")
        self._lib = ctypes.CDLL(path)
        for name, (restype, argtypes) in _SIGNATURES.items():
            function = getattr(self._lib, name)
            function.restype = restype
            function.argtypes = argtypes

    @staticmethod
    def format_id(format: Union[int, str]) -> int:
        """The identifier of a format name ("srt" ... "acfun", "auto" = -1);
        integers pass unchanged (the library answers code 1 for unknown ones)."""
        if isinstance(format, int) and not isinstance(format, bool):
            return format
        if not isinstance(format, str):
            raise TypeError(f"format must be a name or an identifier, not {type(format).__name__}")
        if format.lower() == "auto":
            return -1
        try:
            return FORMATS.index(format.lower())
        except ValueError:
            raise ValueError(f"unknown format {format!r}; known: auto, {', '.join(FORMATS)}") from None

    def format_name(self, format_id: int) -> str:
        """The library's name of an identifier: "srt" ... "acfun", "auto", "unknown"."""
        return _text(self._lib.sub_format_name(format_id))

    def detect(self, data: Union[bytes, str], name: Optional[str] = None) -> Optional[str]:
        """The format the content (else the file name's extension) suggests, or None."""
        if isinstance(data, str):
            data = data.encode("utf-8")
        found = self._lib.sub_detect_format(data, len(data), name.encode() if name else None)
        return self.format_name(found) if found >= 0 else None

    def parse(self, data: Union[bytes, str], format: Union[int, str] = "auto",
              encoding: Optional[str] = None) -> Result:
        """Parses a whole file. `format` is a name or identifier ("auto" detects
        it); `encoding` names the input's encoding (None decodes automatically).
        Raises SubparseError when the library fails."""
        if isinstance(data, str):
            data = data.encode("utf-8")
        format_id = self.format_id(format)
        lib = self._lib
        with _LOCK:
            code = lib.sub_parse(data, len(data), format_id,
                                 encoding.encode() if encoding is not None else None)
            warnings = tuple(_text(lib.sub_warning(i)) for i in range(lib.sub_warning_count()))
            if code != 0:
                raise SubparseError(code, _text(lib.sub_last_error()), warnings)
            cues = tuple(
                Cue(lib.sub_cue_start_ms(i), lib.sub_cue_end_ms(i),
                    tuple(_text(lib.sub_cue_line(i, k)) for k in range(lib.sub_cue_line_count(i))),
                    bool(lib.sub_cue_is_danmu(i)), lib.sub_cue_danmu_mode(i),
                    lib.sub_cue_danmu_color(i), lib.sub_cue_danmu_fontsize(i))
                for i in range(lib.sub_cue_count()))
            detected = lib.sub_detected_format()
            document = _text(lib.sub_result_json())
            lib.sub_clear()
        return Result(self.format_name(detected), detected, cues, warnings, document)


def _clock(ms: int) -> str:
    """[-]H:MM:SS.mmm, as the command-line tool's --cues prints times."""
    sign, ms = ("-", -ms) if ms < 0 else ("", ms)
    return f"{sign}{ms // 3600000}:{ms // 60000 % 60:02}:{ms // 1000 % 60:02}.{ms % 1000:03}"


def main(argv) -> int:
    if len(argv) not in (2, 3):
        print("usage: subparse.py FILE [ENCODING]", file=sys.stderr)
        return 64
    with open(argv[1], "rb") as f:
        data = f.read()
    try:
        result = Subparse().parse(data, encoding=argv[2] if len(argv) == 3 else None)
    except SubparseError as error:
        print(f"subparse.py: {argv[1]}: {error}", file=sys.stderr)
        return error.code
    for warning in result.warnings:
        print(f"warning: {warning}", file=sys.stderr)
    for cue in result:
        extra = f"  [mode {cue.mode}, colour #{cue.color:06X}, size {cue.fontsize:g}]" if cue.danmu else ""
        print(f"{_clock(cue.start_ms)} --> {_clock(cue.end_ms)}  {' | '.join(cue.lines)}{extra}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
