"""The Python host module (examples/python/subparse.py) against a built
library named by $SUBPARSE_LIBRARY."""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
MODULE_DIR = os.path.join(HERE, "..", "..", "examples", "python")
sys.path.insert(0, MODULE_DIR)

import subparse  # noqa: E402

LIBRARY = os.environ.get("SUBPARSE_LIBRARY")

SRT = b"1\n00:00:01,000 --> 00:00:02,500\nfirst line\nsecond line\n\n2\n00:00:03,000 --> 00:00:04,000\ncaf\xc3\xa9\n"
BILIBILI = (b'<?xml version="1.0" encoding="UTF-8"?><i>'
            b'<d p="1.5,5,36,255,0,0,0,0">top &amp; red</d>'
            b'<d p="3,1,25,16777215,0,0,0,0">scrolling</d></i>')


@unittest.skipUnless(LIBRARY, "set SUBPARSE_LIBRARY to the built libsubparse.so")
class PythonHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = subparse.Subparse(LIBRARY)

    def test_parses(self):
        # (name, input, format, encoding, expected format, expected cues)
        cases = [
            ("srt detected", SRT, "auto", None, "srt",
             [(1000, 2500, ("first line", "second line")), (3000, 4000, ("café",))]),
            ("str input", SRT.decode(), "auto", None, "srt",
             [(1000, 2500, ("first line", "second line")), (3000, 4000, ("café",))]),
            ("format by name", SRT, "srt", None, "srt",
             [(1000, 2500, ("first line", "second line")), (3000, 4000, ("café",))]),
            ("format by id", b"[00:01.50]la la\n", 7, None, "lrc", [(1500, 4500, ("la la",))]),
            ("named encoding", "1\n00:00:01,000 --> 00:00:02,000\nпривет\n".encode("cp1251"),
             "auto", "cp1251", "srt", [(1000, 2000, ("привет",))]),
        ]
        for name, data, fmt, encoding, want_format, want_cues in cases:
            with self.subTest(name):
                result = self.lib.parse(data, fmt, encoding)
                self.assertEqual(result.format, want_format)
                self.assertEqual(result.format_id, subparse.FORMATS.index(want_format))
                self.assertEqual([(c.start_ms, c.end_ms, c.lines) for c in result], want_cues)
                self.assertEqual(len(result), len(want_cues))
                self.assertFalse(any(c.danmu for c in result))

    def test_danmaku_fields(self):
        result = self.lib.parse(BILIBILI)
        self.assertEqual(result.format, "bilibili")
        got = [(c.start_ms, c.lines, c.danmu, c.mode, c.color, c.fontsize) for c in result]
        self.assertEqual(got[0], (1500, ("top & red",), True, 5, 255, 36.0))
        self.assertEqual(got[1], (3000, ("scrolling",), True, 1, 16777215, 25.0))

    def test_failures_raise_with_code_and_message(self):
        cases = [
            ("empty", b"", "auto", 3),
            ("unknown identifier", SRT, 99, 1),
            ("nothing parses", b"just some prose\nwith no times\n", "auto", 5),
            ("unknown encoding", SRT, "auto", 2),
        ]
        for name, data, fmt, code in cases:
            with self.subTest(name):
                encoding = "no-such-encoding" if name == "unknown encoding" else None
                with self.assertRaises(subparse.SubparseError) as caught:
                    self.lib.parse(data, fmt, encoding)
                self.assertEqual(caught.exception.code, code)
                self.assertTrue(caught.exception.message)
                self.assertIn(f"(code {code})", str(caught.exception))
        with self.assertRaises(ValueError):
            self.lib.parse(SRT, "mkv")

    def test_result_outlives_later_parses(self):
        first = self.lib.parse(SRT)
        self.lib.parse(BILIBILI)
        with self.assertRaises(subparse.SubparseError):
            self.lib.parse(b"")
        self.assertEqual(first.cues[1].lines, ("café",))
        self.assertEqual(first.to_dict(), {
            "format": "srt",
            "cues": [{"start": 1000, "end": 2500, "lines": ["first line", "second line"]},
                     {"start": 3000, "end": 4000, "lines": ["café"]}]})

    def test_json_agrees_with_cues(self):
        result = self.lib.parse(BILIBILI)
        doc = result.to_dict()
        self.assertEqual(doc["format"], result.format)
        for cue, item in zip(result, doc["cues"], strict=True):
            self.assertEqual((item["start"], item["end"], tuple(item["lines"])),
                             (cue.start_ms, cue.end_ms, cue.lines))
            self.assertEqual((item["mode"], item["color"], item["fontsize"]),
                             (cue.mode, cue.color, cue.fontsize))

    def test_warnings(self):
        latin = b"1\r\n00:00:01,000 --> 00:00:02,000\r\n" + b"caf\xe9 " * 8 + b"\r\n"
        result = self.lib.parse(latin)
        self.assertEqual(result.warnings, ("encoding: auto-detected as CP1252 (invalid UTF-8)",))
        self.assertEqual(result.cues[0].lines, ("café " * 7 + "café",))

    def test_detect(self):
        cases = [(SRT, None, "srt"), (BILIBILI, None, "bilibili"),
                 (b"no format here", "x.lrc", "lrc"), (b"no format here", None, None)]
        for data, name, want in cases:
            with self.subTest(want=want, name=name):
                self.assertEqual(self.lib.detect(data, name), want)

    def test_command_line(self):
        with tempfile.NamedTemporaryFile(suffix=".srt") as f:
            f.write(SRT)
            f.flush()
            run = subprocess.run([sys.executable, os.path.join(MODULE_DIR, "subparse.py"), f.name],
                                 capture_output=True, text=True, env=dict(os.environ), check=False)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, "0:00:01.000 --> 0:00:02.500  first line | second line\n"
                                     "0:00:03.000 --> 0:00:04.000  café\n")


if __name__ == "__main__":
    unittest.main()
