"""Tables, number formats and the list of commands run, for results.md."""
import collections

from . import measure


class Log:
    """Every command run, per section, once each, with long paths shortened."""

    def __init__(self):
        self.sections = collections.OrderedDict()
        self.names = []   # (path, short name), longest first

    def name(self, path, short):
        self.names.append((path, short))
        self.names.sort(key=lambda pair: -len(pair[0]))

    def shorten(self, text):
        for path, short in self.names:
            text = text.replace(path, short)
        return text

    def command(self, section, words, note=""):
        text = self.shorten(measure.shell([str(w) for w in words]))
        entries = self.sections.setdefault(section, collections.OrderedDict())
        if text not in entries:
            entries[text] = note

    def markdown(self):
        out = []
        for section, entries in self.sections.items():
            out.append(f"\n### {section}\n\n```sh")
            for text, note in entries.items():
                if note:
                    out.append(f"# {note}")
                out.append(text)
            out.append("```")
        return "\n".join(out) + "\n"


def table(headers, rows):
    lines = ["| " + " | ".join(headers) + " |", "|" + "---|" * len(headers)]
    for row in rows:
        lines.append("| " + " | ".join(str(cell) for cell in row) + " |")
    return "\n".join(lines) + "\n"


def seconds(value, digits=2):
    return "—" if value is None else f"{value:.{digits}f} s"


def ratio(value, digits=3):
    return "—" if value is None else f"{value:.{digits}f}"


def percent(value, digits=1):
    return "—" if value is None else f"{100 * value:.{digits}f} %"


def megabytes(count):
    return "—" if count is None else f"{count / 1e6:.2f} MB"


def resident(kilobytes):
    """/proc counts in KiB; shown in MB (10^6 bytes) like every size here."""
    return "—" if kilobytes is None else f"{kilobytes * 1024 / 1e6:.1f} MB"


def verdict(met):
    if met is None:
        return "not measured"
    return "met" if met else "**missed**"
