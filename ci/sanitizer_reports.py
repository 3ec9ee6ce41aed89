"""Counts the errors in the logs of AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer
and prints the count; shows each report it counts on standard error, and fails if it
counted any, or found no log at all.

    python3 ci/sanitizer_reports.py MODULE_FRAME LOG_DIRECTORY

Every AddressSanitizer and UndefinedBehaviorSanitizer error counts. A leak counts if a frame of
its allocation stack matches the regular expression MODULE_FRAME, or if it comes from a log
whose name starts with "units" (the C++ unit tests, where all code is the project's): the
interpreter and NumPy leak by design at exit, and a suppression list for them would hide the
module's leaks too, since LeakSanitizer suppresses a report if any one frame matches."""

import pathlib
import re
import sys

ERROR = re.compile(r"^==\d+==ERROR: (?!LeakSanitizer: detected memory leaks)|: runtime error: ")
LEAK = re.compile(r"^(Direct|Indirect) leak of ")
FRAME = re.compile(r"^\s+#\d+ ")


def reports(text):
    """The log's reports, each as its lines up to the first blank one: the error or leak and
    the stack where it happened or was allocated."""
    current = []
    for line in text.splitlines():
        if ERROR.search(line) or LEAK.match(line):
            if current:
                yield current
            current = [line]
        elif current and line.strip():
            current.append(line)
        elif current:
            yield current
            current = []
    if current:
        yield current


def counted(report, module_frame, whole_log_is_ours):
    if not LEAK.match(report[0]):
        return True
    return whole_log_is_ours or any(
        module_frame.search(line) for line in report if FRAME.match(line)
    )


def main():
    module_frame = re.compile(sys.argv[1])
    logs = sorted(pathlib.Path(sys.argv[2]).iterdir())
    errors = 0
    for log in logs:
        for report in reports(log.read_text(errors="replace")):
            if counted(report, module_frame, log.name.startswith("units")):
                errors += 1
                print(f"{log.name}:", *report, sep="\n", file=sys.stderr)
    print(f"{len(logs)} sanitizer logs, {errors} errors")
    sys.exit(1 if errors or not logs else 0)


if __name__ == "__main__":
    main()
