"""Cue, Subtitles, the errors, and load() / parse() / detect()."""

from __future__ import annotations

import contextlib
import ctypes
import itertools
import json
import math
import numbers
import operator
import os
import stat
import threading
from collections.abc import Iterator, Sequence
from typing import Any, NoReturn, Union, overload

from . import _cues, _native
from ._cues import Cue
from ._native import lib
from ._options import WriteOptions, real

PathLike = Union[str, "os.PathLike[str]"]
Content = Union[bytes, bytearray, memoryview, str]

#: The names of the formats the library reads (format identifiers 0 to 10).
FORMATS = ("srt", "vtt", "ass", "microdvd", "subviewer", "ttml", "ytxml", "lrc", "sami",
           "bilibili", "acfun")
#: The formats write() and save() take (aliases: subrip, webvtt, ssa, dfxp).
WRITE_FORMATS = ("srt", "vtt", "ass", "lrc", "ttml", "json")
_WRITERS = "srt, vtt (webvtt), ass (ssa), lrc, ttml (dfxp), json"


class Error(Exception):
    """The library could not do what was asked. `code` is its result code,
    `message` its text, `warnings` those raised before it gave up. Catch
    this for every failure of a parse; the subclasses tell them apart."""

    def __init__(self, code: int, message: str, warnings: tuple[str, ...] = ()):
        super().__init__(code, message, tuple(warnings))
        self.code = code
        self.message = message
        self.warnings = tuple(warnings)

    def __str__(self) -> str:
        return f"{self.message} (code {self.code})"


class UnknownFormat(Error, ValueError):
    """Code 1: a format name or identifier the library does not know, or
    one it has no writer for."""


class DecodeError(Error):
    """Code 2: the bytes could not be decoded (or the encoding named is
    unknown)."""


class EmptyInput(Error):
    """Code 3: there was nothing to parse."""


class NoCues(Error):
    """Code 5: no parser found a cue in the input."""


class ArgumentError(Error, ValueError):
    """Code 6: an option value the library cannot use (a MicroDVD frame rate
    out of range, a write option it refuses, a frame rate of 0)."""


_ERRORS: dict[int, type[Error]] = {1: UnknownFormat, 2: DecodeError, 3: EmptyInput, 5: NoCues,
                                   6: ArgumentError}
# The most cues an iteration reads at once (under the Subtitles' lock).
_BATCH_MAX = 1024
_DEFAULT_MESSAGES = {1: "unknown format", 2: "decoding failed", 3: "empty input",
                     5: "nothing parsed", 6: "unusable argument"}


def _raise(code: int, message: str, warnings: tuple[str, ...] = (), what: str = "") -> NoReturn:
    """Raises what a failed call's code stands for: MemoryError for code 4
    (and for a success that brought nothing back, which the header rules
    out), else the Error subclass of the code."""
    if code in (_native.SUB_OK, _native.SUB_ERR_NOMEM):
        raise MemoryError(f"subparse: out of memory{' while ' + what if what else ''}")
    raise _ERRORS.get(code, Error)(code, message or _DEFAULT_MESSAGES.get(code, "failed"), warnings)


def _warnings(doc: int) -> tuple[str, ...]:
    c = lib()
    return tuple(_native.text(c.sub_doc_warning(doc, i)) for i in range(c.sub_doc_warning_count(doc)))


def _format_id(format: str | int, what: str = "format") -> int:
    """The identifier of a format name, alias or extension (any case, as
    sub_format_id() reads them; "auto" is -1); integers pass unchanged."""
    if isinstance(format, int) and not isinstance(format, bool):
        if not _native.INT32_MIN <= format <= _native.INT32_MAX:
            raise UnknownFormat(1, f"format identifier {format} does not fit in 32 bits")
        return format
    if not isinstance(format, str):
        raise TypeError(f"{what} must be a format name or identifier, not {type(format).__name__}")
    raw = format.encode("utf-8")
    found: int = lib().sub_format_id(raw) if b"\0" not in raw else _native.SUB_FMT_UNKNOWN_NAME
    if found == _native.SUB_FMT_UNKNOWN_NAME:
        raise UnknownFormat(1, f"unknown format {format!r}; known: auto, {', '.join(FORMATS)}, "
                               "json and aliases such as subrip, webvtt, ssa, dfxp")
    return found


