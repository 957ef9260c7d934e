"""Reading: load() and parse(), the cues, the sequence, errors, closing."""

import gc
import pathlib

import pytest
import subparse
from conftest import BILIBILI, SRT, SRT_CUES, big_srt, timed

VTT = b"WEBVTT\n\nintro\n00:00:01.000 --> 00:00:02.500 align:start\nHello\n"
RU = "1\r\n00:00:01,000 --> 00:00:02,000\r\nПривет, как у тебя дела сегодня?\r\n"


@pytest.mark.parametrize("data, options, fmt, encoding, cues", [
    (SRT, {}, "srt", "UTF-8", SRT_CUES),
    (SRT.decode(), {}, "srt", "UTF-8", SRT_CUES),  # a str is the text itself
    (bytearray(SRT), {"format": "SubRip"}, "srt", "UTF-8", SRT_CUES),
    (b"[00:01.50]la la\n", {"format": 7}, "lrc", "UTF-8", [(1500, 4500, ("la la",))]),
    (RU.encode("cp1251"), {}, "srt", "CP1251", [(1000, 2000, (RU.split("\r\n")[2],))]),
    (RU.encode("cp1251"), {"encoding": None}, "srt", "CP1252",  # the fixed rule
     [(1000, 2000, (RU.encode("cp1251").decode("cp1252").split("\r\n")[2],))]),
    (b"{25}{50}hello\n", {}, "microdvd", "UTF-8", [(1000, 2000, ("hello",))]),  # 25 fps
    (b"{25}{50}hello\n", {"microdvd_fps": 50}, "microdvd", "UTF-8", [(500, 1000, ("hello",))]),
    (b"\xff\xfe" + SRT.decode().encode("utf-16-le"), {}, "srt", "UTF-16LE", SRT_CUES),
])
def test_parse(data, options, fmt, encoding, cues):
    with subparse.parse(data, **options) as subs:
        assert (subs.format, subs.encoding, timed(subs)) == (fmt, encoding, cues)


def test_load_takes_paths_and_parse_takes_content(tmp_path):
    path = tmp_path / "movie.srt"
    path.write_bytes(SRT)
    for given in (path, str(path)):
        assert timed(subparse.load(given)) == SRT_CUES
    with pytest.raises(TypeError, match="parse"):
        subparse.load(SRT)  # content given to load()
    with pytest.raises(TypeError, match="load"):
        subparse.parse(path)  # a path given to parse()
    with pytest.raises(FileNotFoundError):
        subparse.load(tmp_path / "missing.srt")


def test_cue_fields():
    vtt = subparse.parse(VTT)[0]
    assert (vtt.id, vtt.settings, vtt.mode) == ("intro", "align:start", None)
    assert subparse.parse(VTT, reading="classic")[0].id is None
    first, second = subparse.parse(BILIBILI)
    assert (second.start, second.end, second.text) == (3000, 6000, "top & blue")
    assert (first.mode, first.color, first.fontsize, first.is_danmaku) == (1, 0xFFFFFF, 25.0, True)
    assert (second.mode, second.color, second.fontsize) == (5, 0x0000FF, 36.0)
    cue = subparse.parse(SRT)[0]
    assert (cue.text, cue.color, cue.is_danmaku) == ("first line\nsecond line", None, False)
    with pytest.raises(AttributeError):
        cue.start = 5  # cues are values


def test_sequence():
    subs = subparse.parse(SRT + b"\n3\n00:00:05,000 --> 00:00:06,000\nthird\n")
    starts = [c.start for c in subs]
    assert starts == [1000, 3000, 5000]
    assert [c.start for c in reversed(subs)] == starts[::-1]
    for index in (0, 2, -1, -3):
        assert subs[index].start == starts[index]
    for index in (slice(None), slice(1, None), slice(None, None, -2), slice(5, 9)):
        assert [c.start for c in subs[index]] == starts[index]
    for index, error in ((3, IndexError), (-4, IndexError), (2**40, IndexError), ("0", TypeError)):
        with pytest.raises(error):
            subs[index]
    assert subs[1] in subs and subs.index(subs[2]) == 2


@pytest.mark.parametrize("data, options, error, code, warnings", [
    (b"", {}, subparse.EmptyInput, 3, ()),
    (b"just prose\nwith no times\n", {}, subparse.NoCues, 5, ()),
    (b"caf\xe9 ok\n" * 8, {"encoding": None}, subparse.NoCues, 5,
     ("encoding: auto-detected as CP1252 (invalid UTF-8)",)),
    (SRT, {"encoding": "no-such-encoding"}, subparse.DecodeError, 2, ()),
    (SRT, {"format": 99}, subparse.UnknownFormat, 1, ()),
    (SRT, {"format": "mkv"}, subparse.UnknownFormat, 1, ()),
    (b"{25}{50}hello\n", {"microdvd_fps": 1000}, subparse.ArgumentError, 6, ()),
])
def test_errors(data, options, error, code, warnings):
    with pytest.raises(error) as caught:
        subparse.parse(data, **options)
    assert isinstance(caught.value, subparse.Error)
    assert (caught.value.code, caught.value.warnings) == (code, warnings)
    assert caught.value.message and f"(code {code})" in str(caught.value)


def test_wrong_arguments_are_refused():
    for call in (lambda: subparse.parse(SRT, reading="strict"), lambda: subparse.parse(42),
                 lambda: subparse.parse(SRT, encoding="utf-8\0x"),
                 lambda: subparse.parse(SRT, microdvd_fps="25")):
        with pytest.raises((TypeError, ValueError)):
            call()


