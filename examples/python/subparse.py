"""subparse for Python: the library's document API through ctypes, standard
library only.

    from subparse import Subparse

    lib = Subparse()                      # or Subparse("/path/to/libsubparse.so.0")
    with lib.parse(open("movie.srt", "rb").read()) as result:
        print(result.format, result.encoding, len(result))
        for cue in result:
            print(cue.start_ms, cue.end_ms, " | ".join(cue.lines))
        first, last = result[0], result[-1]
        doc = result.to_dict()            # the library's JSON document
        vtt = result.shift(2000).write("vtt")   # retimed, then written as WebVTT
        result.save("movie.ass", ass_font="DejaVu Sans")

Every parse makes its own document in the library, so parses may run in many
threads at once (ctypes lets go of the GIL during each call) and results stay
valid whatever else is parsed. A Result holds its document and reads cues
from it when asked (each cue read comes back as a Cue that owns its values).
It frees the document on close(), at the end of a `with` block, or at the
latest when it is garbage-collected; after close() its format, format_id,
encoding and warnings stay readable, while its cues and JSON raise ValueError.
A Result may be shared between threads: its own lock lets one at a time in.

A failed parse raises SubparseError with the library's code, error text and
warnings; its document is freed before the error is raised. A library that
cannot be loaded raises LibraryNotFoundError (an OSError) that says where it
looked.

The library is found from the path given, else $SUBPARSE_LIBRARY, else
ctypes.util.find_library("subparse"), else "libsubparse.so.0" on the dynamic
loader's search path.

Encodings: parse() leaves the encoding to the library unless one is named,
and the library's default is "auto": a byte-order mark, else UTF-16/UTF-32
recognised by their zero bytes, else UTF-8 when the bytes are valid UTF-8,
else the most plausible legacy encoding (GB18030, BIG5, SHIFT_JIS, CP1251,
...), named in the warning "encoding: detected NAME" and in Result.encoding.
A name ("cp1251", "gbk", any name iconv knows) is taken as it is, and ""
keeps the library's fixed rule (byte-order mark, else UTF-8 unless 8 or more
sequences are invalid, else CP1252 or ISO-8859-1).

Writing: Result.write(fmt) gives the cues as the text of a format ("srt",
"vtt", "ass", "lrc", "ttml", "json", or an alias the library knows:
"webvtt", "ssa", "dfxp", "subrip"), and Result.save(path) writes that text to
a file as UTF-8, in the format its extension names unless fmt is given. The
file is replaced in one step: the text goes to a temporary file in the same
folder first, which then takes the file's name, so that a failure never
leaves a half-written file. Options are keyword arguments: vtt_header=,
ass_play_res=(x, y) (or ass_play_res_x=, ass_play_res_y=), ass_font=,
ass_font_size=, ttml_lang=; the library's defaults stand for those not given.
Danmaku written as ASS are laid out as the sites' players show them, with
danmaku_font_size=, danmaku_scroll_ms=, danmaku_fixed_ms=, danmaku_opacity=,
danmaku_scroll_share=, danmaku_overflow="drop"|"overlap",
danmaku_drop_modes=(4, 5, 7), danmaku_block_words=["word", ...] and
danmaku_measure=lambda text, font_px: width (see Result.write); the comments
the layout leaves out are counted in warnings that Result.warnings holds
after the write:

    with lib.parse(open("comments.xml", "rb").read()) as result:
        result.save("comments.ass", ass_play_res=(1280, 720), danmaku_drop_modes=(7,))
        print(result.warnings)   # e.g. ('danmaku: 3 comments dropped: filtered out',)

Retiming changes the document in place: shift(ms), scale(from_fps, to_fps)
and sort() each return the Result, so that calls chain. A format with no
writer, or an option value the library refuses, raises ValueError.

Run as a script, `python3 subparse.py FILE [ENCODING]` prints one line per
cue: "START --> END  LINE | LINE", danmaku adding their mode, colour and size.
It exits with the library's code when the parse fails, 64 on a usage error,
66 when FILE cannot be read and 69 when the library cannot be loaded.
"""

import contextlib
import ctypes
import ctypes.util
import json
import math
import numbers
import operator
import os
import stat
import sys
import threading
import warnings as pywarnings
from dataclasses import dataclass
from typing import Callable, Iterable, Iterator, Optional, Tuple, Union

# Format identifiers and return codes, as subparse.h defines them.
SUB_FMT_AUTO = -1
SUB_FMT_SRT = 0
SUB_FMT_VTT = 1
SUB_FMT_ASS = 2
SUB_FMT_MICRODVD = 3
SUB_FMT_SUBVIEWER = 4
SUB_FMT_TTML = 5
SUB_FMT_YTXML = 6
SUB_FMT_LRC = 7
SUB_FMT_SAMI = 8
SUB_FMT_BILIBILI = 9
SUB_FMT_ACFUN = 10
SUB_FMT_COUNT = 11
SUB_FMT_JSON = 64  # an output format only: the library's JSON document

SUB_READING_CLASSIC = 0
SUB_READING_STANDARD = 1
_READINGS = {"classic": SUB_READING_CLASSIC, "standard": SUB_READING_STANDARD}

