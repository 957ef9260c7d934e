"""Keyword arguments of Subtitles.write() and save() turned into the
library's SubWriteOptions, and the danmaku measure callback."""

from __future__ import annotations

import ctypes
import numbers
import operator
import warnings
from typing import Any, Callable, Iterable

from . import _native

# What the library takes of each option, named in the error raised when it
# refuses one (sub_doc_write() answers with a code, not a text).
RULES = {
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
_TEXTS = ("vtt_header", "ass_font", "ttml_lang")
_REALS = ("ass_font_size", "danmaku_font_size", "danmaku_opacity", "danmaku_scroll_share")


def real(name: str, value: Any) -> float:
    """A number handed to the library as a double. bool is refused: True
    would quietly read as 1."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    try:
        return float(value)
    except OverflowError:
        raise ValueError(f"{name} {value} is too large") from None


def _int32(name: str, value: Any) -> int:
    # ctypes would cut a larger integer to 32 bits without a word.
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        number: int = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not _native.INT32_MIN <= number <= _native.INT32_MAX:
        raise ValueError(f"{name} {number} is out of range: it must be {RULES[name]}")
    return number


def _items(name: str, value: Any, what: str) -> list[Any]:
    # A str is iterable too, one character at a time: never what was meant.
    if isinstance(value, (str, bytes, bytearray)):
        raise TypeError(f"{name} must be an iterable of {what}, not a single {type(value).__name__}")
    try:
        return list(value)
    except TypeError:
        raise TypeError(f"{name} must be an iterable of {what}, not {type(value).__name__}") from None


def _drop_modes(value: Iterable[int]) -> int:
    """The bit mask of danmaku modes (bit m for mode m)."""
    mask = 0
    for mode in _items("danmaku_drop_modes", value, "modes"):
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
    library would skip, are left out."""
    words = []
    for word in _items("danmaku_block_words", value, "words"):
        if not isinstance(word, str):
            raise TypeError(f"danmaku_block_words holds {word!r}, not a str")
        if "\n" in word or "\0" in word:
            raise ValueError(f"danmaku_block_words holds {word!r}: a word cannot hold a line feed "
                             "or a NUL character")
        if word:
            words.append(word)
    return "\n".join(words).encode("utf-8")


class Measure:
    """The caller's danmaku_measure as the library calls it. An exception
    cannot cross the C library: the library's estimate stands in (-1.0 asks
    for it) and the first exception is kept; after the write an Exception
    becomes a RuntimeWarning, while a KeyboardInterrupt or SystemExit is
    raised again (and the measure is not called once one came)."""

    def __init__(self, measure: Callable[[str, float], float]):
        self.measure = measure
        self.error: BaseException | None = None
        self.failures = 0
        # Kept alive by this object as long as the options are: the library
        # calls through its address.
        self.pointer = _native.DanmakuMeasure(self._call)

    def _call(self, raw: bytes | None, font_px: float, _user: Any) -> float:
        if self.error is not None and not isinstance(self.error, Exception):
            return -1.0
        try:
            return float(self.measure(_native.text(raw), font_px))
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
        warnings.warn(f"subparse: danmaku_measure raised {self.error!r}; the library's estimate "
                      f"stood in for {self.failures} text(s)", RuntimeWarning, stacklevel=4)


class WriteOptions:
    """A SubWriteOptions with what must live as long as it: the values given
    (named in the message should the library refuse one) and the measure."""

    def __init__(self, options: dict[str, Any]):
        unknown = sorted(set(options) - {"ass_play_res", *RULES})
        if unknown:
            raise TypeError(f"unknown write option {', '.join(unknown)}; known: ass_play_res, "
                            + ", ".join(RULES))
        given = {name: value for name, value in options.items() if value is not None}
        if "ass_play_res" in given:
            if "ass_play_res_x" in given or "ass_play_res_y" in given:
                raise TypeError("give ass_play_res=(x, y) or ass_play_res_x=/ass_play_res_y=, "
                                "not both")
            pair = given.pop("ass_play_res")
            try:
                given["ass_play_res_x"], given["ass_play_res_y"] = pair
            except (TypeError, ValueError):
                raise TypeError(f"ass_play_res must be a pair (x, y), not {pair!r}") from None
        self.given = given
        self.measure: Measure | None = None
        self.struct = _native.SubWriteOptions()
        _native.lib().sub_write_options_init_size(ctypes.byref(self.struct),
                                                  ctypes.sizeof(self.struct))
        for name, value in given.items():
            setattr(self.struct, name, self._member(name, value))  # the struct keeps bytes alive

    def _member(self, name: str, value: Any) -> Any:
        if name in _TEXTS:
            if not isinstance(value, str):
                raise TypeError(f"{name} must be a str, not {type(value).__name__}")
            if "\0" in value:
                raise ValueError(f"{name} contains a NUL character")
            return value.encode("utf-8")
        if name in _REALS:
            return real(name, value)
        if name == "danmaku_overflow":
            if not isinstance(value, str):
                raise TypeError(f"danmaku_overflow must be 'drop' or 'overlap', not "
                                f"{type(value).__name__}")
            if value not in _native.SUB_DANMAKU_OVERFLOWS:
                raise ValueError(f"danmaku_overflow must be 'drop' or 'overlap', not {value!r}")
            return _native.SUB_DANMAKU_OVERFLOWS[value]
        if name == "danmaku_drop_modes":
            return _drop_modes(value)
        if name == "danmaku_block_words":
            return _block_words(value)
        if name == "danmaku_measure":
            if not callable(value):
                raise TypeError("danmaku_measure must be a callable (text, font_px) -> width, "
                                f"not {type(value).__name__}")
            self.measure = Measure(value)
            return self.measure.pointer
        return _int32(name, value)

    def refused(self) -> str:
        """The message for SUB_ERR_ARGUMENT. The library does not say which
        value it refused: each given is listed with what it must be."""
        if not self.given:
            return "subparse: the library refused the default write options"
        return "subparse: the library refused the write options given: " + "; ".join(
            f"{name}={value!r} (must be {RULES[name]})" for name, value in self.given.items())