def _replace_file(path: str, data: bytes) -> None:
    """Writes `data` to `path` in one step: into a new file beside it, which
    then takes its name (os.replace), so that readers see the old file or
    the new one and a failure leaves neither half a file nor the temporary.
    A file that was there keeps its permission bits; a new one gets the
    umask's. A symbolic link keeps pointing to the file it named, which is
    the one replaced."""
    target = os.path.realpath(path)
    folder, name = os.path.split(target)
    try:
        mode: int | None = stat.S_IMODE(os.stat(target).st_mode)
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


class Subtitles(Sequence[Cue]):
    """A parsed subtitle file: a sequence of Cue, read from the library's
    document when asked for: an index reads one cue, a loop reads batches
    of up to 1024 as it goes (len() and the first cue cost nothing however
    large the file; close() during a loop ends it with ValueError at the
    next batch). Made by load() and parse().

    It owns its document until close() (or the end of a `with` block, or
    garbage collection); after close(), format, encoding and warnings stay
    readable while cues, JSON, writing and retiming raise ValueError. One
    Subtitles may be shared between threads: a lock of its own lets one
    call in at a time; different Subtitles never wait for each other.

    Attributes: format (the format read: "srt", "bilibili", ...), encoding
    (what the bytes were decoded from: "UTF-8", "CP1251", ...), warnings (a
    tuple: the parse's, then those a write added), closed."""

    def __init__(self, doc: int):
        c = lib()
        self._c = c  # kept for __del__, which may run while the interpreter shuts down
        self._doc: int | None = doc
        self._lock = threading.Lock()
        self._json: str | None = None
        self._count: int = c.sub_doc_cue_count(doc)
        #: The name of the format that was read ("srt", "bilibili", ...).
        self.format: str = _native.text(c.sub_format_name(c.sub_doc_format(doc)))
        #: The encoding the bytes were decoded from ("UTF-8", "CP1251", ...).
        self.encoding: str = _native.text(c.sub_doc_encoding(doc))
        #: The library's warnings: the parse's, then those writes added.
        self.warnings: tuple[str, ...] = _warnings(doc)

    # -- lifetime ----------------------------------------------------------

    @property
    def closed(self) -> bool:
        """True once close() freed the document."""
        return self._doc is None

    def close(self) -> None:
        """Frees the library's document now; later calls do nothing."""
        with self._lock:
            doc, self._doc = self._doc, None
            if doc is not None:
                lib().sub_doc_free(doc)

    def __enter__(self) -> Subtitles:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        # A safety net for documents never closed. No lock: nothing else can
        # reach an object being collected; getattr: __init__ may have failed.
        doc = getattr(self, "_doc", None)
        if doc is not None:
            self._doc = None
            self._c.sub_doc_free(doc)

    def _open(self) -> int:
        if self._doc is None:
            raise ValueError("subparse: these Subtitles are closed: their document was freed")
        return self._doc

    # -- cues --------------------------------------------------------------

    def __len__(self) -> int:
        with self._lock:
            self._open()
            return self._count

    @overload
    def __getitem__(self, index: int) -> Cue: ...

    @overload
    def __getitem__(self, index: slice) -> list[Cue]: ...

    def __getitem__(self, index: int | slice) -> Cue | list[Cue]:
        """Cue `index` (negative counts from the end), or a list for a slice."""
        with self._lock:
            doc = self._open()
            if isinstance(index, slice):
                first, stop, step = index.indices(self._count)
                if step == 1:
                    return _cues.read(doc, first, max(first, stop))
                return [_cues.read(doc, i, i + 1)[0] for i in range(first, stop, step)]
            i = operator.index(index)  # TypeError for anything but an integer
            if i < 0:
                i += self._count
            if not 0 <= i < self._count:
                raise IndexError(f"cue index {index} out of range ({self._count} cues)")
            return _cues.read(doc, i, i + 1)[0]

    def _batches(self, backwards: bool = False) -> Iterator[list[Cue]]:
        """The cues in lists read under the lock, growing from 8 to 1024
        cues (the first cue of a large file comes at once); close() part-way
        ends the walk with ValueError at the next list."""
        done, size = 0, 8
        while True:
            with self._lock:
                doc = self._open()
                if done >= self._count:
                    return
                take = min(size, self._count - done)
                if backwards:
                    batch = _cues.read(doc, self._count - done - take, self._count - done)
                    batch.reverse()
                else:
                    batch = _cues.read(doc, done, done + take)
            done, size = done + take, min(size * 2, _BATCH_MAX)
            yield batch

    def __iter__(self) -> Iterator[Cue]:
        return itertools.chain.from_iterable(self._batches())

    def __reversed__(self) -> Iterator[Cue]:
        return itertools.chain.from_iterable(self._batches(backwards=True))

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"{self._count} cues"
        return f"<subparse.Subtitles {self.format} {self.encoding or '-'}, {state}>"

    # -- JSON --------------------------------------------------------------

    def to_json(self) -> str:
        """The library's JSON document: {"format": ..., "cues": [{"start",
        "end", "lines", ...}]}. Rendered once, and again after a retiming."""
        with self._lock:
            doc = self._open()
            if self._json is None:
                raw = lib().sub_doc_json(doc)
                if raw is None:
                    raise MemoryError("subparse: out of memory while rendering JSON")
                self._json = _native.text(raw)
            return self._json

    def to_dict(self) -> dict[str, Any]:
        """The JSON document as Python objects (json.loads of to_json())."""
        document: dict[str, Any] = json.loads(self.to_json())
        return document

    # -- writing -----------------------------------------------------------

    def _write(self, format_id: int, options: WriteOptions, what: str) -> str:
        out, size = ctypes.c_void_p(), ctypes.c_size_t()
        c = lib()
        with self._lock:
            doc = self._open()
            try:
                code = c.sub_doc_write(doc, format_id, ctypes.byref(options.struct),
                                       ctypes.byref(out), ctypes.byref(size))
                data = ctypes.string_at(out.value, size.value) if code == 0 and out.value else None
            finally:
                c.sub_text_free(out.value)  # NULL (None) is ignored
                self.warnings = _warnings(doc)  # a danmaku layout may add some
        if options.measure is not None:
            options.measure.report()
        if data is not None:
            return data.decode("utf-8", errors="replace")
        if code == _native.SUB_ERR_FORMAT:
            raise UnknownFormat(code, f"subparse: no writer for {what}; writers: {_WRITERS}")
        _raise(code, options.refused() if code == _native.SUB_ERR_ARGUMENT else "",
               what=f"writing {what}")

    def write(self, format: str | int = "srt", **options: Any) -> str:
        """The cues as the text of `format`: "srt", "vtt", "ass", "lrc",
        "ttml", "json", or an alias ("subrip", "webvtt", "ssa", "dfxp"), any
        case. Options (None or missing: the library's default):

        vtt_header="text after WEBVTT"; ass_play_res=(x, y), or
        ass_play_res_x= / ass_play_res_y= (1920 x 1080); ass_font=
        ("Arial"); ass_font_size= (54); ttml_lang= ("").

        Danmaku (Bilibili, AcFun) written as ASS are laid out in rows, as
        the sites' players show them: danmaku_font_size= (50, pixels of a
        size-25 comment), danmaku_scroll_ms= (8000), danmaku_fixed_ms=
        (4000), danmaku_opacity= (0.8), danmaku_scroll_share= (1, the share
        of the height scrolling comments use), danmaku_overflow= ("drop" or
        "overlap"), danmaku_drop_modes= (modes to leave out, e.g. (4, 5, 7)),
        danmaku_block_words= (words whose comments are left out) and
        danmaku_measure= (a callable (text, font_px) -> width in pixels; a
        negative or NaN width, or an exception, takes the library's
        estimate, and an exception is then reported as a RuntimeWarning).
        Comments left out are counted in .warnings after the write.

        Every writer checks every option, whatever its format. Raises
        UnknownFormat for a format with no writer, ArgumentError for a value
        the library refuses, TypeError for an unknown option."""
        format_id = _format_id(format)
        return self._write(format_id, WriteOptions(options), f"format {format!r}")

    def save(self, path: PathLike, format: str | int | None = None, **options: Any) -> None:
        """Writes the cues to `path` as UTF-8, in `format` or, when it is
        None, in the format the extension names (.srt, .vtt, .ass, .ssa,
        .lrc, .ttml, .dfxp, .json; any case). The file is replaced in one
        step (a temporary file beside it, then os.replace): a failure leaves
        the old file, or none, and no temporary. Options as write() takes
        them."""
        path = os.fsdecode(os.fspath(path))
        if format is None:
            extension = os.path.splitext(path)[1]
            if not extension:
                raise UnknownFormat(1, f"subparse: {path!r} has no extension to take the format "
                                       f"from; pass format= (writers: {_WRITERS})")
            format_id = lib().sub_format_id(os.fsencode(extension))
            what = f"the extension {extension!r} of {path!r}"
            if format_id == _native.SUB_FMT_UNKNOWN_NAME:
                raise UnknownFormat(1, f"subparse: no writer for {what}; pass format= "
                                       f"(writers: {_WRITERS})")
        else:
            format_id, what = _format_id(format), f"format {format!r}"
        text = self._write(format_id, WriteOptions(options), what)
        _replace_file(path, text.encode("utf-8"))

    # -- retiming ----------------------------------------------------------

    def _retime(self, what: str, refused: str, function: Any, *args: Any) -> Subtitles:
        with self._lock:
            doc = self._open()
            code = function(doc, *args)
            self._json = None  # times or order changed (the count never does)
        if code != _native.SUB_OK:
            _raise(code, refused, what=f"{what} (the cues are unchanged)")
        return self

    def shift(self, ms: float) -> Subtitles:
        """Adds `ms` milliseconds (negative: earlier; a float is rounded) to
        every start and end, saturating at the library's 32-bit limits.
        Returns self, so that calls chain."""
        if isinstance(ms, bool) or not isinstance(ms, numbers.Real):
            raise TypeError(f"ms must be a number, not {type(ms).__name__}")
        if not isinstance(ms, numbers.Integral):
            if not math.isfinite(float(ms)):
                raise ValueError(f"cannot shift by {ms!r} milliseconds")
            ms = round(float(ms))
        offset = min(max(int(ms), _native.INT64_MIN), _native.INT64_MAX)
        return self._retime("shifting", "", lib().sub_doc_shift, offset)

    def scale(self, from_fps: float, to_fps: float) -> Subtitles:
        """Converts times made for `from_fps` frames per second to `to_fps`:
        every time is multiplied by from_fps / to_fps (25 -> 23.976
        lengthens), rounded to the millisecond. Both rates must be finite and
        above 0 (ArgumentError). Returns self."""
        rates = (real("from_fps", from_fps), real("to_fps", to_fps))
        refused = f"subparse: frame rates must be finite and above 0, not {from_fps!r} and {to_fps!r}"
        return self._retime("scaling", refused, lib().sub_doc_scale, *rates)

    def sort(self) -> Subtitles:
        """Orders the cues by start time, cues that start together keeping
        their order. Returns self."""
        return self._retime("sorting", "", lib().sub_doc_sort)