SUB_OK = 0
SUB_ERR_FORMAT = 1
SUB_ERR_DECODE = 2
SUB_ERR_EMPTY = 3
SUB_ERR_NOMEM = 4
SUB_ERR_NOCUES = 5
SUB_ERR_ARGUMENT = 6  # document API only: an argument or option value it cannot use

# Values of SubWriteOptions.danmaku_overflow.
SUB_DANMAKU_DROP = 0
SUB_DANMAKU_OVERLAP = 1
_OVERFLOWS = {"drop": SUB_DANMAKU_DROP, "overlap": SUB_DANMAKU_OVERLAP}

FORMATS = ("srt", "vtt", "ass", "microdvd", "subviewer", "ttml", "ytxml", "lrc", "sami",
           "bilibili", "acfun")
# The formats sub_doc_write() writes, by the names sub_format_id() takes
# (aliases: "subrip", "webvtt", "ssa", "dfxp").
WRITE_FORMATS = ("srt", "vtt", "ass", "lrc", "ttml", "json")

_CODE_NAMES = {SUB_ERR_FORMAT: "unknown format", SUB_ERR_DECODE: "decoding failed",
               SUB_ERR_EMPTY: "empty buffer", SUB_ERR_NOMEM: "out of memory",
               SUB_ERR_NOCUES: "nothing parsed", SUB_ERR_ARGUMENT: "unusable argument"}

_INT32_MIN, _INT32_MAX = -2**31, 2**31 - 1
_INT64_MIN, _INT64_MAX = -2**63, 2**63 - 1


class SubParseOptions(ctypes.Structure):
    """struct SubParseOptions; fill it with sub_parse_options_init_size() first,
    passing the size of this declaration, so that the library fills the
    members this module knows and no more."""

    _fields_ = [("size", ctypes.c_size_t), ("format", ctypes.c_int32),
                ("encoding", ctypes.c_char_p), ("reading", ctypes.c_int32),
                ("microdvd_fps", ctypes.c_double)]


# double (*danmaku_measure)(const char *text, double font_px, void *user)
DanmakuMeasure = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_char_p, ctypes.c_double,
                                  ctypes.c_void_p)


class SubWriteOptions(ctypes.Structure):
    """struct SubWriteOptions; fill it with sub_write_options_init_size() first."""

    _fields_ = [("size", ctypes.c_size_t), ("vtt_header", ctypes.c_char_p),
                ("ass_play_res_x", ctypes.c_int32), ("ass_play_res_y", ctypes.c_int32),
                ("ass_font", ctypes.c_char_p), ("ass_font_size", ctypes.c_double),
                ("ttml_lang", ctypes.c_char_p),
                ("danmaku_font_size", ctypes.c_double), ("danmaku_scroll_ms", ctypes.c_int32),
                ("danmaku_fixed_ms", ctypes.c_int32), ("danmaku_opacity", ctypes.c_double),
                ("danmaku_scroll_share", ctypes.c_double), ("danmaku_overflow", ctypes.c_int32),
                ("danmaku_drop_modes", ctypes.c_uint32), ("danmaku_block_words", ctypes.c_char_p),
                ("danmaku_measure", DanmakuMeasure), ("danmaku_measure_user", ctypes.c_void_p)]


# name: (result type, argument types), exactly as subparse.h declares them.
# Only what this module calls: the classic API's process-wide result is not used.
_I32, _U32, _STR, _DOC = ctypes.c_int32, ctypes.c_uint32, ctypes.c_char_p, ctypes.c_void_p
_SIGNATURES = {
    "sub_format_name": (_STR, [_I32]),
    "sub_detect_format": (_I32, [ctypes.c_void_p, ctypes.c_size_t, _STR]),
    "sub_format_id": (_I32, [_STR]),
    "sub_parse_options_init_size": (None, [ctypes.POINTER(SubParseOptions), ctypes.c_size_t]),
    "sub_doc_parse": (_I32, [ctypes.c_void_p, ctypes.c_size_t, ctypes.POINTER(SubParseOptions),
                             ctypes.POINTER(_DOC)]),
    "sub_doc_free": (None, [_DOC]),
    "sub_doc_cue_count": (_I32, [_DOC]),
    "sub_doc_cue_start_ms": (_I32, [_DOC, _I32]),
    "sub_doc_cue_end_ms": (_I32, [_DOC, _I32]),
    "sub_doc_cue_line_count": (_I32, [_DOC, _I32]),
    "sub_doc_cue_line": (_STR, [_DOC, _I32, _I32]),
    "sub_doc_cue_is_danmu": (_I32, [_DOC, _I32]),
    "sub_doc_cue_danmu_mode": (_I32, [_DOC, _I32]),
    "sub_doc_cue_danmu_color": (_U32, [_DOC, _I32]),
    "sub_doc_cue_danmu_fontsize": (ctypes.c_float, [_DOC, _I32]),
    "sub_doc_cue_id": (_STR, [_DOC, _I32]),
    "sub_doc_cue_settings": (_STR, [_DOC, _I32]),
    "sub_doc_error": (_STR, [_DOC]),
    "sub_doc_warning_count": (_I32, [_DOC]),
    "sub_doc_warning": (_STR, [_DOC, _I32]),
    "sub_doc_format": (_I32, [_DOC]),
    "sub_doc_encoding": (_STR, [_DOC]),
    "sub_doc_json": (_STR, [_DOC]),
    "sub_write_options_init_size": (None, [ctypes.POINTER(SubWriteOptions), ctypes.c_size_t]),
    # The text comes back as a plain address, so that it reaches sub_text_free().
    "sub_doc_write": (_I32, [_DOC, _I32, ctypes.POINTER(SubWriteOptions),
                             ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_size_t)]),
    "sub_text_free": (None, [ctypes.c_void_p]),
    "sub_doc_shift": (_I32, [_DOC, ctypes.c_int64]),
    "sub_doc_scale": (_I32, [_DOC, ctypes.c_double, ctypes.c_double]),
    "sub_doc_sort": (_I32, [_DOC]),
}


