"""python -m subparse FILE [--to FORMAT] [-o OUT] [--info]: lists, describes
or converts a subtitle file with the package alone.

Exit codes: 0; the library's code (1 to 6) when the parse fails; 2 for a
usage error; 64 for a format or option the writer refuses; 66 when FILE
cannot be read; 69 when the library cannot be loaded; 73 when OUT cannot be
written."""

from __future__ import annotations

import argparse
import sys
from typing import TextIO

from . import Error, LibraryNotFoundError, Subtitles, load


def _clock(ms: int) -> str:
    """[-]H:MM:SS.mmm"""
    sign, ms = ("-", -ms) if ms < 0 else ("", ms)
    return f"{sign}{ms // 3600000}:{ms // 60000 % 60:02}:{ms // 1000 % 60:02}.{ms % 1000:03}"


def _list(subs: Subtitles, out: TextIO) -> None:
    for cue in subs:
        extra = (f"  [mode {cue.mode}, colour #{cue.color:06X}, size {cue.fontsize:g}]"
                 if cue.mode is not None and cue.color is not None and cue.fontsize is not None
                 else "")
        out.write(f"{_clock(cue.start)} --> {_clock(cue.end)}  {' | '.join(cue.lines)}{extra}\n")


def _info(subs: Subtitles, out: TextIO) -> None:
    out.write(f"format: {subs.format}\nencoding: {subs.encoding}\ncues: {len(subs)}\n")
    for warning in subs.warnings:
        out.write(f"warning: {warning}\n")


def _arguments(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="python -m subparse",
        description="List, describe or convert a subtitle file. Without --to, -o or --info, "
                    "prints one line per cue: START --> END  LINE | LINE.")
    parser.add_argument("file", metavar="FILE", help="the subtitle file to read")
    parser.add_argument("--to", metavar="FORMAT",
                        help="write the cues as FORMAT (srt, vtt, ass, lrc, ttml, json) to "
                             "standard output, or to OUT")
    parser.add_argument("-o", "--output", metavar="OUT",
                        help="write to OUT, in the format --to names or OUT's extension names")
    parser.add_argument("--info", action="store_true",
                        help="print the format, the encoding, the cue count and the warnings")
    parser.add_argument("--from", dest="source_format", metavar="FORMAT", default="auto",
                        help="read FILE as FORMAT instead of detecting it")
    parser.add_argument("--encoding", metavar="NAME", default="auto",
                        help="FILE's encoding (default: detected)")
    return parser.parse_args(argv)


def main(argv: list[str] | None = None) -> int:
    """The command line; returns the exit code."""
    args = _arguments(argv)
    try:
        subs = load(args.file, format=args.source_format, encoding=args.encoding)
    except LibraryNotFoundError as error:
        print(error, file=sys.stderr)
        return 69
    except OSError as error:
        print(f"subparse: {args.file}: {error.strerror or error}", file=sys.stderr)
        return 66
    except Error as error:
        print(f"subparse: {args.file}: {error}", file=sys.stderr)
        return error.code
    with subs:
        try:
            if args.output is not None:
                subs.save(args.output, args.to)
            elif args.to is not None:
                sys.stdout.buffer.write(subs.write(args.to).encode("utf-8"))
            elif not args.info:
                _list(subs, sys.stdout)
        except (ValueError, TypeError) as error:
            print(f"subparse: {error}", file=sys.stderr)
            return 64
        except OSError as error:
            print(f"subparse: {args.output}: {error.strerror or error}", file=sys.stderr)
            return 73
        # After the write, whose danmaku layout may have added warnings.
        if args.info:
            _info(subs, sys.stderr if args.to is not None and args.output is None else sys.stdout)
        else:
            for warning in subs.warnings:
                print(f"warning: {warning}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
