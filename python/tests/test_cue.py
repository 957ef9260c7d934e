"""Cue, the C type the package reads cues into: texts of every width decoded
exactly, ill-formed bytes as U+FFFD, and the value semantics of a Cue made
from Python."""

import copy
import gc
import pickle
import random
import sys

import pytest
import subparse
from conftest import BILIBILI

# Texts whose widest character needs each string width the interpreter has,
# as the first of two lines and alone. A string made in too wide a form
# compares unequal to the same text made by Python, so == checks the form.
TEXTS = ["plain ascii, long enough to pass sixteen bytes", "café", "ÿ at the top of Latin-1",
         "Ā just past it", "naïve ✓ check", "日本語のテキスト", "слово и ещё", "emoji 😀 here",
         "𝄞", "mixed é ✓ 😀 a", ""]


@pytest.mark.parametrize("text", TEXTS)
def test_texts_of_every_width_read_exactly(text):
    second = "second line"
    data = f"1\n00:00:01,000 --> 00:00:02,000\n{text or '-'}\n{second}\n\n".encode()
    cue = subparse.parse(data)[0]
    text = text or "-"
    assert (cue.lines, cue.text) == ((text, second), f"{text}\n{second}")
    assert cue.lines[0].isascii() == text.isascii() and hash(cue.lines[0]) == hash(text)
    alone = subparse.parse(f"1\n00:00:01,000 --> 00:00:02,000\n{text}\n".encode())[0]
    assert alone.lines == (text,) and alone.text == text and alone.lines[0] is alone.text


@pytest.mark.parametrize("raw", [
    b"ab\xffcd",              # a byte that begins nothing
    b"cut \xe6\x97",          # a sequence cut short by the end of the line
    b"\xed\xa0\x80 surrogate",
    b"\xc0\xaf overlong",
    b"\xf4\x90\x80\x80 past U+10FFFF",
    b"fine \xc3\xa9 then \x80",
    # more lines than the reader keeps on its stack, the first ill-formed
    b"\xff first of eleven\n" + b"\n".join(b"line %d \xc3\xa9" % k for k in range(9)),
])
def test_ill_formed_bytes_show_as_replacement_characters(raw):
    # encoding=None keeps the few invalid bytes of a mostly UTF-8 file as they are.
    data = b"1\n00:00:01,000 --> 00:00:02,000\n" + raw + b"\nnext \xc3\xa9\n\n"
    cue = subparse.parse(data, encoding=None)[0]
    lines = (raw + b"\nnext \xc3\xa9").split(b"\n")
    want = tuple(line.decode("utf-8", "replace") for line in lines)
    assert cue.lines == want and cue.text == "\n".join(want)


# Pieces of lines: ASCII, well-formed sequences of each length (at the edges
# of their ranges), and the ways UTF-8 goes wrong.
PIECES = [b"a", b"plain words ", b"\x7f", b"\xc2\x80", b"\xc3\xbf", b"\xc4\x80", b"\xdf\xbf",
          b"\xe0\xa0\x80", b"\xe2\x9c\x93", b"\xed\x9f\xbf", b"\xee\x80\x80", b"\xef\xbf\xbf",
          b"\xf0\x90\x80\x80", b"\xf0\x9f\x98\x80", b"\xf4\x8f\xbf\xbf",
          b"\x80", b"\xbf", b"\xc0\x80", b"\xc1\xbf", b"\xc3", b"\xe2\x9c", b"\xe0\x9f\xbf",
          b"\xed\xa0\x80", b"\xf0\x8f\xbf\xbf", b"\xf4\x90\x80\x80", b"\xf5\x80", b"\xff",
          b"\xf0\x9f\x98"]


def test_decoding_agrees_with_the_interpreter_on_random_lines():
    rng = random.Random(20261208)
    for _ in range(1500):
        lines = [b"<" + b"".join(rng.choice(PIECES) for _ in range(rng.randrange(12))) + b">"
                 for _ in range(rng.randrange(1, 4))]
        if sum(line.count(b"\xff") for line in lines) > 3:
            continue  # keep the file UTF-8 under the fixed rule: few invalid sequences
        data = b"1\n00:00:01,000 --> 00:00:02,000\n" + b"\n".join(lines) + b"\n"
        subs = subparse.parse(data, encoding=None)
        if subs.encoding != "UTF-8":
            continue  # too many invalid sequences: read as CP1252, another test
        want = tuple(line.decode("utf-8", "replace") for line in lines)
        cue = subs[0]
        assert cue.lines == want and cue.text == "\n".join(want), lines