class SubparseError(Exception):
    """A failed parse: `code` is the library's result, `message` its text."""

    def __init__(self, code: int, message: str, warnings: Tuple[str, ...] = ()):
        self.code = code
        self.message = message or _CODE_NAMES.get(code, "parse failed")
        self.warnings = warnings  # raised by the failed parse before it gave up
        super().__init__(f"{self.message} (code {code})")


class LibraryNotFoundError(OSError):
    """The library could not be loaded, or lacks the functions this module needs."""


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
    id: Optional[str] = None        # WebVTT's standard reading: the cue identifier
    settings: Optional[str] = None  # and its settings, "name:value" pairs


def _text(raw: Optional[bytes]) -> str:
    # The accessors hand out the parsed bytes; the rare ill-formed ones are
    # shown as U+FFFD, as the JSON document shows them.
    return raw.decode("utf-8", errors="replace") if raw is not None else ""


def _optional_text(raw: Optional[bytes]) -> Optional[str]:
    return _text(raw) if raw is not None else None


def _warnings(lib, doc) -> Tuple[str, ...]:
    return tuple(_text(lib.sub_doc_warning(doc, i)) for i in range(lib.sub_doc_warning_count(doc)))


def _real(name: str, value) -> float:
    """A number handed to the library as a double. bool is refused: True
    would quietly read as 1."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    try:
        return float(value)
    except OverflowError:
        raise ValueError(f"{name} {value} is too large") from None


# What the library accepts of each write option, named in the error raised
# when it refuses one (sub_doc_write() answers with a code, not a text).
_WRITE_OPTION_RULES = {
    "vtt_header": "free of line breaks and '-->'",
    "ass_play_res_x": "1 to 16384",
    "ass_play_res_y": "1 to 16384",
    "ass_font": "a name that is not empty, free of commas and line breaks",
    "ass_font_size": "above 0 and at most 10000",
    "ttml_lang": "free of quotes, '<', '>', '&' and line breaks",
    "danmaku_font_size": "1 to 1000 pixels",
    "danmaku_scroll_ms": "500 to 60000",
    "danmaku_fixed_ms": "500 to 60000",
    "danmaku_opacity": "above 0 and at most 1",
    "danmaku_scroll_share": "above 0 and at most 1",
    "danmaku_overflow": "'drop' or 'overlap'",
    "danmaku_drop_modes": "modes from 1 to 31",
    "danmaku_block_words": "words free of line feeds",
    "danmaku_measure": "a callable (text, font_px) -> width",
}
_TEXT_OPTIONS = ("vtt_header", "ass_font", "ttml_lang")
_REAL_OPTIONS = ("ass_font_size", "danmaku_font_size", "danmaku_opacity", "danmaku_scroll_share")
_WRITERS_TEXT = "srt, vtt (webvtt), ass (ssa), lrc, ttml (dfxp), json"


class _Measure:
    """The host's danmaku_measure as the library calls it. An exception in
    it cannot cross the C library: the library's estimate stands in
    (-1.0 asks for it), the first exception is kept, and after the write
    an Exception becomes a RuntimeWarning while a KeyboardInterrupt or
    SystemExit is raised again (the measure is not called once one came)."""

    def __init__(self, measure: Callable[[str, float], float]):
        self.measure = measure
        self.error: Optional[BaseException] = None
        self.failures = 0
        # Kept here, and so alive as long as the options are: the library
        # calls it through this object's address.
        self.pointer = DanmakuMeasure(self._call)

    def _call(self, text: Optional[bytes], font_px: float, _user) -> float:
        if self.error is not None and not isinstance(self.error, Exception):
            return -1.0
        try:
            return float(self.measure(_text(text), font_px))
        except BaseException as error:  # nothing may unwind through the C library
            self.failures += 1
            if self.error is None:
                self.error = error
            return -1.0

    def report(self) -> None:
        """After the write: what the measure raised, if anything."""
        if self.error is None:
            return
        if not isinstance(self.error, Exception):
            raise self.error
        pywarnings.warn(f"subparse: danmaku_measure raised {self.error!r}; the library's estimate "
                        f"stood in for {self.failures} text(s)", RuntimeWarning, stacklevel=4)


def _int32(name: str, value) -> int:
    """An integer member, refused here when ctypes would cut it silently."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not _INT32_MIN <= value <= _INT32_MAX:
        raise ValueError(f"{name} {value} is out of range: it must be {_WRITE_OPTION_RULES[name]}")
    return value


