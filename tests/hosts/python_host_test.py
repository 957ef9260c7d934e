"""The Python host module (examples/python/subparse.py) against the built
library that $SUBPARSE_LIBRARY names."""

import os
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
MODULE_DIR = os.path.join(HERE, "..", "..", "examples", "python")
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
ONE_CUE = b"1\r\n00:00:01,000 --> 00:00:02,000\r\n"


class PythonHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = subparse.Subparse(LIBRARY)

    def test_parses(self):
        # (name, input, format, encoding, expected format, expected cues)
        cases = [
            ("srt detected", SRT, "auto", None, "srt", SRT_CUES),
            ("str input", SRT.decode(), "auto", None, "srt", SRT_CUES),
            ("format by name", SRT, "srt", None, "srt", SRT_CUES),
            ("name in capitals", b"[00:01.50]la la\n", "LRC", None, "lrc", [(1500, 4500, ("la la",))]),
            ("format by id", b"[00:01.50]la la\n", 7, None, "lrc", [(1500, 4500, ("la la",))]),
            ("named encoding", "1\n00:00:01,000 --> 00:00:02,000\nпривет\n".encode("cp1251"),
             "auto", "cp1251", "srt", [(1000, 2000, ("привет",))]),
        ]
        for name, data, fmt, encoding, want_format, want_cues in cases:
            with self.subTest(name):
                result = self.lib.parse(data, fmt, encoding)
                self.assertEqual((result.format, result.format_id),
                                 (want_format, subparse.FORMATS.index(want_format)))
                self.assertEqual([(c.start_ms, c.end_ms, c.lines) for c in result], want_cues)
                self.assertEqual(len(result), len(want_cues))
                self.assertFalse(any(c.danmu for c in result))

    def test_danmaku_fields(self):
        result = self.lib.parse(BILIBILI)
        self.assertEqual(result.format, "bilibili")
        got = [(c.start_ms, c.end_ms, c.lines, c.danmu, c.mode, c.color, c.fontsize) for c in result]
        self.assertEqual(got, [(1500, 4500, ("hello",), True, 1, 0xFFFFFF, 25.0),
                               (3000, 6000, ("top & blue",), True, 5, 0x0000FF, 36.0)])

    def test_failures_raise_with_code_and_message(self):
        # (name, input, format, encoding, code)
        cases = [
            ("empty", b"", "auto", None, 3),
            ("unknown identifier", SRT, 99, None, 1),
            ("nothing parses", b"just some prose\nwith no times\n", "auto", None, 5),
            ("unknown encoding", SRT, "auto", "no-such-encoding", 2),
        ]
        for name, data, fmt, encoding, code in cases:
            with self.subTest(name):
                with self.assertRaises(subparse.SubparseError) as caught:
                    self.lib.parse(data, fmt, encoding)
                self.assertEqual(caught.exception.code, code)
                self.assertTrue(caught.exception.message)
                self.assertIn(f"(code {code})", str(caught.exception))

    def test_bad_format_argument_is_refused_before_the_library(self):
        raw = self.lib._lib
        self.assertEqual(raw.sub_parse(SRT, len(SRT), 0, None), 0)
        for fmt, error in [("mkv", ValueError), ("", ValueError), (1.0, TypeError), (True, TypeError)]:
            with self.subTest(fmt=fmt):
                with self.assertRaises(error):
                    self.lib.parse(SRT, fmt)
                self.assertEqual(raw.sub_cue_count(), 2)  # the library's result untouched

    def test_format_names_agree_with_the_library(self):
        self.assertEqual([self.lib.format_name(i) for i in range(-1, 12)],
                         ["auto", *subparse.FORMATS, "unknown"])

    def test_result_outlives_later_parses(self):
        first = self.lib.parse(SRT)
        self.lib.parse(BILIBILI)
        with self.assertRaises(subparse.SubparseError):
            self.lib.parse(b"")
        self.assertEqual([(c.start_ms, c.end_ms, c.lines) for c in first], SRT_CUES)
        self.assertEqual(first.to_dict(), {
            "format": "srt",
            "cues": [{"start": 1000, "end": 2500, "lines": ["first line", "second line"]},
                     {"start": 3000, "end": 4000, "lines": ["café"]}]})

    def test_json_agrees_with_cues(self):
        for data in (SRT, BILIBILI):
            result = self.lib.parse(data)
            doc = result.to_dict()
            self.assertEqual(doc["format"], result.format)
            for cue, item in zip(result, doc["cues"], strict=True):
                with self.subTest(format=result.format, start=cue.start_ms):
                    self.assertEqual((item["start"], item["end"], tuple(item["lines"])),
                                     (cue.start_ms, cue.end_ms, cue.lines))
                    self.assertEqual(item.get("danmu", False), cue.danmu)
                    if cue.danmu:
                        self.assertEqual((item["mode"], item["color"], item["fontsize"]),
                                         (cue.mode, cue.color, cue.fontsize))

    def test_encoding_warnings_and_ill_formed_lines(self):
        # (name, input, warnings, line); up to 7 invalid sequences stay UTF-8,
        # so the accessor hands out raw bytes that the module shows as U+FFFD.
        cases = [
            ("cp1252", ONE_CUE + b"caf\xe9 " * 8 + b"\r\n",
             ("encoding: auto-detected as CP1252 (invalid UTF-8)",), "café " * 7 + "café"),
            ("iso-8859-1", ONE_CUE + b"x\x81\x81\x81\x81\x81\x81\x81\x81\r\n",
             ("encoding: fell back to ISO-8859-1",), "x" + "\x81" * 8),
            ("few invalid bytes", ONE_CUE + b"caf\xe9 \xe9\xe9\r\n", (), "caf\ufffd \ufffd\ufffd"),
        ]
        for name, data, warnings, line in cases:
            with self.subTest(name):
                result = self.lib.parse(data)
                self.assertEqual(result.warnings, warnings)
                self.assertEqual(result.cues[0].lines, (line,))
                self.assertEqual(result.to_dict()["cues"][0]["lines"], [line])

    def test_detect(self):
        cases = [(SRT, None, "srt"), (BILIBILI, None, "bilibili"), (SRT.decode(), None, "srt"),
                 (b"no format here", "x.lrc", "lrc"), (b"no format here", None, None), (b"", None, None)]
        for data, name, want in cases:
            with self.subTest(want=want, name=name):
                self.assertEqual(self.lib.detect(data, name), want)

    def test_threads_get_their_own_results(self):
        inputs = {"srt": SRT, "bilibili": BILIBILI, "lrc": b"[00:01.50]la la\n[00:03.00]end\n"}
        expected = {name: self.lib.parse(data) for name, data in inputs.items()}
        mismatches = []

        def work(name):
            for _ in range(200):
                if self.lib.parse(inputs[name]) != expected[name]:
                    mismatches.append(name)

        threads = [threading.Thread(target=work, args=(name,)) for name in inputs for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(mismatches, [])

    def test_command_line(self):
        # (input, exit code, standard output, text in standard error)
        cases = [
            (SRT, 0, "0:00:01.000 --> 0:00:02.500  first line | second line\n"
                     "0:00:03.000 --> 0:00:04.000  café\n", ""),
            (BILIBILI, 0, "0:00:01.500 --> 0:00:04.500  hello  [mode 1, colour #FFFFFF, size 25]\n"
                          "0:00:03.000 --> 0:00:06.000  top & blue  [mode 5, colour #0000FF, size 36]\n", ""),
            (b"no times here\n", 5, "", "(code 5)"),
        ]
        for data, code, stdout, stderr in cases:
            with self.subTest(code=code, stdout=stdout), tempfile.NamedTemporaryFile() as f:
                f.write(data)
                f.flush()
                run = subprocess.run([sys.executable, os.path.join(MODULE_DIR, "subparse.py"), f.name],
                                     capture_output=True, text=True, encoding="utf-8", check=False)
                self.assertEqual((run.returncode, run.stdout), (code, stdout), run.stderr)
                self.assertIn(stderr, run.stderr)


if __name__ == "__main__":
    unittest.main()