def test_out_of_memory_raises_memory_error(monkeypatch):
    native = subparse._native.lib()
    subs = subparse.parse(SRT)
    nomem = lambda *args: 4  # noqa: E731 - SUB_ERR_NOMEM
    calls = {"sub_doc_parse": lambda: subparse.parse(SRT), "sub_doc_write": subs.write,
             "sub_doc_shift": lambda: subs.shift(1), "sub_doc_scale": lambda: subs.scale(25, 24),
             "sub_doc_sort": subs.sort}
    for name, call in calls.items():
        with monkeypatch.context() as patch:
            patch.setattr(native, name, nomem)
            with pytest.raises(MemoryError, match="out of memory"):
                call()
    assert timed(subs) == SRT_CUES


def test_closed_subtitles_raise_value_error(tmp_path):
    with subparse.parse(SRT) as subs:
        cue = subs[1]
    assert subs.closed and (subs.format, subs.encoding, subs.warnings) == ("srt", "UTF-8", ())
    assert cue.lines == ("café",)  # a cue read before stays whole
    subs.close()  # twice is fine
    for use in (len, list, lambda s: s[0], lambda s: s[:], lambda s: s.to_json(),
                lambda s: s.write(), lambda s: s.shift(1), lambda s: s.sort(),
                lambda s: s.save(tmp_path / "out.srt")):
        with pytest.raises(ValueError, match="closed"):
            use(subs)
    assert list(tmp_path.iterdir()) == []
    subs, seen = subparse.parse(big_srt(5000)), 0
    with pytest.raises(ValueError, match="closed"):
        for _ in subs:
            subs.close()  # closing part-way stops a loop, at its next batch of cues
            seen += 1
    assert 1 <= seen <= 8 < len(subparse.parse(big_srt(5000)))


def test_documents_and_texts_are_freed_once(monkeypatch):
    native, freed = subparse._native.lib(), []
    for name in ("sub_doc_free", "sub_text_free"):
        real = getattr(native, name)
        monkeypatch.setattr(native, name, lambda p, real=real, name=name: (
            freed.append(name) if p else None, real(p))[1])
    with pytest.raises(subparse.NoCues):
        subparse.parse(b"prose\n")  # a failed parse's document, freed before raising
    with subparse.parse(SRT) as subs:
        subs.write()
        with pytest.raises(subparse.UnknownFormat):
            subs.write("microdvd")  # no text to free
    subparse.parse(SRT)[0]  # never closed: freed when collected
    gc.collect()
    assert freed == ["sub_doc_free", "sub_text_free", "sub_doc_free", "sub_doc_free"]


def test_detect():
    for data, name, want in ((SRT, None, "srt"), (BILIBILI.decode(), None, "bilibili"),
                             (b"no format here", "x.lrc", "lrc"), (b"no format here", None, None)):
        assert subparse.detect(data, name) == want


def test_a_32_mib_file_is_read_lazily(monkeypatch, big_file):
    assert big_file.stat().st_size >= 32 << 20
    made = []  # the size of every batch of cues read from the document
    real_read = subparse._cues.read

    def counting_read(doc, first, stop):
        made.append(stop - first)
        return real_read(doc, first, stop)

    monkeypatch.setattr(subparse._cues, "read", counting_read)
    with subparse.load(big_file) as subs:
        count, first, last = len(subs), subs[0], subs[-1]
        assert made == [1, 1] and count > 500_000 and subs.format == "srt"
        assert (first.lines, last.lines) == (("line 1",), (f"line {count}",))
        assert (last.start, last.end) == (count * 1000, count * 1000 + 500)
        assert next(iter(reversed(subs))) == last and made == [1, 1, 8]
        assert next(iter(subs)) == first and made == [1, 1, 8, 8]
        made.clear()
        assert sum(1 for _ in subs) == count  # a whole walk: batches of at most 1024
        assert sum(made) == count and max(made) == 1024


def test_corpus_files_load_or_raise_an_error(corpus):
    files = [f for f in sorted(corpus.glob("*/*")) if f.is_file() and f.suffix != ".md"]
    assert len(files) > 100
    outcomes = {}
    for path in files:
        try:
            with subparse.load(path) as subs:
                outcomes[path.relative_to(corpus)] = (subs.format, subs.encoding, len(subs))
                assert all(isinstance(c.start, int) for c in subs[:50])
        except subparse.Error as error:
            outcomes[path.relative_to(corpus)] = type(error)
    expected = {
        "srt/pycaption__example.srt": ("srt", "UTF-8", 1847),
        "srt/pysrt__bom-utf-32-be.srt": ("srt", "UTF-32BE", 7),
        "srt/subparser__TestFiles_Wiedzmin.s01e01.DVDRip.DreamLair.srt": ("srt", "ISO-8859-2", 233),
        "sami/pycaption__example.sami": ("sami", "UTF-8", 1847),
        "lrc/lyricparser__chengquan-liu_ruoying.gbk.lrc": ("lrc", "GB18030", 68),
        "microdvd/subparser__SubtitlesFiles_Pirates_of_Caraibean_CD1.sub": ("microdvd", "CP1252", 420),
        "ass/exo__ssa_typical_utf16le.ass": ("ass", "UTF-16LE", 3),
        "bilibili/ccl__utsukushiki_mono.xml": ("bilibili", "UTF-8", 6258),
        "acfun/ccl__ac940133.json": ("acfun", "UTF-8", 2146),
        "other/gaupol__tmplayer-1.txt": subparse.NoCues,
    }
    for name, want in expected.items():
        assert outcomes[pathlib.PurePath(name)] == want, name
    found = {o[0] for o in outcomes.values() if isinstance(o, tuple)}
    assert set(subparse.FORMATS) <= found