def _iterable(name: str, value, what: str) -> list:
    # A str is iterable too, one character at a time: never what was meant.
    if isinstance(value, (str, bytes, bytearray)):
        raise TypeError(f"{name} must be an iterable of {what}, not a single "
                        f"{type(value).__name__}")
    try:
        return list(value)
    except TypeError:
        raise TypeError(f"{name} must be an iterable of {what}, not "
                        f"{type(value).__name__}") from None


def _drop_modes(value: Iterable[int]) -> int:
    """The bit mask of an iterable of danmaku modes (bit m for mode m)."""
    mask = 0
    for mode in _iterable("danmaku_drop_modes", value, "modes"):
        if isinstance(mode, bool):
            raise TypeError("danmaku_drop_modes holds a bool, not a mode")
        try:
            mode = operator.index(mode)
        except TypeError:
            raise TypeError(f"danmaku_drop_modes holds {mode!r}, not an integer mode") from None
        if not 1 <= mode <= 31:
            raise ValueError(f"danmaku_drop_modes holds mode {mode}: modes are 1 to 31")
        mask |= 1 << mode
    return mask


def _block_words(value: Iterable[str]) -> bytes:
    """The library's line-feed separated words; empty words, which the
    library skips, are left out."""
    words = []
    for word in _iterable("danmaku_block_words", value, "words"):
        if not isinstance(word, str):
            raise TypeError(f"danmaku_block_words holds {word!r}, not a str")
        if "\n" in word or "\0" in word:
            raise ValueError(f"danmaku_block_words holds {word!r}: a word cannot hold a line feed "
                             "or a NUL character")
        if word:
            words.append(word)
    return "\n".join(words).encode("utf-8")


class _WriteOptions:
    """The SubWriteOptions of a write, with what must live as long as it:
    the values given by member name (for the message should the library
    refuse one) and the measure callback."""

    def __init__(self, struct: SubWriteOptions, given: dict, measure: Optional[_Measure]):
        self.struct = struct
        self.given = given
        self.measure = measure


def _write_options(lib, options: dict) -> _WriteOptions:
    """The SubWriteOptions of write()'s keyword arguments, the library's
    defaults standing for those missing or None. Types, NULs, 32-bit ranges
    and the danmaku options this module translates (overflow, modes, words)
    are checked here, since ctypes would cut a long integer silently; the
    library judges every value that reaches it."""
    unknown = sorted(set(options) - {"ass_play_res", *_WRITE_OPTION_RULES})
    if unknown:
        raise TypeError(f"unknown write option {', '.join(unknown)}; known: ass_play_res, "
                        + ", ".join(_WRITE_OPTION_RULES))
    given = {name: value for name, value in options.items() if value is not None}
    if "ass_play_res" in given:
        if "ass_play_res_x" in given or "ass_play_res_y" in given:
            raise TypeError("give ass_play_res=(x, y) or ass_play_res_x=/ass_play_res_y=, not both")
        pair = given.pop("ass_play_res")
        try:
            given["ass_play_res_x"], given["ass_play_res_y"] = pair
        except (TypeError, ValueError):
            raise TypeError(f"ass_play_res must be a pair (x, y), not {pair!r}") from None
    struct = SubWriteOptions()
    lib.sub_write_options_init_size(ctypes.byref(struct), ctypes.sizeof(struct))
    measure = None
    for name, value in given.items():
        if name in _TEXT_OPTIONS:
            if not isinstance(value, str):
                raise TypeError(f"{name} must be a str, not {type(value).__name__}")
            value = value.encode("utf-8")
            if b"\0" in value:
                raise ValueError(f"{name} contains a NUL character")
        elif name in _REAL_OPTIONS:
            value = _real(name, value)
        elif name == "danmaku_overflow":
            if not isinstance(value, str):
                raise TypeError(f"danmaku_overflow must be 'drop' or 'overlap', not "
                                f"{type(value).__name__}")
            if value not in _OVERFLOWS:
                raise ValueError(f"danmaku_overflow must be 'drop' or 'overlap', not {value!r}")
            value = _OVERFLOWS[value]
        elif name == "danmaku_drop_modes":
            value = _drop_modes(value)
        elif name == "danmaku_block_words":
            value = _block_words(value)
        elif name == "danmaku_measure":
            if not callable(value):
                raise TypeError(f"danmaku_measure must be a callable (text, font_px) -> width, "
                                f"not {type(value).__name__}")
            measure = _Measure(value)
            value = measure.pointer
        else:
            value = _int32(name, value)
        setattr(struct, name, value)  # the structure keeps the bytes alive
    return _WriteOptions(struct, given, measure)


