"""The Python host module (examples/python/subparse.py) against the built
library that $SUBPARSE_LIBRARY names."""

import ctypes.util
import gc
import os
import subprocess
import sys
import tempfile
import threading
import time
import unittest

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
                "cues": lambda r: r.cues, "json": lambda r: r.json, "to_dict": lambda r: r.to_dict()}
        for name, use in uses.items():
            with self.subTest(name), self.assertRaisesRegex(ValueError, "closed"):
                use(result)

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


if __name__ == "__main__":
    unittest.main()