def _content(data: Content) -> bytes:
    if isinstance(data, str):
        return data.encode("utf-8")
    if isinstance(data, bytes):
        return data
    if isinstance(data, (bytearray, memoryview)):
        return bytes(data)
    if isinstance(data, os.PathLike):
        raise TypeError("parse() takes the content (bytes, or str as text); use load() for a path")
    raise TypeError(f"parse() takes bytes or str, not {type(data).__name__}")


def _parse(data: bytes, format: str | int, encoding: str | None, reading: str,
           microdvd_fps: float | None) -> Subtitles:
    c = lib()
    options = _native.SubParseOptions()
    # The exported sub_parse_options_init() fills only the first release's
    # members; this fills as many as the declaration holds.
    c.sub_parse_options_init_size(ctypes.byref(options), ctypes.sizeof(options))
    options.format = _format_id(format)
    if encoding is None:
        options.encoding = None
    elif not isinstance(encoding, str):
        raise TypeError(f"encoding must be a str or None, not {type(encoding).__name__}")
    elif "\0" in encoding:
        raise ValueError("encoding name contains a NUL character")
    else:
        options.encoding = encoding.encode()  # the structure keeps the bytes alive
    if reading not in _native.SUB_READINGS:
        raise ValueError(f"unknown reading {reading!r}; known: standard, classic")
    options.reading = _native.SUB_READINGS[reading]
    if microdvd_fps is not None:
        options.microdvd_fps = real("microdvd_fps", microdvd_fps)
    doc = ctypes.c_void_p()
    code = c.sub_doc_parse(data, len(data), ctypes.byref(options), ctypes.byref(doc))
    if code == _native.SUB_OK and doc.value:
        return Subtitles(doc.value)
    # A failed document only carries the reason: read it, then free it now.
    try:
        message = _native.text(c.sub_doc_error(doc.value)) if doc.value else ""
        warnings = _warnings(doc.value) if doc.value else ()
    finally:
        c.sub_doc_free(doc.value)
    _raise(code, message, warnings, "parsing")


