"""Writing, saving and retiming."""

import ctypes
import json
import os
import re
import warnings
from unittest import mock

import pytest
import subparse
from conftest import SRT, SRT_CUES, WRITE_CUES, WRITE_SAMPLE, timed

INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
# One Bilibili comment of each mode the layout shows, all at 1 s.
EVERY_MODE = (b'<?xml version="1.0"?><i><d p="1,1,25,16777215">scrolls</d>'
              b'<d p="1,4,25,16777215">at the bottom</d><d p="1,5,25,16777215">on top</d>'
              b'<d p="1,6,25,16777215">backwards</d>'
              b'<d p="1,7,25,16777215">[0.5,0.5,"1-1",3,"placed"]</d></i>')
# Three scrolling comments at once, the last one large.
CROWD = (b'<?xml version="1.0"?><i><d p="1,1,25,16777215">one</d>'
         b'<d p="1,1,25,16777215">two</d><d p="1,1,36,16777215">three</d></i>')


def comparable(subs, fmt):
    """The cues as a round trip keeps them: LRC holds one line per time and
    marks each end with an empty cue, which is left out."""
    cues = timed(subs)
    if fmt == "lrc":
        return [(s, e, lines) for s, e, lines in cues if lines != ("",)]
    return cues


@pytest.mark.parametrize("name, fmt, back", [
    ("out.srt", None, "srt"), ("OUT.SRT", None, "srt"), ("out.vtt", None, "vtt"),
    ("out.webvtt", None, "vtt"), ("out.ass", None, "ass"), ("out.ssa", None, "ass"),
    ("out.lrc", None, "lrc"), ("out.ttml", None, "ttml"), ("out.dfxp", None, "ttml"),
    ("out.txt", "subrip", "srt"), ("out", "VTT", "vtt"), ("out.srt", "ass", "ass"),
])
def test_save_and_load_back(tmp_path, name, fmt, back):
    path = tmp_path / name
    with subparse.parse(WRITE_SAMPLE) as subs:
        subs.save(path, fmt)
        assert path.read_text(encoding="utf-8") == subs.write(fmt or back)
    assert os.listdir(tmp_path) == [name]  # no temporary left
    with subparse.load(path) as again:
        want = WRITE_CUES if back != "lrc" else [(s, e, (" / ".join(ls),)) for s, e, ls in WRITE_CUES]
        assert (again.format, comparable(again, back)) == (back, want)


def test_json_is_the_document(tmp_path):
    with subparse.parse(WRITE_SAMPLE) as subs:
        assert subs.write("json") == subs.to_json()
        subs.save(tmp_path / "out.json")
        assert json.loads((tmp_path / "out.json").read_text()) == subs.to_dict()
        assert subs.to_dict()["cues"][2] == {"start": 3723450, "end": 3725000, "lines": ["an hour in"]}


@pytest.mark.parametrize("fmt, options, want", [
    ("vtt", {"vtt_header": "Kind: captions"}, "WEBVTT Kind: captions\n"),
    ("ass", {"ass_play_res": (640, 480)}, "PlayResX: 640\nPlayResY: 480\n"),
    ("ass", {"ass_font": "DejaVu Sans", "ass_font_size": 40}, "Style: Default,DejaVu Sans,40,"),
    ("ttml", {"ttml_lang": "fr-CA"}, 'xml:lang="fr-CA"'),
])
def test_write_options_reach_the_text(fmt, options, want):
    assert want in subparse.parse(WRITE_SAMPLE).write(fmt, **options)


def test_write_options_declaration_matches_the_library():
    # A member out of place would read the library's defaults as other values.
    struct = subparse._options.WriteOptions({}).struct
    assert [getattr(struct, name) for name, _ in struct._fields_[1:-2]] == [
        b"", 1920, 1080, b"Arial", 54.0, b"", 50.0, 8000, 4000, 0.8, 1.0, 0, 0, b""]
    assert struct.size == ctypes.sizeof(struct) and not struct.danmaku_measure