def _refused(given: dict) -> str:
    if not given:
        return "subparse: the library refused the default write options"
    # The library does not say which one it refused: each given is listed
    # with what it must be.
    return "subparse: the library refused the write options given: " + "; ".join(
        f"{name}={value!r} (must be {_WRITE_OPTION_RULES[name]})" for name, value in given.items())


def _replace_file(path: str, data: bytes) -> None:
    """Writes `data` to `path` in one step: into a new file beside it, which
    then takes its name (os.replace), so that readers see the old file or
    the new one and a failure leaves neither half a file nor the temporary.
    A file that was there keeps its permission bits; a new one gets the
    umask's, as open() would give it. A symbolic link keeps pointing to the
    file it named, which is the one replaced."""
    target = os.path.realpath(path)
    folder, name = os.path.split(target)
    try:
        mode: Optional[int] = stat.S_IMODE(os.stat(target).st_mode)
    except OSError:
        mode = None
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0)
    for _ in range(100):
        # Hidden, and short enough that a long name still fits the folder.
        temporary = os.path.join(folder, f".{name[:100]}.{os.urandom(6).hex()}.tmp")
        try:
            fd = os.open(temporary, flags, 0o666)
            break
        except FileExistsError:
            continue
    else:
        raise FileExistsError(f"subparse: no free temporary name beside {path!r}")
    try:
        with open(fd, "wb") as f:
            f.write(data)
            f.flush()
            if mode is not None and hasattr(os, "fchmod"):
                os.fchmod(f.fileno(), mode)
            os.fsync(f.fileno())
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