def parse(data: Content, format: str | int = "auto", encoding: str | None = "auto",
          reading: str = "standard", microdvd_fps: float | None = None) -> Subtitles:
    """Parses subtitle content: bytes (any encoding), or a str taken as the
    text itself (never as a path: see load()).

    format: "auto" (detect it), a name ("srt", "vtt", "ass", "microdvd",
    "subviewer", "ttml", "ytxml", "lrc", "sami", "bilibili", "acfun"), an
    alias ("subrip", "webvtt", "ssa", "dfxp", "smi", "sub", "youtube",
    "xml") or an identifier.
    encoding: "auto" detects it (a guess is named in a warning); any name
    iconv knows ("cp1251", "gbk") is taken as it is; None keeps the fixed
    rule (byte-order mark, else UTF-8, else CP1252 or ISO-8859-1).
    reading: "standard" (WebVTT and TTML read by their standards: WebVTT
    identifiers and settings kept) or "classic".
    microdvd_fps: the frame rate of MicroDVD files that declare none (None:
    25; ArgumentError outside 1 < fps < 1000).

    Raises an Error subclass when the library fails (NoCues, EmptyInput,
    DecodeError, UnknownFormat, ArgumentError), MemoryError when memory ran
    out."""
    return _parse(_content(data), format, encoding, reading, microdvd_fps)


def load(path: PathLike, format: str | int = "auto", encoding: str | None = "auto",
         reading: str = "standard", microdvd_fps: float | None = None) -> Subtitles:
    """Reads the file at `path` (a str or os.PathLike: never content, see
    parse()) and parses it as parse() does, with the same options. Raises
    OSError when the file cannot be read."""
    if isinstance(path, (bytes, bytearray, memoryview)):
        raise TypeError("load() takes a path (str or os.PathLike); pass content to parse()")
    with open(os.fspath(path), "rb") as f:
        data = f.read()
    return _parse(data, format, encoding, reading, microdvd_fps)


def detect(data: Content, filename: str | None = None) -> str | None:
    """The format the content suggests (else the file name's extension), or
    None. A parse may still choose otherwise: it decodes first."""
    raw = _content(data)
    found = lib().sub_detect_format(raw, len(raw), os.fsencode(filename) if filename else None)
    return FORMATS[found] if 0 <= found < len(FORMATS) else None
