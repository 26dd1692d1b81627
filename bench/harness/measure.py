"""Runs commands and measures them the way /usr/bin/time -v does (wait4's
resource usage), and in addition splits a program's own CPU time from that of
the children it waited for, read from /proc while it is a zombie."""
import os
import re
import shlex
import statistics
import subprocess
import tempfile
import threading
import time

TICKS = os.sysconf("SC_CLK_TCK")


class Failed(Exception):
    pass


class Measured:
    """One run: wall seconds, CPU seconds (own, children, total), peak RSS."""

    def __init__(self, wall, cpu_self, cpu_children, user, system, max_rss_kb, returncode, stdout, stderr, load,
                 stderr_lines=None):
        self.wall = wall
        self.cpu_self = cpu_self
        self.cpu_children = cpu_children
        self.user = user              # wait4: the process and every child it waited for
        self.system = system
        self.max_rss_kb = max_rss_kb
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.load = load              # one-minute load average when the run started
        self.stderr_lines = stderr_lines or []  # (seconds since start, line), when asked for

    @property
    def cpu(self):
        return self.user + self.system


def run(command, env=None, cwd=None, check=True, timestamps=False):
    """Runs `command` (a list) to its end and measures it. With `timestamps`,
    standard error is read as it comes and every line keeps its arrival time."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        load = os.getloadavg()[0]
        start = time.monotonic()
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.PIPE if timestamps else err,
                                   stdin=subprocess.DEVNULL, env=env, cwd=cwd)
        lines = []
        reader = None
        if timestamps:
            def read():
                for raw in process.stderr:
                    lines.append((time.monotonic() - start, raw.decode(errors="replace").rstrip("\n")))
            reader = threading.Thread(target=read, daemon=True)
            reader.start()
        # Wait without reaping, so that /proc still holds the zombie's own and
        # its children's CPU times.
        os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOWAIT)
        wall = time.monotonic() - start
        cpu_self, cpu_children = _proc_cpu(process.pid)
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        if reader:
            reader.join()
            process.stderr.close()
        out.seek(0)
        err.seek(0)
        stderr = "\n".join(line for _, line in lines) if timestamps else err.read().decode(errors="replace")
        result = Measured(wall, cpu_self, cpu_children, usage.ru_utime, usage.ru_stime, usage.ru_maxrss,
                          process.returncode, out.read().decode(errors="replace"), stderr, load, lines)
    if check and result.returncode != 0:
        raise Failed(f"{shell(command)} exited with {result.returncode}:\n{result.stderr[-3000:]}")
    return result


def run_checked(command, **kwargs):
    return run(command, **kwargs)


def _proc_cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        text = f.read()
    fields = text[text.rindex(")") + 2:].split()
    # utime, stime, cutime, cstime: fields 14 to 17 of proc(5), counted from 1.
    utime, stime, cutime, cstime = (int(v) / TICKS for v in fields[11:15])
    return utime + stime, cutime + cstime


def shell(words):
    return " ".join(w if re.fullmatch(r"[\w@%+=:,./-]+", w) else shlex.quote(w) for w in words)


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def load_average():
    return os.getloadavg()