class Result:
    """One parsed document, owned by this object until close()."""

    def __init__(self, lib: ctypes.CDLL, doc: int):
        self._lib = lib
        self._doc = doc  # the SubDoc's address; None once freed
        self._lock = threading.Lock()
        self._json: Optional[str] = None
        self.format_id: int = lib.sub_doc_format(doc)
        self.format: str = _text(lib.sub_format_name(self.format_id))
        self.encoding: str = _text(lib.sub_doc_encoding(doc))
        self.warnings: Tuple[str, ...] = _warnings(lib, doc)
        self._count: int = lib.sub_doc_cue_count(doc)

    # -- lifetime --------------------------------------------------------

    @property
    def closed(self) -> bool:
        return self._doc is None

    def close(self) -> None:
        """Frees the library's document; later calls do nothing."""
        with self._lock:
            doc, self._doc = self._doc, None
            if doc is not None:
                self._lib.sub_doc_free(doc)

    def __enter__(self) -> "Result":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def __del__(self):
        # A safety net for results never closed. No lock: nothing else can
        # reach an object being collected. getattr: __init__ may have failed
        # before _doc was set.
        doc = getattr(self, "_doc", None)
        if doc is not None:
            self._doc = None
            self._lib.sub_doc_free(doc)

    def _open_doc(self) -> int:
        if self._doc is None:
            raise ValueError("the result is closed: its document has been freed")
        return self._doc

    # -- cues ------------------------------------------------------------

    def _cue(self, doc: int, i: int) -> Cue:
        lib = self._lib
        return Cue(lib.sub_doc_cue_start_ms(doc, i), lib.sub_doc_cue_end_ms(doc, i),
                   tuple(_text(lib.sub_doc_cue_line(doc, i, k))
                         for k in range(lib.sub_doc_cue_line_count(doc, i))),
                   bool(lib.sub_doc_cue_is_danmu(doc, i)), lib.sub_doc_cue_danmu_mode(doc, i),
                   lib.sub_doc_cue_danmu_color(doc, i), lib.sub_doc_cue_danmu_fontsize(doc, i),
                   _optional_text(lib.sub_doc_cue_id(doc, i)),
                   _optional_text(lib.sub_doc_cue_settings(doc, i)))

    def __len__(self) -> int:
        with self._lock:
            self._open_doc()
            return self._count

    def __getitem__(self, index: Union[int, slice]) -> Union[Cue, Tuple[Cue, ...]]:
        """Cue `index` (negative counts from the end), or a tuple for a slice."""
        with self._lock:
            doc = self._open_doc()
            if isinstance(index, slice):
                return tuple(self._cue(doc, i) for i in range(*index.indices(self._count)))
            i = operator.index(index)  # TypeError for anything but an integer
            if i < 0:
                i += self._count
            if not 0 <= i < self._count:
                raise IndexError(f"cue index {index} out of range ({self._count} cues)")
            return self._cue(doc, i)

    def __iter__(self) -> Iterator[Cue]:
        # Index by index, so that close() part-way stops the loop with ValueError.
        for i in range(len(self)):
            yield self[i]

    @property
    def cues(self) -> Tuple[Cue, ...]:
        """Every cue, read now."""
        return self[:]

    # -- JSON ------------------------------------------------------------

    @property
    def json(self) -> str:
        """The library's JSON document, rendered on first use."""
        with self._lock:
            doc = self._open_doc()
            if self._json is None:
                raw = self._lib.sub_doc_json(doc)
                if raw is None:
                    raise MemoryError("subparse: out of memory while rendering JSON")
                self._json = _text(raw)
            return self._json

    def to_dict(self) -> dict:
        """The library's JSON document as Python objects."""
        return json.loads(self.json)

    # -- writing ---------------------------------------------------------

    def _format_of(self, fmt: Union[int, str]) -> int:
        """The library's identifier of an output format name or alias, any
        case; integers pass unchanged (the library refuses those it cannot
        write)."""
        if isinstance(fmt, int) and not isinstance(fmt, bool):
            if not _INT32_MIN <= fmt <= _INT32_MAX:
                raise ValueError(f"format identifier {fmt} does not fit in 32 bits")
            return fmt
        if not isinstance(fmt, str):
            raise TypeError(f"fmt must be a format name or an identifier, not {type(fmt).__name__}")
        raw = fmt.encode("utf-8")
        found = self._lib.sub_format_id(raw) if b"\0" not in raw else -2
        if found == -2:
            raise ValueError(f"unknown format {fmt!r}; writers: {_WRITERS_TEXT}")
        return found

    def _write(self, format_id: int, options: _WriteOptions, what: str) -> str:
        """The text sub_doc_write() gives, its C copy freed before returning.
        `what` names the format as the caller asked for it, for errors. The
        warnings the write adds to the document (danmaku left out of an ASS
        layout) are read into self.warnings."""
        out, size = ctypes.c_void_p(), ctypes.c_size_t()
        with self._lock:
            doc = self._open_doc()
            try:
                code = self._lib.sub_doc_write(doc, format_id, ctypes.byref(options.struct),
                                               ctypes.byref(out), ctypes.byref(size))
                data = ctypes.string_at(out.value, size.value) if code == SUB_OK and out.value else None
            finally:
                self._lib.sub_text_free(out.value)  # NULL (None) is ignored
                self.warnings = _warnings(self._lib, doc)
        if options.measure is not None:
            options.measure.report()
        given = options.given
        if code == SUB_OK and data is not None:
            # As the accessors show them: the rare ill-formed bytes a classic
            # decoding let through become U+FFFD.
            return data.decode("utf-8", errors="replace")
        if code == SUB_ERR_FORMAT:
            raise ValueError(f"subparse: no writer for {what}; writers: {_WRITERS_TEXT}")
        if code == SUB_ERR_ARGUMENT:
            raise ValueError(_refused(given))
        if code in (SUB_OK, SUB_ERR_NOMEM):  # success without a text: the header rules it out
            raise MemoryError(f"subparse: out of memory while writing {what}")
        raise SubparseError(code, "")

    def write(self, fmt: Union[str, int] = "srt", **options) -> str:
        """The cues as the text of `fmt`: "srt", "vtt", "ass", "lrc", "ttml",
        "json" or an alias ("subrip", "webvtt", "ssa", "dfxp"), any case.
        Options, as keyword arguments (None or missing: the library's
        default): vtt_header="text after WEBVTT", ass_play_res=(x, y) or
        ass_play_res_x=/ass_play_res_y= (1920 x 1080), ass_font= ("Arial"),
        ass_font_size= (54), ttml_lang= (""). Every writer checks them all,
        whatever its format; JSON ignores them.
        Danmaku (Bilibili, AcFun) written as ASS are laid out in rows of the
        play resolution, with: danmaku_font_size= (50: pixels of a size-25
        comment), danmaku_scroll_ms= (8000: how long a scrolling comment
        crosses the screen), danmaku_fixed_ms= (4000: how long a top or
        bottom one stays), danmaku_opacity= (0.8), danmaku_scroll_share=
        (1: the share of the height, from the top, scrolling comments use),
        danmaku_overflow= ("drop": a comment with no free row is left out;
        "overlap": it takes the row that frees first), danmaku_drop_modes=
        (an iterable of modes to leave out, such as (4, 5, 7)),
        danmaku_block_words= (an iterable of words: a comment whose text
        holds one is left out), danmaku_measure= (a callable
        (text, font_px) -> width in pixels, as the host's renderer measures
        one line; a negative or NaN width, or an exception, takes the
        library's estimate, and an Exception raised is then reported as a
        RuntimeWarning after the write). The comments left out are counted
        in warnings the write adds: result.warnings holds them afterwards.
        Raises ValueError for a format with no writer or an option value the
        library refuses, TypeError for an unknown option, MemoryError when
        the library runs out of memory."""
        format_id = self._format_of(fmt)
        return self._write(format_id, _write_options(self._lib, options), f"format {fmt!r}")

    def save(self, path: Union[str, os.PathLike], fmt: Union[str, int, None] = None,
             **options) -> None:
        """Writes the cues to the file `path` as UTF-8, in `fmt` or, when fmt
        is None, in the format its extension names (".srt", ".vtt", ".ass",
        ".ssa", ".lrc", ".ttml", ".dfxp", ".json"; any case). The file is
        replaced in one step (a temporary file in the same folder, then
        os.replace), so that a failure leaves the old file, or none, and no
        temporary. Options as write() takes them. Raises ValueError for an
        extension or format with no writer, OSError when the file cannot be
        written."""
        path = os.fsdecode(os.fspath(path))
        if fmt is None:
            extension = os.path.splitext(path)[1]
            if not extension:
                raise ValueError(f"subparse: {path!r} has no extension to take the format from; "
                                 f"pass fmt= (writers: {_WRITERS_TEXT})")
            format_id = self._lib.sub_format_id(os.fsencode(extension))
            what = f"the extension {extension!r} of {path!r}"
            if format_id == -2:
                raise ValueError(f"subparse: no writer for {what}; pass fmt= "
                                 f"(writers: {_WRITERS_TEXT})")
        else:
            format_id, what = self._format_of(fmt), f"format {fmt!r}"
        text = self._write(format_id, _write_options(self._lib, options), what)
        _replace_file(path, text.encode("utf-8"))

    # -- retiming --------------------------------------------------------

    def _retime(self, what: str, refused: str, function, *args) -> "Result":
        with self._lock:
            doc = self._open_doc()
            code = function(doc, *args)
            # Times or order changed: what was read from the document is stale.
            self._json = None
            self._count = self._lib.sub_doc_cue_count(doc)
        if code == SUB_OK:
            return self
        if code == SUB_ERR_ARGUMENT:
            raise ValueError(refused)
        if code == SUB_ERR_NOMEM:
            raise MemoryError(f"subparse: out of memory while {what}; the cues are unchanged")
        raise SubparseError(code, "")

    def shift(self, ms: Union[int, float]) -> "Result":
        """Adds `ms` milliseconds (negative: earlier; a float is rounded) to
        every start and end, times saturating at the 32-bit limits the
        library holds. Returns the result, so that calls chain."""
        if isinstance(ms, bool) or not isinstance(ms, numbers.Real):
            raise TypeError(f"ms must be a number, not {type(ms).__name__}")
        if not isinstance(ms, numbers.Integral):
            value = float(ms)
            if not math.isfinite(value):
                raise ValueError(f"cannot shift by {ms!r} milliseconds")
            ms = round(value)
        # Any shift past the 64-bit range saturates every time as the library's would.
        offset = min(max(int(ms), _INT64_MIN), _INT64_MAX)
        return self._retime("shifting", "", self._lib.sub_doc_shift, offset)

    def scale(self, from_fps: float, to_fps: float) -> "Result":
        """Converts times made for `from_fps` frames per second to `to_fps`:
        every time is multiplied by from_fps / to_fps (25 -> 23.976
        lengthens), rounded to the millisecond and saturated. Both rates must
        be finite and above 0 (ValueError). Returns the result."""
        rates = (_real("from_fps", from_fps), _real("to_fps", to_fps))
        return self._retime("scaling",
                            f"subparse: frame rates must be finite and above 0, not {from_fps!r} "
                            f"and {to_fps!r}", self._lib.sub_doc_scale, *rates)

    def sort(self) -> "Result":
        """Orders the cues by start time, cues that start together keeping
        their order. Returns the result."""
        return self._retime("sorting", "", self._lib.sub_doc_sort)

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"{self._count} cues"
        return f"<subparse.Result {self.format} {self.encoding or '-'}, {state}>"