def test_danmaku_fields_are_python_numbers():
    first, second = subparse.parse(BILIBILI)
    assert [type(v) for v in (first.mode, first.color, first.fontsize)] == [int, int, float]
    assert (second.mode, second.color, second.fontsize, second.is_danmaku) == (5, 255, 36.0, True)
    multiline = subparse.parse(b'<i><d p="1,1,25,1,0,0,0,0">a&#10;b</d></i>', format="bilibili")[0]
    assert multiline.lines == ("a\nb",) and multiline.text == "a\nb"


def test_a_cue_made_from_python_equals_one_read():
    read = subparse.parse(b"1\n00:00:01,000 --> 00:00:02,500\nfirst\nsecond\n")[0]
    made = subparse.Cue(1000, 2500, ["first", "second"])
    assert made == read and hash(made) == hash(read) and not made != read
    assert made.text == "first\nsecond" and made.lines == ("first", "second")
    assert made != subparse.Cue(1000, 2500, ["first"]) and made != (1000, 2500)
    assert len({made, read}) == 1
    assert repr(made) == ("Cue(start=1000, end=2500, lines=('first', 'second'), id=None, "
                          "settings=None, mode=None, color=None, fontsize=None)")


def test_cue_values():
    cue = subparse.Cue(start=-5, end=2**40, lines=("a\nb", "c"), id="x", mode=True, color=7,
                       fontsize=25)
    assert (cue.start, cue.end, cue.lines, cue.text) == (-5, 2**40, ("a\nb", "c"), "a\nb\nc")
    assert (cue.id, cue.settings, cue.mode, cue.color, cue.fontsize) == ("x", None, 1, 7, 25.0)
    assert type(cue.mode) is int and type(cue.fontsize) is float and cue.is_danmaku
    for copied in (pickle.loads(pickle.dumps(cue)), copy.copy(cue), copy.deepcopy(cue)):
        assert copied == cue
    moved = cue.replace(start=0, lines=["z"])
    assert (moved.start, moved.lines, moved.text, moved.id) == (0, ("z",), "z", "x")
    with pytest.raises(AttributeError):
        cue.start = 1
    match cue:
        case subparse.Cue(start, end, lines):
            assert (start, end, lines) == (-5, 2**40, ("a\nb", "c"))


class Text(str):
    """A str subclass: a Cue keeps a plain copy."""


@pytest.mark.parametrize("args, kwargs, error", [
    ((0, 1, "one string"), {}, TypeError),      # would be one line per character
    ((0, 1, b"bytes"), {}, TypeError),
    ((0, 1, [1]), {}, TypeError),
    ((0, 1, None), {}, TypeError),
    (("0", 1, []), {}, TypeError),
    ((0, 1.5, []), {}, TypeError),
    ((0, 1, []), {"id": 3}, TypeError),
    ((0, 1, []), {"mode": "top"}, TypeError),
    ((0, 1, []), {"fontsize": "big"}, TypeError),
    ((0, 1, []), {"size": 3}, TypeError),
    ((0, 1), {}, TypeError),
])
def test_wrong_cue_fields_are_refused(args, kwargs, error):
    with pytest.raises(error):
        subparse.Cue(*args, **kwargs)


def test_str_subclasses_become_plain_str():
    cue = subparse.Cue(0, 1, [Text("a")], id=Text("b"))
    assert type(cue.lines[0]) is str and type(cue.id) is str and cue.text == "a"
    with pytest.raises(TypeError):
        cue.replace(0)


def test_lines_asked_for_by_a_finalizer_while_being_made_are_kept_once():
    cue = subparse.parse(b"1\n00:00:01,000 --> 00:00:02,000\n" + b"x\n" * 25)[0]
    inner = []

    class Finalized:
        def __del__(self):
            inner.append(cue.lines)

    garbage = Finalized()
    garbage.cycle = garbage
    del garbage
    threshold = gc.get_threshold()
    gc.set_threshold(1)  # the tuple of 25 lines comes from the collector, which runs __del__
    try:
        outer = cue.lines
    finally:
        gc.set_threshold(*threshold)
    gc.collect()
    assert outer == ("x",) * 25 and all(lines is outer for lines in inner)
    assert sys.getrefcount(outer) == 3 + len(inner)  # outer, cue, the argument, inner's
