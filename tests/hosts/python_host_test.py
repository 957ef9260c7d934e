"""The Python host module (examples/python/subparse.py) against the built
library that $SUBPARSE_LIBRARY names."""

import ctypes.util
import gc
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import warnings as pywarnings
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
MODULE_DIR = os.path.join(HERE, "..", "..", "examples", "python")
SCRIPT = os.path.join(MODULE_DIR, "subparse.py")
sys.path.insert(0, MODULE_DIR)

import subparse  # noqa: E402

LIBRARY = os.environ.get("SUBPARSE_LIBRARY")
if not LIBRARY:
    sys.exit("python_host_test: set SUBPARSE_LIBRARY to the built libsubparse.so")

SRT = b"1\n00:00:01,000 --> 00:00:02,500\nfirst line\nsecond line\n\n2\n00:00:03,000 --> 00:00:04,000\ncaf\xc3\xa9\n"
SRT_CUES = [(1000, 2500, ("first line", "second line")), (3000, 4000, ("café",))]
BILIBILI = (b'<?xml version="1.0"?><i>'
            b'<d p="1.5,1,25,16777215,0,0,0,0">hello</d>'
            b'<d p="3,5,36,255,0,0,0,0">top &amp; blue</d></i>')
LRC = b"[00:01.50]la la\n[00:03.00]end\n"
ONE_CUE = b"1\r\n00:00:01,000 --> 00:00:02,000\r\n"
CP1252_PROSE = b"caf\xe9 ok\n" * 8  # not UTF-8, and no parser reads it
CP1252_WARNING = "encoding: auto-detected as CP1252 (invalid UTF-8)"
FIXED_RULE = ""  # the encoding name that keeps the library's fixed rule
# Times every writer holds (centiseconds, an hour past), two lines in a cue.
WRITE_SAMPLE = (b"1\n00:00:01,000 --> 00:00:02,500\nfirst line\nsecond line\n\n"
                b"2\n00:00:03,000 --> 00:00:04,000\ncaf\xc3\xa9\n\n"
                b"3\n01:02:03,450 --> 01:02:05,000\nan hour in\n")
WRITE_CUES = [(1000, 2500, ("first line", "second line")), (3000, 4000, ("café",)),
              (3723450, 3725000, ("an hour in",))]
INT32_MIN, INT32_MAX = -2**31, 2**31 - 1
# One Bilibili comment of each mode the layout shows, all at 1 s: scrolling
# (1), bottom (4), top (5), reverse (6), positioned (7).
EVERY_MODE = (b'<?xml version="1.0"?><i><d p="1,1,25,16777215">scrolls</d>'
              b'<d p="1,4,25,16777215">at the bottom</d><d p="1,5,25,16777215">on top</d>'
              b'<d p="1,6,25,16777215">backwards</d>'
              b'<d p="1,7,25,16777215">[0.5,0.5,"1-1",3,"placed"]</d></i>')
# Three scrolling comments at once, the last one large (size 36).
CROWD = (b'<?xml version="1.0"?><i><d p="1,1,25,16777215">one</d>'
         b'<d p="1,1,25,16777215">two</d><d p="1,1,36,16777215">three</d></i>')
# Two scrolling comments a second apart: the second follows the first in
# its row when the first is narrow enough to have moved clear of it.
FOLLOW = (b'<?xml version="1.0"?><i><d p="1,1,25,16777215">first</d>'
          b'<d p="2,1,25,16777215">second</d></i>')


def cues_of(result):
    return [(c.start_ms, c.end_ms, c.lines) for c in result]


def tracked():
    """A Subparse whose sub_doc_parse and sub_doc_free calls are recorded:
    (instance, documents made, documents freed)."""
    lib = subparse.Subparse(LIBRARY)
    made, freed = [], []
    real_parse, real_free = lib._lib.sub_doc_parse, lib._lib.sub_doc_free

    def parse(data, size, options, out):
        code = real_parse(data, size, options, out)
        made.append(out._obj.value)
        return code

    def free(doc):
        freed.append(doc)
        real_free(doc)

    lib._lib.sub_doc_parse, lib._lib.sub_doc_free = parse, free
    return lib, made, freed


def tracked_writes(lib):
    """Records the texts sub_doc_write hands out and those sub_text_free
    releases: (texts made, texts freed), NULLs left out."""
    made, freed = [], []
    real_write, real_free = lib._lib.sub_doc_write, lib._lib.sub_text_free

    def write(doc, fmt, options, out, size):
        code = real_write(doc, fmt, options, out, size)
        if out._obj.value:
            made.append(out._obj.value)
        return code

    def free(text):
        if text:
            freed.append(text)
        real_free(text)

    lib._lib.sub_doc_write, lib._lib.sub_text_free = write, free
    return made, freed


def read_back(lib, text, fmt):
    """The (start, end, lines) of `text` parsed again, with the format found.
    LRC joins a cue's lines with " / " and marks each end with an empty cue,
    which a comparison leaves out."""
    with lib.parse(text) as result:
        cues = [(c.start_ms, c.end_ms, c.lines) for c in result]
        found = result.format
    if fmt == "lrc":
        cues = [c for c in cues if c[2] != ("",)]
    return found, cues


def expected_back(fmt, cues):
    if fmt == "lrc":
        return [(start, end, (" / ".join(lines),)) for start, end, lines in cues]
    return cues


def run_python(code, env):
    """Runs `code` in a fresh interpreter that imports the module from the checkout."""
    prelude = f"import sys; sys.path.insert(0, {MODULE_DIR!r})\n"
    return subprocess.run([sys.executable, "-c", prelude + code], env=env, capture_output=True,
                          text=True, check=False)


class PythonHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = subparse.Subparse(LIBRARY)

    def test_parses(self):
        # (name, input, format, encoding, expected format, expected cues)
        cases = [
            ("srt detected", SRT, "auto", None, "srt", SRT_CUES),
            ("str input", SRT.decode(), "auto", None, "srt", SRT_CUES),
            ("bytearray input", bytearray(SRT), "auto", None, "srt", SRT_CUES),
            ("format by name", SRT, "srt", None, "srt", SRT_CUES),
            ("name in capitals", b"[00:01.50]la la\n", "LRC", None, "lrc", [(1500, 4500, ("la la",))]),
            ("format by id", b"[00:01.50]la la\n", subparse.SUB_FMT_LRC, None, "lrc",
             [(1500, 4500, ("la la",))]),
            ("named encoding", "1\n00:00:01,000 --> 00:00:02,000\nпривет\n".encode("cp1251"),
             "auto", "cp1251", "srt", [(1000, 2000, ("привет",))]),
        ]
        for name, data, fmt, encoding, want_format, want_cues in cases:
            with self.subTest(name), self.lib.parse(data, fmt, encoding) as result:
                self.assertEqual((result.format, result.format_id),
                                 (want_format, subparse.FORMATS.index(want_format)))
                self.assertEqual(cues_of(result), want_cues)
                self.assertEqual(len(result), len(want_cues))
                self.assertFalse(any(c.danmu for c in result))

    def test_readings_of_webvtt(self):
        vtt = b"WEBVTT\n\nintro\n00:00:01.000 --> 00:00:02.500 align:start\nHello\n"
        # (reading, identifier, settings): the default is the standard reading.
        cases = [(None, "intro", "align:start"), ("standard", "intro", "align:start"),
                 ("classic", None, None)]
        for reading, cue_id, settings in cases:
            with self.subTest(reading), self.lib.parse(vtt, "vtt", reading=reading) as result:
                self.assertEqual((result[0].id, result[0].settings), (cue_id, settings))
                self.assertEqual(result.to_dict()["cues"][0].get("id"), cue_id)
        with self.assertRaises(ValueError):
            self.lib.parse(vtt, reading="strict")

    def test_danmaku_fields(self):
        with self.lib.parse(BILIBILI) as result:
            self.assertEqual(result.format, "bilibili")
            got = [(c.start_ms, c.end_ms, c.lines, c.danmu, c.mode, c.color, c.fontsize)
                   for c in result]
        self.assertEqual(got, [(1500, 4500, ("hello",), True, 1, 0xFFFFFF, 25.0),
                               (3000, 6000, ("top & blue",), True, 5, 0x0000FF, 36.0)])

    def test_failures_raise_and_free_their_document(self):
        # (name, input, format, encoding, code, warnings)
        cases = [
            ("empty", b"", "auto", None, subparse.SUB_ERR_EMPTY, ()),
            ("unknown identifier", SRT, 99, None, subparse.SUB_ERR_FORMAT, ()),
            ("nothing parses", b"just some prose\nwith no times\n", "auto", None,
             subparse.SUB_ERR_NOCUES, ()),
            ("nothing parses, with a warning", CP1252_PROSE, "auto", FIXED_RULE,
             subparse.SUB_ERR_NOCUES, (CP1252_WARNING,)),
            ("unknown encoding", SRT, "auto", "no-such-encoding", subparse.SUB_ERR_DECODE, ()),
        ]
        for name, data, fmt, encoding, code, warnings in cases:
            with self.subTest(name):
                lib, made, freed = tracked()
                with self.assertRaises(subparse.SubparseError) as caught:
                    lib.parse(data, fmt, encoding)
                self.assertEqual(caught.exception.code, code)
                self.assertTrue(caught.exception.message)
                self.assertIn(f"(code {code})", str(caught.exception))
                self.assertEqual(caught.exception.warnings, warnings)
                # Freed before the error reached the caller, exactly once.
                self.assertEqual(len(made), 1)
                self.assertTrue(made[0])
                self.assertEqual(freed, made)

    def test_bad_arguments_are_refused_before_the_library(self):
        cases = [("mkv", ValueError), ("", ValueError), (1.0, TypeError), (True, TypeError),
                 (2**32, ValueError), (-2**31 - 1, ValueError)]
        lib, made, _ = tracked()
        for fmt, error in cases:
            with self.subTest(fmt=fmt), self.assertRaises(error):
                lib.parse(SRT, fmt)
        for data, encoding, error in [(SRT, "utf-8\0x", ValueError), (42, None, TypeError),
                                      (None, None, TypeError)]:
            with self.subTest(data=type(data).__name__, encoding=encoding), self.assertRaises(error):
                lib.parse(data, "auto", encoding)
        self.assertEqual(made, [])

    def test_format_names_agree_with_the_library(self):
        self.assertEqual([self.lib.format_name(i) for i in range(-1, 12)],
                         ["auto", *subparse.FORMATS, "unknown"])
        self.assertEqual(subparse.SUB_FMT_COUNT, len(subparse.FORMATS))
        for name in subparse.FORMATS:
            self.assertEqual(getattr(subparse, f"SUB_FMT_{name.upper()}"), subparse.FORMATS.index(name))

    def test_results_are_independent(self):
        first = self.lib.parse(SRT)
        second = self.lib.parse(BILIBILI)
        with self.assertRaises(subparse.SubparseError):
            self.lib.parse(b"")
        second.close()
        self.assertEqual(cues_of(first), SRT_CUES)
        self.assertEqual(first.to_dict(), {
            "format": "srt",
            "cues": [{"start": 1000, "end": 2500, "lines": ["first line", "second line"]},
                     {"start": 3000, "end": 4000, "lines": ["café"]}]})
        first.close()

    def test_indexing(self):
        result = self.lib.parse(SRT + b"\n3\n00:00:05,000 --> 00:00:06,000\nthird\n")
        first, second, third = (1000, 2500), (3000, 4000), (5000, 6000)
        # (index, expected (start, end) of the cue, or of each cue of a slice)
        cases = [(0, first), (2, third), (-1, third), (-3, first), (slice(None), [first, second, third]),
                 (slice(1, None), [second, third]), (slice(None, None, -2), [third, first]),
                 (slice(5, 9), [])]
        for index, want in cases:
            with self.subTest(index=index):
                got = result[index]
                if isinstance(index, slice):
                    self.assertIsInstance(got, tuple)
                    self.assertEqual([(c.start_ms, c.end_ms) for c in got], want)
                else:
                    self.assertEqual((got.start_ms, got.end_ms), want)
        for index, error in [(3, IndexError), (-4, IndexError), (2**40, IndexError),
                             (-2**40, IndexError), ("0", TypeError), (1.0, TypeError)]:
            with self.subTest(index=index), self.assertRaises(error):
                result[index]
        self.assertEqual(result.cues, result[:])
        result.close()

    def test_closing(self):
        lib, made, freed = tracked()
        with lib.parse(SRT) as result:
            self.assertFalse(result.closed)
            self.assertEqual(freed, [])
            cue = result[1]
        self.assertTrue(result.closed)
        self.assertEqual(freed, made)
        result.close()  # a second close frees nothing more
        self.assertEqual(freed, made)

        # A closed result keeps what it read at the parse; its cues are gone.
        self.assertEqual((result.format, result.format_id, result.encoding, result.warnings),
                         ("srt", subparse.SUB_FMT_SRT, "UTF-8", ()))
        self.assertEqual(cue.lines, ("café",))  # a cue read earlier owns its values
        uses = {"len": len, "index": lambda r: r[0], "slice": lambda r: r[:], "iterate": list,
                "cues": lambda r: r.cues, "json": lambda r: r.json, "to_dict": lambda r: r.to_dict(),
                "write": lambda r: r.write(), "write json": lambda r: r.write("json"),
                "shift": lambda r: r.shift(1), "scale": lambda r: r.scale(25, 24),
                "sort": lambda r: r.sort()}
        for name, use in uses.items():
            with self.subTest(name), self.assertRaisesRegex(ValueError, "closed"):
                use(result)
        with tempfile.TemporaryDirectory() as folder:
            with self.assertRaisesRegex(ValueError, "closed"):
                result.save(os.path.join(folder, "out.srt"))
            self.assertEqual(os.listdir(folder), [])

        # Closing part-way through a loop stops it.
        result = lib.parse(SRT)
        with self.assertRaises(ValueError):
            for _ in result:
                result.close()
        self.assertEqual(freed, made)

        # A result never closed is freed when collected.
        lib.parse(SRT)
        gc.collect()
        self.assertEqual(len(made), 3)
        self.assertEqual(freed, made)

    def test_json_agrees_with_cues(self):
        for data in (SRT, BILIBILI):
            with self.lib.parse(data) as result:
                doc = result.to_dict()
                self.assertIs(result.json, result.json)  # rendered once
                self.assertEqual(doc["format"], result.format)
                for cue, item in zip(result, doc["cues"], strict=True):
                    with self.subTest(format=result.format, start=cue.start_ms):
                        self.assertEqual((item["start"], item["end"], tuple(item["lines"])),
                                         (cue.start_ms, cue.end_ms, cue.lines))
                        self.assertEqual(item.get("danmu", False), cue.danmu)
                        if cue.danmu:
                            self.assertEqual((item["mode"], item["color"], item["fontsize"]),
                                             (cue.mode, cue.color, cue.fontsize))

    def test_encodings_warnings_and_ill_formed_lines(self):
        # (name, input, encoding named, encoding reported, warnings, line). Under
        # the fixed rule up to 7 invalid sequences stay UTF-8, so the accessor
        # hands out raw bytes that the module shows as U+FFFD.
        cases = [
            ("utf-8", ONE_CUE + b"caf\xc3\xa9\r\n", None, "UTF-8", (), "café"),
            ("utf-8 with a mark", b"\xef\xbb\xbf" + ONE_CUE + b"caf\xc3\xa9\r\n", None, "UTF-8", (),
             "café"),
            ("utf-16le", b"\xff\xfe" + (ONE_CUE + "café\r\n".encode()).decode().encode("utf-16-le"),
             None, "UTF-16LE", (), "café"),
            ("utf-16be", b"\xfe\xff" + (ONE_CUE + "café\r\n".encode()).decode().encode("utf-16-be"),
             None, "UTF-16BE", (), "café"),
            ("gbk by its other name", ONE_CUE + "你好\r\n".encode("gbk"), "cp936", "GBK", (), "你好"),
            ("cp1252", ONE_CUE + b"caf\xe9 " * 8 + b"\r\n", FIXED_RULE, "CP1252", (CP1252_WARNING,),
             "café " * 7 + "café"),
            ("iso-8859-1", ONE_CUE + b"x\x81\x81\x81\x81\x81\x81\x81\x81\r\n", FIXED_RULE,
             "ISO-8859-1", ("encoding: fell back to ISO-8859-1",), "x" + "\x81" * 8),
            ("few invalid bytes", ONE_CUE + b"caf\xe9 \xe9\xe9\r\n", FIXED_RULE, "UTF-8", (),
             "caf\ufffd \ufffd\ufffd"),
        ]
        for name, data, named, encoding, warnings, line in cases:
            with self.subTest(name), self.lib.parse(data, encoding=named) as result:
                self.assertEqual(result.encoding, encoding)
                self.assertEqual(result.warnings, warnings)
                self.assertEqual(result[0].lines, (line,))
                self.assertEqual(result.to_dict()["cues"][0]["lines"], [line])

    def test_encoding_is_detected_unless_named(self):
        # (name, text, the file's encoding, encoding named, encoding reported,
        # warnings, encoding the text must read back from). The parse's default
        # is the library's, "auto".
        ru = "Привет, как у тебя дела сегодня?\r\nВсё хорошо, спасибо."
        zh = "你好，今天过得怎么样？\r\n我很好，谢谢你。我们回家吧。"
        tw = "你好，今天過得怎麼樣？\r\n我很好，謝謝你。我們回家吧。"
        ja = "今日はとても良い天気ですね。\r\nそうですね、散歩に行きましょう。"

        def guessed(name):
            return (f"encoding: detected {name}",)

        cases = [
            ("GBK by default", zh, "gbk", None, "GB18030", guessed("GB18030"), "gbk"),
            ("CP1251 by default", ru, "cp1251", None, "CP1251", guessed("CP1251"), "cp1251"),
            ("Big5 by default", tw, "big5", None, "BIG5", guessed("BIG5"), "big5"),
            ("Shift_JIS by default", ja, "shift_jis", None, "SHIFT_JIS", guessed("SHIFT_JIS"),
             "shift_jis"),
            ("UTF-16LE without a mark", "Hello there,\r\nhow are you?", "utf-16-le", None,
             "UTF-16LE", guessed("UTF-16LE"), "utf-16-le"),
            ("UTF-8 is no guess", zh, "utf-8", None, "UTF-8", (), "utf-8"),
            # One invalid byte: read as CP1252, never left as U+FFFD.
            ("a short Latin-1 line", "café", "latin-1", None, "CP1252", guessed("CP1252"),
             "latin-1"),
            ("auto named", ru, "cp1251", "auto", "CP1251", guessed("CP1251"), "cp1251"),
            ("auto in capitals", zh, "gbk", "AUTO", "GB18030", guessed("GB18030"), "gbk"),
            ("a named encoding is no guess", ru, "cp1251", "cp1251", "CP1251", (), "cp1251"),
            ("the fixed rule reads CP1251 as CP1252", ru, "cp1251", FIXED_RULE, "CP1252",
             (CP1252_WARNING,), "cp1252"),
        ]
        for name, text, written, named, reported, warnings, read_as in cases:
            data = (ONE_CUE.decode() + text + "\r\n").encode(written)
            with self.subTest(name), self.lib.parse(data, "srt", named) as result:
                self.assertEqual(result.encoding, reported)
                self.assertEqual(result.warnings, warnings)
                want = tuple(text.encode(written).decode(read_as).split("\r\n"))
                self.assertEqual(result[0].lines, want)

    def test_detect(self):
        cases = [(SRT, None, "srt"), (BILIBILI, None, "bilibili"), (SRT.decode(), None, "srt"),
                 (b"no format here", "x.lrc", "lrc"), (b"no format here", None, None), (b"", None, None)]
        for data, name, want in cases:
            with self.subTest(want=want, name=name):
                self.assertEqual(self.lib.detect(data, name), want)

    def test_threads_parse_at_once(self):
        inputs = [SRT, BILIBILI, LRC, b"\xff\xfe" + SRT.decode().encode("utf-16-le"),
                  ONE_CUE + b"caf\xe9 " * 8 + b"\r\n", CP1252_PROSE, b""]

        def snapshot(lib, data):
            try:
                with lib.parse(data) as r:
                    return (r.format, r.format_id, r.encoding, r.warnings, r.cues, r.json)
            except subparse.SubparseError as error:
                return (error.code, error.message, error.warnings)

        expected = [snapshot(self.lib, data) for data in inputs]
        got, errors = {}, []
        start = threading.Barrier(8)

        def work(n):
            try:
                lib = self.lib if n % 2 else subparse.Subparse(LIBRARY)  # shared and own
                start.wait()
                got[n] = [[snapshot(lib, inputs[(k + n) % len(inputs)]) for k in range(len(inputs))]
                          for _ in range(30)]
            except Exception as error:  # noqa: BLE001 - reported below
                errors.append(repr(error))

        threads = [threading.Thread(target=work, args=(n,)) for n in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(errors, [])
        for n, rounds in got.items():
            want = [expected[(k + n) % len(inputs)] for k in range(len(inputs))]
            for round_ in rounds:
                self.assertEqual(round_, want, f"thread {n}")
        self.assertEqual(len(got), 8)

    def test_threads_share_a_result_while_it_closes(self):
        result = self.lib.parse(SRT)
        outcomes, start = [], threading.Barrier(5)

        def read():  # until the close reaches this thread (a bound, should it never)
            start.wait()
            deadline = time.monotonic() + 20
            while (not outcomes or outcomes[-1] != "closed") and time.monotonic() < deadline:
                try:
                    outcomes.append(cues_of(result) == SRT_CUES and result.to_dict()["format"] == "srt")
                except ValueError:
                    outcomes.append("closed")

        threads = [threading.Thread(target=read) for _ in range(4)]
        for thread in threads:
            thread.start()
        start.wait()
        result.close()
        for thread in threads:
            thread.join()
        self.assertLessEqual(set(outcomes), {True, "closed"})  # never a wrong read
        self.assertIn("closed", outcomes)

    def test_library_not_found(self):
        missing = os.path.join(tempfile.gettempdir(), "no-such-dir", "libsubparse.so")
        env = {k: v for k, v in os.environ.items() if k not in ("SUBPARSE_LIBRARY", "LD_LIBRARY_PATH")}
        probe = ("import ctypes.util, subparse\n"
                 "ctypes.util.find_library = lambda name: None\n"
                 "try:\n    subparse.Subparse()\n"
                 "except subparse.LibraryNotFoundError as error:\n"
                 "    assert isinstance(error, OSError)\n    print(error)\n    sys.exit(3)\n")
        # (name, environment, texts the message must hold)
        cases = [
            ("path from the environment", {**env, "SUBPARSE_LIBRARY": missing},
             [missing, "$SUBPARSE_LIBRARY", "Set SUBPARSE_LIBRARY", "install"]),
            ("nothing found anywhere", env,
             ["find_library('subparse'): nothing found", "libsubparse.so.0", "Set SUBPARSE_LIBRARY",
              "install"]),
        ]
        for name, environment, texts in cases:
            with self.subTest(name):
                run = run_python(probe, environment)
                if name == "nothing found anywhere" and run.returncode == 0:
                    self.skipTest("a libsubparse.so.0 is installed where the loader finds it")
                self.assertEqual(run.returncode, 3, run.stderr)
                for text in texts:
                    self.assertIn(text, run.stdout)

        # The script says the same in one message, without a traceback.
        with tempfile.NamedTemporaryFile() as f:
            f.write(SRT)
            f.flush()
            run = subprocess.run([sys.executable, SCRIPT, f.name], capture_output=True, text=True,
                                 env={**env, "SUBPARSE_LIBRARY": missing}, check=False)
        self.assertEqual(run.returncode, 69)
        self.assertEqual(run.stdout, "")
        self.assertIn(missing, run.stderr)
        self.assertNotIn("Traceback", run.stderr)

    def test_library_without_the_document_api(self):
        libc = ctypes.util.find_library("c") or "libc.so.6"
        with self.assertRaisesRegex(subparse.LibraryNotFoundError, "sub_format_name.*document API"):
            subparse.Subparse(libc)

    def test_command_line(self):
        # (input, exit code, standard output, text in standard error)
        cases = [
            (SRT, 0, "0:00:01.000 --> 0:00:02.500  first line | second line\n"
                     "0:00:03.000 --> 0:00:04.000  café\n", ""),
            (BILIBILI, 0, "0:00:01.500 --> 0:00:04.500  hello  [mode 1, colour #FFFFFF, size 25]\n"
                          "0:00:03.000 --> 0:00:06.000  top & blue  [mode 5, colour #0000FF, size 36]\n", ""),
            (b"no times here\n", 5, "", "(code 5)"),
            (None, 66, "", "subparse.py: "),  # a file that is not there
        ]
        for data, code, stdout, stderr in cases:
            with self.subTest(code=code, stdout=stdout), tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, "input")
                if data is not None:
                    with open(path, "wb") as f:
                        f.write(data)
                run = subprocess.run([sys.executable, SCRIPT, path], capture_output=True, text=True,
                                     encoding="utf-8", check=False)
                self.assertEqual((run.returncode, run.stdout), (code, stdout), run.stderr)
                self.assertIn(stderr, run.stderr)
                self.assertNotIn("Traceback", run.stderr)

    # -- writing and retiming --------------------------------------------

    def test_parse_options_fill_the_whole_declaration(self):
        # The plain sub_parse_options_init() would leave microdvd_fps at 0 and
        # the size at the first release's.
        lib = subparse.Subparse(LIBRARY)
        seen = []
        real_parse = lib._lib.sub_doc_parse

        def parse(data, size, options, out):
            seen.append((options._obj.size, options._obj.microdvd_fps))
            return real_parse(data, size, options, out)

        lib._lib.sub_doc_parse = parse
        lib.parse(SRT).close()
        lib.parse(SRT, microdvd_fps=30).close()
        self.assertEqual(seen, [(ctypes.sizeof(subparse.SubParseOptions), 25.0),
                                (ctypes.sizeof(subparse.SubParseOptions), 30.0)])

    def test_write_options_match_the_library(self):
        # Members out of place would read the defaults as other values.
        options = subparse.SubWriteOptions()
        self.lib._lib.sub_write_options_init_size(ctypes.byref(options), ctypes.sizeof(options))
        self.assertEqual((options.size, options.vtt_header, options.ass_play_res_x,
                          options.ass_play_res_y, options.ass_font, options.ass_font_size,
                          options.ttml_lang),
                         (ctypes.sizeof(options), b"", 1920, 1080, b"Arial", 54.0, b""))
        self.assertEqual((options.danmaku_font_size, options.danmaku_scroll_ms,
                          options.danmaku_fixed_ms, options.danmaku_opacity,
                          options.danmaku_scroll_share, options.danmaku_overflow,
                          options.danmaku_drop_modes, options.danmaku_block_words,
                          bool(options.danmaku_measure), options.danmaku_measure_user),
                         (50.0, 8000, 4000, 0.8, 1.0, subparse.SUB_DANMAKU_DROP, 0, b"", False,
                          None))

    def test_microdvd_fps(self):
        one = b"{25}{50}hello\n"
        declared = b"{1}{1}10\n{25}{50}hello\n"  # a rate on the first line wins
        # (name, input, microdvd_fps, expected cues)
        cases = [
            ("the library's default", one, None, [(1000, 2000, ("hello",))]),
            ("a faster video", one, 50, [(500, 1000, ("hello",))]),
            ("a slower one, as a float", one, 12.5, [(2000, 4000, ("hello",))]),
            ("the file's own rate", declared, 50, [(2500, 5000, ("hello",))]),
            ("other formats ignore it", SRT, 50, SRT_CUES),
        ]
        for name, data, fps, want in cases:
            with self.subTest(name), self.lib.parse(data, microdvd_fps=fps) as result:
                self.assertEqual(cues_of(result), want)
        for fps in (1, 1000, float("nan")):
            with self.subTest(fps=fps), self.assertRaises(subparse.SubparseError) as caught:
                self.lib.parse(one, microdvd_fps=fps)
            self.assertEqual(caught.exception.code, subparse.SUB_ERR_ARGUMENT)
            self.assertIn("microdvd_fps", caught.exception.message)
        lib, made, _ = tracked()
        for fps in ("25", True, 10**400):
            with self.subTest(fps=fps), self.assertRaises((TypeError, ValueError)):
                lib.parse(one, microdvd_fps=fps)
        self.assertEqual(made, [])  # refused before the library

    def test_every_writer_reads_back(self):
        # (format asked for, format the text reads back as)
        cases = [("srt", "srt"), ("SRT", "srt"), ("subrip", "srt"), (subparse.SUB_FMT_SRT, "srt"),
                 ("vtt", "vtt"), ("webvtt", "vtt"), ("ass", "ass"), ("ssa", "ass"),
                 ("lrc", "lrc"), ("ttml", "ttml"), ("dfxp", "ttml")]
        with self.lib.parse(WRITE_SAMPLE) as result:
            self.assertEqual(cues_of(result), WRITE_CUES)
            for fmt, back in cases:
                with self.subTest(fmt=fmt):
                    text = result.write(fmt)
                    self.assertIsInstance(text, str)
                    self.assertEqual(read_back(self.lib, text, back),
                                     (back, expected_back(back, WRITE_CUES)))

    def test_json_is_the_document(self):
        for data in (WRITE_SAMPLE, BILIBILI):
            with self.lib.parse(data) as result:
                for fmt in ("json", "JSON", subparse.SUB_FMT_JSON):
                    with self.subTest(format=result.format, fmt=fmt):
                        text = result.write(fmt)
                        self.assertEqual(text, result.json)
                        self.assertEqual(json.loads(text), result.to_dict())

    def test_write_options_reach_the_text(self):
        # (format, options, text the output must hold)
        cases = [
            ("vtt", {"vtt_header": "Kind: captions"}, "WEBVTT Kind: captions\n"),
            ("ass", {"ass_play_res": (640, 480)}, "PlayResX: 640\nPlayResY: 480\n"),
            ("ass", {"ass_play_res_x": 1280}, "PlayResX: 1280\nPlayResY: 1080\n"),
            ("ass", {"ass_font": "DejaVu Sans"}, "Style: Default,DejaVu Sans,"),
            ("ttml", {"ttml_lang": "fr-CA"}, 'xml:lang="fr-CA"'),
        ]
        with self.lib.parse(WRITE_SAMPLE) as result:
            for fmt, options, want in cases:
                with self.subTest(fmt=fmt, options=options):
                    self.assertIn(want, result.write(fmt, **options))
            # Values at the edges of what the library takes, and None for a
            # default, change nothing in a format that has no use for them.
            self.assertEqual(result.write("srt", vtt_header="", ass_play_res=(1, 16384),
                                          ass_font="DejaVu Sans", ass_font_size=10000,
                                          ttml_lang="en-GB", ass_play_res_x=None),
                             result.write("srt"))

    def test_danmaku_options_reach_the_layout(self):
        scroll = "0:00:01.00,0:00:09.00,Danmaku,,0,0,0,,{\\an7\\move(1922,2,"
        second_row = "\\move(1922,58,"
        # (name, input, options, texts the output holds, texts it lacks, warnings added)
        cases = [
            ("the defaults", EVERY_MODE, {},
             ["Style: Danmaku,Arial,50,", scroll, "}at the bottom\n", "}on top\n", "}backwards\n",
              "\\pos(960,540)}placed\n", "\\alpha&H33&"], [], ()),
            ("font size", EVERY_MODE, {"danmaku_font_size": 36}, ["Style: Danmaku,Arial,36,"],
             ["Style: Danmaku,Arial,50,"], ()),
            ("scroll time", EVERY_MODE, {"danmaku_scroll_ms": 6500},
             ["0:00:01.00,0:00:07.50,Danmaku,,0,0,0,,{\\an7\\move(1922,2,"], [scroll], ()),
            ("fixed time", EVERY_MODE, {"danmaku_fixed_ms": 2000},
             ["0:00:01.00,0:00:03.00,Danmaku,,0,0,0,,{\\an8"], [], ()),
            ("opacity", EVERY_MODE, {"danmaku_opacity": 0.5}, ["\\alpha&H80&}scrolls"],
             ["\\alpha&H33&"], ()),
            ("drop the top comment", EVERY_MODE, {"danmaku_drop_modes": [5]},
             ["}scrolls\n", "}at the bottom\n", "}backwards\n", "}placed\n"], ["on top"],
             ("danmaku: 1 comment dropped: filtered out",)),
            ("drop modes from a set", EVERY_MODE, {"danmaku_drop_modes": {4, 5, 7}},
             ["}scrolls\n", "}backwards\n"], ["at the bottom", "on top", "placed"],
             ("danmaku: 3 comments dropped: filtered out",)),
            ("block words, an empty one left out", EVERY_MODE,
             {"danmaku_block_words": ("top", "", "back")},
             ["}scrolls\n"], ["on top", "backwards"],
             ("danmaku: 2 comments dropped: filtered out",)),
            ("block words match letter case", EVERY_MODE, {"danmaku_block_words": ["TOP"]},
             ["}on top\n"], [], ()),
            ("a row each", CROWD, {}, ["}one\n", second_row, "}three\n"], [], ()),
            ("a share of one row", CROWD, {"danmaku_scroll_share": 0.05}, ["}one\n"],
             ["two", "three"], ("danmaku: 2 comments dropped: no free row",)),
            ("overlap", CROWD, {"danmaku_scroll_share": 0.05, "danmaku_overflow": "overlap"},
             ["}one\n", "}two\n", "}three\n"], [second_row], ()),
            ("drop is the default", CROWD,
             {"danmaku_scroll_share": 0.05, "danmaku_overflow": "drop"},
             ["}one\n"], ["two"], ("danmaku: 2 comments dropped: no free row",)),
            ("the play resolution places them", EVERY_MODE, {"ass_play_res": (1280, 720)},
             ["{\\an7\\move(1282,2,", "\\pos(640,360)}placed"], [], ()),
        ]
        for name, data, options, has, lacks, added in cases:
            with self.subTest(name), self.lib.parse(data) as result:
                before = result.warnings
                text = result.write("ass", **options)
                for want in has:
                    self.assertIn(want, text)
                for unwanted in lacks:
                    self.assertNotIn(unwanted, text)
                self.assertEqual(result.warnings, before + added)
                # The library reports a drop once, however often it is written.
                self.assertEqual(result.write("ass", **options), text)
                self.assertEqual(result.warnings, before + added)
        # Any iterable will do.
        with self.lib.parse(EVERY_MODE) as result:
            text = result.write("ass", danmaku_block_words=(w for w in ["top"]),
                                danmaku_drop_modes=(m for m in range(1, 3)))
            self.assertNotIn("on top", text)
            self.assertNotIn("scrolls", text)
            self.assertEqual(result.warnings, ("danmaku: 2 comments dropped: filtered out",))
        # save() refreshes the warnings too; a format with no layout adds none.
        with self.lib.parse(EVERY_MODE) as result, tempfile.TemporaryDirectory() as folder:
            self.assertIn("on top", result.write("srt", danmaku_drop_modes=[5]))
            self.assertEqual(result.warnings, ())
            result.save(os.path.join(folder, "out.ass"), danmaku_drop_modes=[5])
            self.assertEqual(result.warnings, ("danmaku: 1 comment dropped: filtered out",))

    def test_danmaku_measure_changes_the_layout(self):
        calls = []

        def measure(text, font_px):
            calls.append((text, font_px))
            return 1000.0

        with self.lib.parse(CROWD) as result:
            text = result.write("ass", danmaku_measure=measure)
        # Each line once, with the pixels of its size (36 is 36/25 of 50).
        self.assertEqual(sorted(calls), [("one", 50.0), ("three", 72.0), ("two", 50.0)])
        # A scrolling comment leaves the screen by its whole width.
        self.assertIn("\\move(1922,2,-1000,2)\\alpha&H33&}one\n", text)
        with self.lib.parse(FOLLOW) as result:
            narrow = result.write("ass")
            wide = result.write("ass", danmaku_measure=lambda text, font_px: 1000.0)
        # Estimated, the first has moved clear of the second a second later,
        # which follows it in the top row; 1000 pixels wide, it has not.
        self.assertIn("0:00:02.00,0:00:10.00,Danmaku,,0,0,0,,{\\an7\\move(1922,2,", narrow)
        self.assertIn("0:00:02.00,0:00:10.00,Danmaku,,0,0,0,,{\\an7\\move(1922,58,-1000,58)",
                      wide)

    def test_danmaku_measure_failures_fall_back(self):
        with self.lib.parse(CROWD) as result:
            estimated = result.write("ass")

            def raising(text, font_px):
                raise ZeroDivisionError("no font")

            # (name, measure, the RuntimeWarning's text or None)
            cases = [
                ("negative", lambda text, font_px: -1.0, None),
                ("NaN", lambda text, font_px: float("nan"), None),
                ("infinite", lambda text, font_px: float("inf"), None),
                ("raises", raising, "ZeroDivisionError"),
                ("not a number", lambda text, font_px: "wide", "ValueError"),
                ("wrong signature", lambda text: 10.0, "TypeError"),
            ]
            for name, measure, warned in cases:
                with self.subTest(name), pywarnings.catch_warnings(record=True) as caught:
                    pywarnings.simplefilter("always")
                    self.assertEqual(result.write("ass", danmaku_measure=measure), estimated)
                    got = [str(w.message) for w in caught if w.category is RuntimeWarning]
                    if warned is None:
                        self.assertEqual(got, [])
                    else:
                        self.assertEqual(len(got), 1, got)
                        self.assertIn(warned, got[0])
                        self.assertIn("3 text(s)", got[0])
            # An interrupt is not swallowed: raised once the write is over,
            # the measure not called again after it.
            calls = []

            def interrupted(text, font_px):
                calls.append(text)
                raise KeyboardInterrupt

            with self.assertRaises(KeyboardInterrupt):
                result.write("ass", danmaku_measure=interrupted)
            self.assertEqual(len(calls), 1)
            self.assertEqual(result.write("ass"), estimated)  # the document is as it was

    def test_write_frees_the_library_text(self):
        lib = subparse.Subparse(LIBRARY)
        made, freed = tracked_writes(lib)
        with lib.parse(WRITE_SAMPLE) as result:
            result.write()
            result.write("json")
            for fmt, options in (("microdvd", {}), ("srt", {"ass_font": ""})):
                with self.assertRaises(ValueError):
                    result.write(fmt, **options)
        self.assertEqual(len(made), 2)
        self.assertEqual(freed, made)

    def test_save(self):
        # (file name, fmt, format written)
        cases = [("out.srt", None, "srt"), ("OUT.SRT", None, "srt"), ("out.vtt", None, "vtt"),
                 ("out.webvtt", None, "vtt"), ("out.ass", None, "ass"), ("out.ssa", None, "ass"),
                 ("out.lrc", None, "lrc"), ("out.ttml", None, "ttml"), ("out.dfxp", None, "ttml"),
                 ("out.json", None, "json"), ("out.txt", "srt", "srt"), ("out", "vtt", "vtt"),
                 ("out.srt", "json", "json")]  # fmt wins over the extension
        with self.lib.parse(WRITE_SAMPLE) as result:
            for name, fmt, written in cases:
                with self.subTest(name=name, fmt=fmt), tempfile.TemporaryDirectory() as folder:
                    path = os.path.join(folder, name)
                    self.assertIsNone(result.save(path, fmt))
                    with open(path, "rb") as f:
                        self.assertEqual(f.read(), result.write(written).encode("utf-8"))
                    self.assertEqual(os.listdir(folder), [name])  # no temporary left
            with tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, "out.ass")
                result.save(path, ass_font="DejaVu Sans", ass_play_res=(640, 480))
                with open(path, encoding="utf-8") as f:
                    self.assertEqual(f.read(), result.write("ass", ass_font="DejaVu Sans",
                                                            ass_play_res=(640, 480)))
                # A path object, read back through the module's own parse.
                result.save(pathlib.Path(folder) / "again.srt")
                with open(os.path.join(folder, "again.srt"), "rb") as f:
                    self.assertEqual(read_back(self.lib, f.read(), "srt"), ("srt", WRITE_CUES))

    def test_save_replaces_a_file_in_one_step(self):
        with self.lib.parse(SRT) as result, tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "out.srt")
            with open(path, "w", encoding="utf-8") as f:
                f.write("old")
            os.chmod(path, 0o640)
            os.symlink("out.srt", os.path.join(folder, "link.srt"))
            result.save(os.path.join(folder, "link.srt"))
            self.assertTrue(os.path.islink(os.path.join(folder, "link.srt")))
            with open(path, encoding="utf-8") as f:
                self.assertEqual(f.read(), result.write())
            self.assertEqual(os.stat(path).st_mode & 0o777, 0o640)
            self.assertEqual(sorted(os.listdir(folder)), ["link.srt", "out.srt"])

            # A failure at the last step keeps the old file and removes the temporary.
            with open(path, "w", encoding="utf-8") as f:
                f.write("old")
            with mock.patch.object(subparse.os, "replace", side_effect=OSError(28, "No space")), \
                    self.assertRaises(OSError):
                result.save(path)
            with open(path, encoding="utf-8") as f:
                self.assertEqual(f.read(), "old")
            self.assertEqual(sorted(os.listdir(folder)), ["link.srt", "out.srt"])

    def test_save_failures_leave_no_file(self):
        # (name, file name in the folder, fmt, error, text in its message)
        cases = [
            ("unknown extension", "out.txt", None, ValueError, "'.txt'"),
            ("extension with no writer", "out.sub", None, ValueError, "no writer for the extension '.sub'"),
            ("bilibili's extension", "out.xml", None, ValueError, "'.xml'"),
            ("no extension", "out", None, ValueError, "no extension"),
            ("format with no writer", "out.srt", "sami", ValueError, "no writer for format 'sami'"),
            ("refused option", "out.srt", None, ValueError, "ass_font=','"),
            ("missing folder", os.path.join("missing", "out.srt"), None, FileNotFoundError, ""),
            ("a folder in the way", "taken.srt", None, IsADirectoryError, ""),
            ("unwritable folder", "out.srt", None, PermissionError, ""),
        ]
        with self.lib.parse(SRT) as result:
            for name, file_name, fmt, error, text in cases:
                with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                    os.mkdir(os.path.join(folder, "taken.srt"))
                    if name == "unwritable folder":
                        os.chmod(folder, 0o500)
                        if os.access(folder, os.W_OK):
                            os.chmod(folder, 0o700)
                            self.skipTest("this user writes into read-only folders (root)")
                    try:
                        options = {"ass_font": ","} if name == "refused option" else {}
                        with self.assertRaisesRegex(error, text):
                            result.save(os.path.join(folder, file_name), fmt, **options)
                        self.assertEqual(os.listdir(folder), ["taken.srt"])
                    finally:
                        os.chmod(folder, 0o700)

    def test_retiming(self):
        two = SRT  # cues at 1000-2500 and 3000-4000
        unordered = (b"1\n00:00:03,000 --> 00:00:04,000\nx\n\n2\n00:00:01,000 --> 00:00:02,000\na\n\n"
                     b"3\n00:00:01,000 --> 00:00:01,500\nb\n")
        # (name, input, retiming, expected (start, end, first line) of each cue)
        cases = [
            ("shift later", two, lambda r: r.shift(2000), [(3000, 4500), (5000, 6000)]),
            ("shift earlier, below 0", two, lambda r: r.shift(-1500), [(-500, 1000), (1500, 2500)]),
            ("a float rounds", two, lambda r: r.shift(-0.6), [(999, 2499), (2999, 3999)]),
            ("saturates", two, lambda r: r.shift(2**40), [(INT32_MAX, INT32_MAX)] * 2),
            ("past 64 bits", two, lambda r: r.shift(-10**30), [(INT32_MIN, INT32_MIN)] * 2),
            ("25 to 23.976 lengthens", two, lambda r: r.scale(25, 23.976),
             [(1043, 2607), (3128, 4171)]),
            ("23.976 to 25 shortens", two, lambda r: r.scale(23.976, 25), [(959, 2398), (2877, 3836)]),
            ("chained", two, lambda r: r.shift(2000).scale(2, 1).shift(-6000),
             [(0, 3000), (4000, 6000)]),
            ("sort keeps cues that start together in order", unordered, lambda r: r.sort(),
             [(1000, 2000, "a"), (1000, 1500, "b"), (3000, 4000, "x")]),
            ("sort after a shift", unordered, lambda r: r.sort().shift(-1000).sort(),
             [(0, 1000, "a"), (0, 500, "b"), (2000, 3000, "x")]),
        ]
        for name, data, retime, want in cases:
            with self.subTest(name), self.lib.parse(data) as result:
                self.assertIs(retime(result), result)
                got = [(c.start_ms, c.end_ms, c.lines[0])[:len(w)] for c, w in zip(result, want)]
                self.assertEqual(got, want)
                self.assertEqual(len(result), len(want))

    def test_retiming_renews_what_was_read(self):
        with self.lib.parse(SRT) as result:
            before = result.to_dict()
            self.assertEqual(result.json, result.json)
            text = result.shift(2000).write()
            self.assertIn("00:00:03,000 --> 00:00:04,500", text)
            self.assertEqual([(c["start"], c["end"]) for c in result.to_dict()["cues"]],
                             [(3000, 4500), (5000, 6000)])
            self.assertEqual(json.loads(result.write("json")), result.to_dict())
            self.assertNotEqual(result.to_dict(), before)
            # Times below 0 are written as 0.
            self.assertTrue(result.shift(-3500).write().startswith(
                "1\n00:00:00,000 --> 00:00:01,000\nfirst line\nsecond line\n\n"))

    def test_write_and_retime_errors(self):
        # (name, call, error, text in its message)
        cases = [
            ("unknown format", lambda r: r.write("mkv"), ValueError, "unknown format 'mkv'"),
            ("format with no writer", lambda r: r.write("microdvd"), ValueError,
             "no writer for format 'microdvd'"),
            ("auto", lambda r: r.write("auto"), ValueError, "no writer"),
            ("identifier with no writer", lambda r: r.write(99), ValueError, "no writer"),
            ("identifier past 32 bits", lambda r: r.write(2**32), ValueError, "32 bits"),
            ("format of a wrong type", lambda r: r.write(1.0), TypeError, "fmt"),
            ("NUL in a format", lambda r: r.write("srt\0"), ValueError, "unknown format"),
            ("line break in the header", lambda r: r.write("vtt", vtt_header="a\nb"), ValueError,
             r"vtt_header='a\\nb'"),
            ("resolution 0", lambda r: r.write("ass", ass_play_res=(0, 1080)), ValueError,
             "ass_play_res_x=0"),
            # ctypes would cut it to 1920 without a word.
            ("resolution past 32 bits", lambda r: r.write("ass", ass_play_res_x=2**32 + 1920),
             ValueError, "out of range"),
            ("comma in the font", lambda r: r.write("ass", ass_font="A,B"), ValueError, "ass_font"),
            ("font size 0", lambda r: r.write("ass", ass_font_size=0), ValueError, "ass_font_size"),
            ("font size too large", lambda r: r.write("ass", ass_font_size=10001), ValueError,
             "ass_font_size"),
            ("quote in the language", lambda r: r.write("ttml", ttml_lang='a"b'), ValueError,
             "ttml_lang"),
            ("options checked whatever the format", lambda r: r.write("srt", ass_font="A,B"),
             ValueError, "ass_font"),
            ("NUL in a text option", lambda r: r.write("vtt", vtt_header="a\0b"), ValueError, "NUL"),
            ("resolution not a pair", lambda r: r.write("ass", ass_play_res=(1,)), TypeError, "pair"),
            ("both resolutions", lambda r: r.write("ass", ass_play_res=(1, 1), ass_play_res_x=1),
             TypeError, "not both"),
            ("unknown option", lambda r: r.write("srt", colour="red"), TypeError, "colour"),
            ("font not a str", lambda r: r.write("ass", ass_font=5), TypeError, "ass_font"),
            ("resolution not an integer", lambda r: r.write("ass", ass_play_res_x=1.5), TypeError,
             "ass_play_res_x"),
            ("resolution a bool", lambda r: r.write("ass", ass_play_res_x=True), TypeError, "bool"),
            ("font size a str", lambda r: r.write("ass", ass_font_size="54"), TypeError,
             "ass_font_size"),
            # Danmaku options: the library's ranges, and what this module translates.
            ("scroll time too short", lambda r: r.write("ass", danmaku_scroll_ms=499), ValueError,
             r"danmaku_scroll_ms=499 \(must be 500 to 60000\)"),
            ("fixed time past 32 bits", lambda r: r.write("ass", danmaku_fixed_ms=2**32 + 4000),
             ValueError, "out of range"),
            ("scroll time a float", lambda r: r.write("ass", danmaku_scroll_ms=6.5), TypeError,
             "danmaku_scroll_ms"),
            ("danmaku font size 0", lambda r: r.write("ass", danmaku_font_size=0), ValueError,
             "danmaku_font_size=0"),
            ("opacity above 1", lambda r: r.write("ass", danmaku_opacity=1.5), ValueError,
             "danmaku_opacity"),
            ("opacity NaN", lambda r: r.write("ass", danmaku_opacity=float("nan")), ValueError,
             "danmaku_opacity"),
            ("share 0", lambda r: r.write("ass", danmaku_scroll_share=0), ValueError,
             "danmaku_scroll_share"),
            ("share a str", lambda r: r.write("ass", danmaku_scroll_share="1"), TypeError,
             "danmaku_scroll_share"),
            ("unknown overflow", lambda r: r.write("ass", danmaku_overflow="stack"), ValueError,
             "'drop' or 'overlap'"),
            ("overflow a number", lambda r: r.write("ass", danmaku_overflow=1), TypeError,
             "danmaku_overflow"),
            ("modes not iterable", lambda r: r.write("ass", danmaku_drop_modes=5), TypeError,
             "iterable of modes"),
            ("modes a str", lambda r: r.write("ass", danmaku_drop_modes="45"), TypeError,
             "single str"),
            ("mode 0", lambda r: r.write("ass", danmaku_drop_modes=[0]), ValueError, "1 to 31"),
            ("mode 32", lambda r: r.write("ass", danmaku_drop_modes=[4, 32]), ValueError,
             "mode 32"),
            ("mode a bool", lambda r: r.write("ass", danmaku_drop_modes=[True]), TypeError, "bool"),
            ("mode a float", lambda r: r.write("ass", danmaku_drop_modes=[4.0]), TypeError,
             "integer mode"),
            ("words a str", lambda r: r.write("ass", danmaku_block_words="spoiler"), TypeError,
             "single str"),
            ("word with a line feed", lambda r: r.write("ass", danmaku_block_words=["a\nb"]),
             ValueError, "line feed"),
            ("word with a NUL", lambda r: r.write("ass", danmaku_block_words=["a\0b"]), ValueError,
             "NUL"),
            ("word not a str", lambda r: r.write("ass", danmaku_block_words=[b"a"]), TypeError,
             "not a str"),
            ("measure not callable", lambda r: r.write("ass", danmaku_measure=100.0), TypeError,
             "danmaku_measure"),
            ("rate 0", lambda r: r.scale(0, 25), ValueError, "frame rates"),
            ("rate NaN", lambda r: r.scale(float("nan"), 25), ValueError, "frame rates"),
            ("rate a str", lambda r: r.scale("25", 24), TypeError, "from_fps"),
            ("shift a str", lambda r: r.shift("1"), TypeError, "ms"),
            ("shift NaN", lambda r: r.shift(float("nan")), ValueError, "nan"),
            ("shift a bool", lambda r: r.shift(True), TypeError, "ms"),
        ]
        with self.lib.parse(SRT) as result:
            for name, call, error, text in cases:
                with self.subTest(name), self.assertRaisesRegex(error, text):
                    call(result)
            self.assertEqual(cues_of(result), SRT_CUES)  # nothing refused changed a time

    def test_out_of_memory_while_writing_or_retiming(self):
        lib = subparse.Subparse(LIBRARY)
        with lib.parse(SRT) as result:
            for function in ("sub_doc_write", "sub_doc_shift", "sub_doc_scale", "sub_doc_sort"):
                real = getattr(lib._lib, function)
                setattr(lib._lib, function, lambda *args: subparse.SUB_ERR_NOMEM)
                try:
                    with self.subTest(function), self.assertRaisesRegex(MemoryError, "out of memory"):
                        {"sub_doc_write": lambda: result.write("srt"),
                         "sub_doc_shift": lambda: result.shift(1),
                         "sub_doc_scale": lambda: result.scale(25, 24),
                         "sub_doc_sort": result.sort}[function]()
                finally:
                    setattr(lib._lib, function, real)
            self.assertEqual(cues_of(result), SRT_CUES)


if __name__ == "__main__":
    unittest.main()