@pytest.mark.parametrize("options, error, text", [
    ({"format": "mkv"}, subparse.UnknownFormat, "unknown format 'mkv'"),
    ({"format": "microdvd"}, subparse.UnknownFormat, "no writer for format 'microdvd'"),
    ({"format": "vtt", "vtt_header": "a\nb"}, subparse.ArgumentError, r"vtt_header='a\\nb'"),
    ({"format": "ass", "ass_play_res": (0, 1080)}, subparse.ArgumentError, "ass_play_res_x=0"),
    ({"ass_play_res_x": 2**32 + 1920}, ValueError, "out of range"),  # ctypes would cut it
    ({"ass_font": "A,B"}, subparse.ArgumentError, "ass_font"),  # checked whatever the format
    ({"danmaku_scroll_ms": 499}, subparse.ArgumentError, r"must be 500 to 60000"),
    ({"danmaku_overflow": "stack"}, ValueError, "'drop' or 'overlap'"),
    ({"danmaku_drop_modes": [4, 32]}, ValueError, "mode 32"),
    ({"danmaku_drop_modes": "45"}, TypeError, "single str"),
    ({"danmaku_measure": 100.0}, TypeError, "danmaku_measure"),
    ({"colour": "red"}, TypeError, "colour"),
])
def test_refused_write_options(options, error, text):
    with subparse.parse(SRT) as subs:
        with pytest.raises(error, match=text):
            subs.write(**options)
        assert timed(subs) == SRT_CUES


def events(text):
    """{comment text: (start, end, tags)} of the Dialogue lines of an ASS text."""
    found = re.findall(r"^Dialogue: 0,([^,]*),([^,]*),Danmaku,,0,0,0,,\{([^}]*)\}(.*)$", text, re.M)
    return {line: (start, end, tags) for start, end, tags, line in found}


def moves(text):
    """{comment text: (x1, y1, x2, y2)} of the scrolling comments."""
    return {line: tuple(map(int, re.search(r"\\move\(([-\d]+),([-\d]+),([-\d]+),([-\d]+)", tags).groups()))
            for line, (_, _, tags) in events(text).items() if "\\move" in tags}


# (options, comments shown, (comment, start, end) to check, text the header
# or a tag holds, warnings added)
@pytest.mark.parametrize("options, shown, timing, holds, added", [
    ({}, {"scrolls", "at the bottom", "on top", "backwards", "placed"},
     ("scrolls", "0:00:01.00", "0:00:09.00"), "\\alpha&H33&", ()),
    ({"danmaku_font_size": 36, "danmaku_opacity": 0.5}, None, None, "Style: Danmaku,Arial,36,", ()),
    ({"danmaku_opacity": 0.5}, None, None, "\\alpha&H80&", ()),
    ({"danmaku_scroll_ms": 6500}, None, ("scrolls", "0:00:01.00", "0:00:07.50"), "", ()),
    ({"danmaku_fixed_ms": 2000}, None, ("on top", "0:00:01.00", "0:00:03.00"), "", ()),
    ({"danmaku_drop_modes": {4, 5, 7}}, {"scrolls", "backwards"}, None, "",
     ("danmaku: 3 comments dropped: filtered out",)),
    ({"danmaku_block_words": ("top", "", "back")}, {"scrolls", "at the bottom", "placed"}, None, "",
     ("danmaku: 2 comments dropped: filtered out",)),
    ({"ass_play_res": (1280, 720)}, None, None, "\\pos(640,360)}placed", ()),
])
def test_danmaku_options_reach_the_layout(options, shown, timing, holds, added):
    with subparse.parse(EVERY_MODE) as subs:
        text = subs.write("ass", **options)
        if shown is not None:
            assert set(events(text)) == shown
        if timing is not None:
            assert events(text)[timing[0]][:2] == timing[1:]
        assert holds in text
        assert subs.warnings == added
        assert subs.write("ass", **options) == text and subs.warnings == added  # counted once
    with subparse.parse(EVERY_MODE) as subs:
        assert "on top" in subs.write("srt", danmaku_drop_modes=[5])  # no layout, no drop
        assert subs.warnings == ()


def test_danmaku_rows_and_overflow():
    with subparse.parse(CROWD) as subs:
        rows = {line: move[1] for line, move in moves(subs.write("ass")).items()}
        assert len(set(rows.values())) == 3  # a row each
        assert set(moves(subs.write("ass", danmaku_scroll_share=0.05))) == {"one"}
        assert subs.warnings == ("danmaku: 2 comments dropped: no free row",)
    with subparse.parse(CROWD) as subs:
        overlap = moves(subs.write("ass", danmaku_scroll_share=0.05, danmaku_overflow="overlap"))
        assert len(overlap) == 3 and subs.warnings == ()