def _load(path: Optional[str]) -> Tuple[ctypes.CDLL, str]:
    if path:
        tried = [f"{path} (given)"]
    elif os.environ.get("SUBPARSE_LIBRARY"):
        path = os.environ["SUBPARSE_LIBRARY"]
        tried = [f"{path} (from $SUBPARSE_LIBRARY)"]
    else:
        path = ctypes.util.find_library("subparse")
        tried = ([f"{path} (from ctypes.util.find_library)"] if path
                 else ["ctypes.util.find_library('subparse'): nothing found"])
        if not path:
            path = "libsubparse.so.0"
            tried.append(f"{path} on the dynamic loader's search path")
    try:
        return ctypes.CDLL(path), path
    except OSError as error:
        raise LibraryNotFoundError(
            "subparse: the library libsubparse was not found or could not be loaded; tried "
            + "; ".join(tried) + f" ({error}). Set SUBPARSE_LIBRARY to the path of a built "
            "libsubparse.so (for example build/release/libsubparse.so in a checkout), or install "
            "the library.") from None


class Subparse:
    """The loaded library. One instance may serve any number of threads."""

    def __init__(self, path: Optional[str] = None):
        self._lib, self.path = _load(path)
        for name, (restype, argtypes) in _SIGNATURES.items():
            try:
                function = getattr(self._lib, name)
            except AttributeError:
                raise LibraryNotFoundError(
                    f"subparse: {self.path} has no {name}: it is not a libsubparse with the "
                    "document API, writing and retiming (sub_doc_parse, sub_doc_write) that "
                    "this module needs") from None
            function.restype = restype
            function.argtypes = argtypes

    @staticmethod
    def format_id(format: Union[int, str]) -> int:
        """The identifier of a format name ("srt" ... "acfun", "auto" = -1);
        integers pass unchanged (the library answers code 1 for unknown ones)."""
        if isinstance(format, int) and not isinstance(format, bool):
            if not _INT32_MIN <= format <= _INT32_MAX:
                raise ValueError(f"format identifier {format} does not fit in 32 bits")
            return format
        if not isinstance(format, str):
            raise TypeError(f"format must be a name or an identifier, not {type(format).__name__}")
        if format.lower() == "auto":
            return SUB_FMT_AUTO
        try:
            return FORMATS.index(format.lower())
        except ValueError:
            raise ValueError(f"unknown format {format!r}; known: auto, {', '.join(FORMATS)}") from None

    def format_name(self, format_id: int) -> str:
        """The library's name of an identifier: "srt" ... "acfun", "auto", "unknown"."""
        return _text(self._lib.sub_format_name(format_id))

    def detect(self, data: Union[bytes, str], name: Optional[str] = None) -> Optional[str]:
        """The format the content (else the file name's extension) suggests, or None.
        A parse may choose otherwise: it decodes first and never reads the name."""
        if isinstance(data, str):
            data = data.encode("utf-8")
        found = self._lib.sub_detect_format(data, len(data), name.encode() if name else None)
        return self.format_name(found) if found >= 0 else None

    def parse(self, data: Union[bytes, bytearray, memoryview, str], format: Union[int, str] = "auto",
              encoding: Optional[str] = None, reading: Optional[str] = None,
              microdvd_fps: Optional[float] = None) -> Result:
        """Parses a whole file. `format` is a name or identifier ("auto" detects
        it). `encoding` names the input's encoding: None takes the library's
        default, "auto" (detect it; a guess is named in a warning), "" the
        library's fixed rule (byte-order mark, UTF-8, else CP1252), any other
        name is handed to iconv. `reading` is "standard" (the library's
        default when None) or "classic": how WebVTT is read.
        `microdvd_fps` is the frame rate of MicroDVD files that declare none
        (a rate on their first line wins): None takes the library's, 25; the
        library refuses rates outside 1 < fps < 1000 with SubparseError code
        SUB_ERR_ARGUMENT. Raises SubparseError when the library fails.
        Close the Result (or use it in a `with` block) to free its document at
        once."""
        if isinstance(data, str):
            data = data.encode("utf-8")
        elif isinstance(data, (bytearray, memoryview)):
            data = bytes(data)
        elif not isinstance(data, bytes):
            raise TypeError(f"data must be bytes or str, not {type(data).__name__}")
        options = SubParseOptions()
        # The exported sub_parse_options_init() fills only the first release's
        # members; this one fills as many as the declaration above holds.
        self._lib.sub_parse_options_init_size(ctypes.byref(options), ctypes.sizeof(options))
        options.format = self.format_id(format)
        if encoding is not None:  # None: as sub_parse_options_init_size() set it
            raw = encoding.encode()
            if b"\0" in raw:
                raise ValueError("encoding name contains a NUL character")
            options.encoding = raw  # the structure keeps the bytes alive
        if reading is not None:
            if reading not in _READINGS:
                raise ValueError(f"unknown reading {reading!r}; known: standard, classic")
            options.reading = _READINGS[reading]
        if microdvd_fps is not None:  # None: the library's default
            options.microdvd_fps = _real("microdvd_fps", microdvd_fps)
        doc = ctypes.c_void_p()
        code = self._lib.sub_doc_parse(data, len(data), ctypes.byref(options), ctypes.byref(doc))
        if code == SUB_OK and doc.value:
            return Result(self._lib, doc.value)
        # The failed document only carries the reason: read it, then free it
        # now rather than leave it to the garbage collector.
        try:
            message = _text(self._lib.sub_doc_error(doc.value)) if doc.value else ""
            warnings = _warnings(self._lib, doc.value) if doc.value else ()
        finally:
            self._lib.sub_doc_free(doc.value)
        if code == SUB_OK:  # success without a document: the header rules it out
            code = SUB_ERR_NOMEM
        raise SubparseError(code, message, warnings)


