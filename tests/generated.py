"""Text that a tool writes into the README and the relations' contract comments, so that no
figure there is typed by hand, and the tests that check it is in step read it back the same way.

README blocks sit between two marker lines, invisible once rendered:

    <!-- begin NAME: written by COMMAND -->
    ...
    <!-- end NAME -->

A contract-comment sentence is one sentence of the `//` comment right above `struct NAME`,
from its opening words to the line that ends it with a full stop; it is written wrapped to
the project's 100 columns so that no line but its last ends with a full stop.
"""

import argparse
import json
import re
import textwrap
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
RELATIONS = ROOT / "src" / "relations"
COLUMNS = 100


def _markers(name):
    return re.compile(
        rf"^<!-- begin {re.escape(name)}: written by (?P<command>.+?) -->\n(?P<body>.*?)"
        rf"^<!-- end {re.escape(name)} -->$",
        re.MULTILINE | re.DOTALL,
    )


def block(text, name):
    """The body of block `name` in `text` (without its markers), ending with a newline."""
    found = _markers(name).search(text)
    if found is None:
        raise LookupError(f"no block {name!r}")
    return found["body"]


def with_block(text, name, body):
    """`text` with the body of block `name` replaced by `body`; the markers stay."""
    found = _markers(name).search(text)
    if found is None:
        raise LookupError(f"no block {name!r}")
    body = body if body.endswith("\n") else body + "\n"
    return text[: found.start("body")] + body + text[found.end("body") :]


def readme_block(name):
    return block(README.read_text(encoding="utf-8"), name)


def write_readme_blocks(blocks):
    """Writes each body of `blocks` ({name: body}) into its block of README.md; True if the
    README changed."""
    old = README.read_text(encoding="utf-8")
    new = old
    for name, body in blocks.items():
        new = with_block(new, name, body)
    if new != old:
        README.write_text(new, encoding="utf-8")
    return new != old


def tool_parser(description):
    """The options of a tool that measures a record and states it, which publish reads:
    --write and --render."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--write", action="store_true", help="save the record, write the README")
    parser.add_argument("--render", action="store_true", help="from the saved record only")
    return parser


def read_record(record_file):
    """A tool's saved record, as write_record saved it."""
    return json.loads(record_file.read_text(encoding="utf-8"))


def write_record(record_file, record):
    record_file.write_text(json.dumps(record, indent=1) + "\n", encoding="utf-8")


def publish(arguments, record_file, record, blocks):
    """The end of a tool that measures a record and states it (its options of tool_parser):
    --write saves the measured record to `record_file`; the README blocks
    ({name: text}) are printed, and written into README.md with either option. True if they
    were written."""
    if arguments.write:
        write_record(record_file, record)
    print("\n\n".join(blocks.values()))
    if arguments.write or arguments.render:
        write_readme_blocks(blocks)
    return arguments.write or arguments.render


# ---- contract comments ----------------------------------------------------------------


def _comment_lines(lines, struct):
    """The index range of the `//` lines right above `struct NAME` (a base may follow)."""
    end = next(
        (i for i, line in enumerate(lines) if re.match(rf"struct {struct}( : \w+)? {{", line)),
        None,
    )
    if end is None:
        raise LookupError(f"no struct {struct}")
    start = end
    while start > 0 and lines[start - 1].startswith("//"):
        start -= 1
    return start, end


def _sentence_lines(lines, struct, opening):
    start, end = _comment_lines(lines, struct)
    first = next((i for i in range(start, end) if lines[i][2:].lstrip().startswith(opening)), None)
    if first is None:
        raise LookupError(f"no sentence {opening!r} above struct {struct}")
    last = next((i for i in range(first, end) if lines[i].rstrip().endswith(".")), None)
    if last is None:
        raise LookupError(f"the sentence {opening!r} above struct {struct} never ends")
    return first, last + 1


def comment_sentence(text, struct, opening):
    """The sentence above `struct` that starts with `opening`, its lines joined."""
    lines = text.splitlines()
    first, end = _sentence_lines(lines, struct, opening)
    return " ".join(line[2:].strip() for line in lines[first:end])


def wrapped_comment(sentence):
    """`sentence` as `//` lines of at most COLUMNS characters, none but the last ending with a
    full stop."""
    # A comparison stays with its operands and a bracket with the figure before it.
    kept = re.sub(r" ([<>]=?|=) (\S+)", "\xa0\\1\xa0\\2", sentence).replace(" (", "\xa0(")
    lines = textwrap.wrap(kept, COLUMNS - 3, break_long_words=False, break_on_hyphens=False)
    for i in range(len(lines) - 1):
        if lines[i].endswith("."):  # would read as the sentence's end: move a word down
            head, _, word = lines[i].rpartition(" ")
            lines[i], lines[i + 1] = head, f"{word} {lines[i + 1]}"
    return ["// " + line.replace("\xa0", " ") for line in lines]


def with_comment_sentence(text, struct, opening, sentence):
    """`text` with the sentence above `struct` that starts with `opening` replaced by
    `sentence` (which must start with `opening` and end with a full stop)."""
    if not (sentence.startswith(opening) and sentence.endswith(".")):
        raise ValueError(f"not a sentence starting with {opening!r}: {sentence!r}")
    lines = text.splitlines()
    first, end = _sentence_lines(lines, struct, opening)
    lines[first:end] = wrapped_comment(sentence)
    return "\n".join(lines) + ("\n" if text.endswith("\n") else "")


def write_comment_sentences(sentences, opening):
    """Writes {(header, struct): sentence} into the headers of src/relations; the headers
    that changed."""
    changed = []
    for header in sorted({header for header, _ in sentences}):
        path = RELATIONS / header
        old = path.read_text(encoding="utf-8")
        new = old
        for (where, struct), sentence in sentences.items():
            if where == header:
                new = with_comment_sentence(new, struct, opening, sentence)
        if new != old:
            path.write_text(new, encoding="utf-8")
            changed.append(header)
    return changed
