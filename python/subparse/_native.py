"""The C library through ctypes: its constants, structures and functions as
subparse.h declares them, and the loading of the libsubparse.so bundled with
this package (or the one $SUBPARSE_LIBRARY names).

Every function is called through a CDLL, so ctypes lets go of the GIL for the
length of each call: parses on several threads run at once."""

from __future__ import annotations

import ctypes
import os
import threading
from pathlib import Path
from typing import Any

from . import _cues

# Format identifiers, parse readings and result codes, as subparse.h has them.
SUB_FMT_AUTO = -1
SUB_FMT_COUNT = 11
SUB_FMT_JSON = 64  # an output format only: the library's JSON document
SUB_FMT_UNKNOWN_NAME = -2  # what sub_format_id() answers for a name it does not know
SUB_READINGS = {"classic": 0, "standard": 1}
SUB_OK, SUB_ERR_FORMAT, SUB_ERR_NOMEM, SUB_ERR_ARGUMENT = 0, 1, 4, 6
SUB_DANMAKU_OVERFLOWS = {"drop": 0, "overlap": 1}

INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1

LIBRARY_NAME = "libsubparse.so"


class SubParseOptions(ctypes.Structure):
    """struct SubParseOptions. Filled by sub_parse_options_init_size() with
    the size of this declaration, so that the library fills the members this
    package knows and no more."""

    _fields_ = [("size", ctypes.c_size_t), ("format", ctypes.c_int32),
                ("encoding", ctypes.c_char_p), ("reading", ctypes.c_int32),
                ("microdvd_fps", ctypes.c_double)]


# double (*danmaku_measure)(const char *text, double font_px, void *user)
DanmakuMeasure = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_char_p, ctypes.c_double,
                                  ctypes.c_void_p)


class SubWriteOptions(ctypes.Structure):
    """struct SubWriteOptions, filled by sub_write_options_init_size()."""

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
# Only the document API: the classic API's process-wide result is not used.
# The cue accessors are called from C by subparse._cues (see lib()).
_I32, _STR, _PTR = ctypes.c_int32, ctypes.c_char_p, ctypes.c_void_p
_SIGNATURES = {
    "sub_format_name": (_STR, [_I32]),
    "sub_format_id": (_I32, [_STR]),
    "sub_detect_format": (_I32, [_PTR, ctypes.c_size_t, _STR]),
    "sub_parse_options_init_size": (None, [ctypes.POINTER(SubParseOptions), ctypes.c_size_t]),
    "sub_doc_parse": (_I32, [_PTR, ctypes.c_size_t, ctypes.POINTER(SubParseOptions),
                             ctypes.POINTER(_PTR)]),
    "sub_doc_free": (None, [_PTR]),
    "sub_doc_cue_count": (_I32, [_PTR]),
    "sub_doc_error": (_STR, [_PTR]),
    "sub_doc_warning_count": (_I32, [_PTR]),
    "sub_doc_warning": (_STR, [_PTR, _I32]),
    "sub_doc_format": (_I32, [_PTR]),
    "sub_doc_encoding": (_STR, [_PTR]),
    "sub_doc_json": (_STR, [_PTR]),
    "sub_write_options_init_size": (None, [ctypes.POINTER(SubWriteOptions), ctypes.c_size_t]),
    # The text comes back as a plain address, so that it reaches sub_text_free().
    "sub_doc_write": (_I32, [_PTR, _I32, ctypes.POINTER(SubWriteOptions), ctypes.POINTER(_PTR),
                             ctypes.POINTER(ctypes.c_size_t)]),
    "sub_text_free": (None, [_PTR]),
    "sub_doc_shift": (_I32, [_PTR, ctypes.c_int64]),
    "sub_doc_scale": (_I32, [_PTR, ctypes.c_double, ctypes.c_double]),
    "sub_doc_sort": (_I32, [_PTR]),
}


class LibraryNotFoundError(OSError):
    """libsubparse.so could not be loaded, or lacks the functions this
    package calls. Its message says which file was tried."""


_loaded: ctypes.CDLL | None = None
_loaded_path = ""
_load_lock = threading.Lock()


def library_path() -> str:
    """The file the library is loaded from: $SUBPARSE_LIBRARY when set (a
    build tree's library, for tests), else the libsubparse.so installed
    beside this module."""
    return os.environ.get("SUBPARSE_LIBRARY") or str(Path(__file__).with_name(LIBRARY_NAME))


def lib() -> ctypes.CDLL:
    """The library, loaded on first use (so that importing the package, and
    help(), work even where it cannot be loaded) and declared once."""
    global _loaded, _loaded_path
    if _loaded is not None:
        return _loaded
    with _load_lock:
        if _loaded is None:
            path = library_path()
            source = "$SUBPARSE_LIBRARY" if os.environ.get("SUBPARSE_LIBRARY") else "the package"
            try:
                loaded = ctypes.CDLL(path)
            except OSError as error:
                raise LibraryNotFoundError(
                    f"subparse: cannot load {path} (from {source}): {error}. Install the package "
                    "with pip from the repository's python/ folder, which builds and bundles the "
                    "library, or set SUBPARSE_LIBRARY to a built libsubparse.so.") from None
            def function(name: str) -> Any:
                try:
                    return getattr(loaded, name)
                except AttributeError:
                    raise LibraryNotFoundError(
                        f"subparse: {path} has no {name}: it is not a libsubparse with the "
                        "document API, writing and retiming that this package calls") from None

            for name, (restype, argtypes) in _SIGNATURES.items():
                declared = function(name)
                declared.restype, declared.argtypes = restype, argtypes
            # The Cue reader calls these from C, at the addresses of this very library.
            _cues.bind({name: ctypes.cast(function(name), ctypes.c_void_p).value
                        for name in _cues.ACCESSORS})
            _loaded, _loaded_path = loaded, path
    return _loaded


def loaded_path() -> str:
    """The path the library was loaded from ("" before the first use)."""
    return _loaded_path


def text(raw: bytes | None) -> str:
    """A text the library handed out. The rare ill-formed bytes a classic
    decoding let through show as U+FFFD, as the JSON document shows them."""
    return raw.decode("utf-8", errors="replace") if raw is not None else ""