def _clock(ms: int) -> str:
    """[-]H:MM:SS.mmm, as the command-line tool's --cues prints times."""
    sign, ms = ("-", -ms) if ms < 0 else ("", ms)
    return f"{sign}{ms // 3600000}:{ms // 60000 % 60:02}:{ms // 1000 % 60:02}.{ms % 1000:03}"


def main(argv) -> int:
    if len(argv) not in (2, 3):
        print("usage: subparse.py FILE [ENCODING]", file=sys.stderr)
        return 64
    try:
        with open(argv[1], "rb") as f:
            data = f.read()
    except OSError as error:
        print(f"subparse.py: {argv[1]}: {error.strerror or error}", file=sys.stderr)
        return 66
    try:
        lib = Subparse()
    except LibraryNotFoundError as error:
        print(error, file=sys.stderr)
        return 69
    try:
        result = lib.parse(data, encoding=argv[2] if len(argv) == 3 else None)
    except SubparseError as error:
        print(f"subparse.py: {argv[1]}: {error}", file=sys.stderr)
        return error.code
    with result:
        for warning in result.warnings:
            print(f"warning: {warning}", file=sys.stderr)
        for cue in result:
            extra = f"  [mode {cue.mode}, colour #{cue.color:06X}, size {cue.fontsize:g}]" if cue.danmu else ""
            print(f"{_clock(cue.start_ms)} --> {_clock(cue.end_ms)}  {' | '.join(cue.lines)}{extra}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