def test_danmaku_measure():
    calls = []
    with subparse.parse(CROWD) as subs:
        estimated = subs.write("ass")
        text = subs.write("ass", danmaku_measure=lambda t, px: calls.append((t, px)) or 1000.0)
        assert sorted(calls) == [("one", 50.0), ("three", 72.0), ("two", 50.0)]
        # A scrolling comment leaves the screen by its whole width.
        assert all(x2 <= -1000 for _, _, x2, _ in moves(text).values())
        assert all(-1000 < x2 for _, _, x2, _ in moves(estimated).values())
        # A width it cannot use takes the estimate; an exception is reported after.
        for measure, warned in ((lambda t, px: -1.0, None), (lambda t, px: float("nan"), None),
                                (lambda t, px: 1 / 0, "ZeroDivisionError"),
                                (lambda t: 10.0, "TypeError")):
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                assert subs.write("ass", danmaku_measure=measure) == estimated
            got = [str(w.message) for w in caught if w.category is RuntimeWarning]
            assert got == [] if warned is None else (len(got) == 1 and warned in got[0]), got
        interrupted = []

        def interrupt(text, font_px):
            interrupted.append(text)
            raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):  # raised after the write, never swallowed
            subs.write("ass", danmaku_measure=interrupt)
        assert len(interrupted) == 1  # and the measure not called again
        assert subs.write("ass") == estimated

@pytest.mark.parametrize("retime, want", [
    (lambda s: s.shift(2000), [(3000, 4500), (5000, 6000)]),
    (lambda s: s.shift(-1500), [(-500, 1000), (1500, 2500)]),
    (lambda s: s.shift(-0.6), [(999, 2499), (2999, 3999)]),
    (lambda s: s.shift(2**40), [(INT32_MAX, INT32_MAX)] * 2),
    (lambda s: s.shift(-(10**30)), [(INT32_MIN, INT32_MIN)] * 2),
    (lambda s: s.scale(25, 23.976), [(1043, 2607), (3128, 4171)]),
    (lambda s: s.shift(2000).scale(2, 1).shift(-6000), [(0, 3000), (4000, 6000)]),
])
def test_retiming(retime, want):
    with subparse.parse(SRT) as subs:
        before = subs.to_json()
        assert retime(subs) is subs
        assert [(c.start, c.end) for c in subs] == want
        assert [(c["start"], c["end"]) for c in subs.to_dict()["cues"]] == want != before


def test_retiming_errors_and_sort():
    with subparse.parse(SRT) as subs:
        for call, error in ((lambda: subs.scale(0, 25), subparse.ArgumentError),
                            (lambda: subs.scale("25", 24), TypeError),
                            (lambda: subs.shift(float("nan")), ValueError),
                            (lambda: subs.shift(True), TypeError)):
            with pytest.raises(error):
                call()
        assert timed(subs) == SRT_CUES
        assert subs.shift(-1500).write().startswith("1\n00:00:00,000 --> 00:00:01,000\n")
    unordered = (b"1\n00:00:03,000 --> 00:00:04,000\nx\n\n2\n00:00:01,000 --> 00:00:02,000\na\n\n"
                 b"3\n00:00:01,000 --> 00:00:01,500\nb\n")
    assert [c.text for c in subparse.parse(unordered).sort()] == ["a", "b", "x"]


def test_save_replaces_in_one_step(tmp_path):
    path, link = tmp_path / "out.srt", tmp_path / "link.srt"
    path.write_text("old")
    path.chmod(0o640)
    link.symlink_to("out.srt")
    with subparse.parse(SRT) as subs:
        subs.save(link)
        assert link.is_symlink() and path.read_text() == subs.write()
        assert path.stat().st_mode & 0o777 == 0o640
        path.write_text("old")
        with mock.patch("os.replace", side_effect=OSError(28, "No space")), pytest.raises(OSError):
            subs.save(path)
        for name, error in (("out.sub", subparse.UnknownFormat), ("out.xml", subparse.UnknownFormat),
                            ("out", subparse.UnknownFormat), ("missing/out.srt", FileNotFoundError),
                            ("taken.srt", IsADirectoryError)):
            (tmp_path / "taken.srt").mkdir(exist_ok=True)
            with pytest.raises(error):
                subs.save(tmp_path / name)
    assert path.read_text() == "old"
    assert sorted(os.listdir(tmp_path)) == ["link.srt", "out.srt", "taken.srt"]
