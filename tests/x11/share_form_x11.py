#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""tavro-share as a person and the system meet it: the form on a real X server, typed into with
xdotool, and the share target handed a named pipe and /dev/zero.

    share_form_x11.py TAVRO_SHARE CHECK

CHECK is one of:
  typed         the form on Xvfb under a window manager: what is typed right after the window
                opens goes to Title, Tab moves to Tags, then Note (where Return is a line
                break), then past Cancel to Save to Tavro, where Return saves; the inbox
                entries hold what was typed.
  special-form  the form given a named pipe (no writer) and /dev/zero beside a text: it opens
                at once, names both on standard error, and saves only the text (with the Save
                button reached by Tab from Title).
  special-cli   the same through --no-gui, and standard input from /dev/zero: refused at the
                limit, nothing written.

The X server checks need Xvfb, xdotool and a window manager; without them they skip (status 77)
unless TAVRO_TEST_X11=required, which makes a missing tool a failure. Every program started is
bounded by a timeout and killed at the end. TAVRO_X11_SCREENSHOTS=DIR keeps a screenshot of the
typed form (X window dump) in DIR.
"""

import glob
import json
import os
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

SKIP = 77
WINDOW_MANAGERS = (["matchbox-window-manager", "-use_titlebar", "yes"], ["openbox", "--sm-disable"])
# Bounds on waiting: generous for a loaded machine, short of ctest's own timeout.
START_SECONDS = 20
RUN_SECONDS = 30


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Session:
    """A temporary home with the inbox's provisioning, and every process started in it."""

    def __init__(self, program):
        self.program = program
        self.folder = tempfile.mkdtemp(prefix="tavro-x11-")
        self.processes = []
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "TAVRO_ENTITLEMENTS",
                                 "SESSION_MANAGER", "XAUTHORITY")}
        for name in ("home", "data", "config", "runtime"):
            os.makedirs(os.path.join(self.folder, name), mode=0o700)
        self.env.update(HOME=self.path("home"), XDG_DATA_HOME=self.path("data"),
                        XDG_CONFIG_HOME=self.path("config"),
                        XDG_RUNTIME_DIR=self.path("runtime"))
        # The test runner chooses the offscreen platform for the widget tests; here the form
        # must reach the X server. The entitlements beside the program grant the App Group.
        self.env["QT_QPA_PLATFORM"] = "xcb"

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def start(self, args, **kwargs):
        process = subprocess.Popen(args, env=self.env, start_new_session=True, **kwargs)
        self.processes.append(process)
        return process

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        shutil.rmtree(self.folder, ignore_errors=True)

    # --- the X server ---

    def start_display(self):
        read_end, write_end = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24",
                    "-nolisten", "tcp", "-noreset"],
                   pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + START_SECONDS
        while not number.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            check(remaining > 0 and select.select([read_end], [], [], remaining)[0],
                  "Xvfb did not report its display in time")
            chunk = os.read(read_end, 16)
            check(chunk, "Xvfb ended without a display")
            number += chunk
        os.close(read_end)
        self.env["DISPLAY"] = ":" + number.decode().strip()

        manager = next(m for m in WINDOW_MANAGERS if shutil.which(m[0]))
        self.start(manager, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A window manager announces itself on the root window; wait until it has.
        deadline = time.monotonic() + START_SECONDS
        while "_NET_SUPPORTING_WM_CHECK(WINDOW)" not in self.run(
                ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]).stdout:
            check(time.monotonic() < deadline, manager[0] + " did not start in time")
            time.sleep(0.1)

    def run(self, args, seconds=START_SECONDS, **kwargs):
        """Runs a short command to its end, never longer than `seconds`."""
        return subprocess.run(["timeout", "-k", "2", str(seconds)] + args, env=self.env,
                              capture_output=True, text=True, **kwargs)

    def xdotool(self, *args):
        result = self.run(["xdotool"] + list(args))
        check(result.returncode == 0,
              "xdotool %s failed (%d): %s" % (" ".join(args), result.returncode, result.stderr))
        return result.stdout

    def open_form(self, args):
        """Starts the form and answers (process, window) once the window is on the screen."""
        with open(self.path("stderr"), "w") as errors:
            process = self.start([self.program] + args, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=errors, text=True)
        found = self.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid",
                          str(process.pid)])
        check(found.returncode == 0 and found.stdout.split(),
              "the form's window did not appear in time (%s); stderr: %s"
              % (found.returncode, self.stderr()))
        return process, found.stdout.split()[0]

    def finish(self, process):
        try:
            out, _ = process.communicate(timeout=RUN_SECONDS)
        except subprocess.TimeoutExpired:
            raise Failure("tavro-share did not end after Return; stderr: " + self.stderr())
        return process.returncode, out

    def stderr(self):
        with open(self.path("stderr"), encoding="utf-8", errors="replace") as f:
            return f.read()

    # --- the inbox ---

    def entries(self):
        """Every inbox entry's manifest, by the entry folder's name."""
        found = {}
        pattern = self.path("data", "group-containers", "*", "SharedInbox", "*")
        for folder in glob.glob(pattern):
            if os.path.isdir(folder):
                with open(os.path.join(folder, "manifest.json"), encoding="utf-8") as f:
                    found[os.path.basename(folder)] = json.load(f)
        return found

    def inbox_bytes(self):
        """The size of every file in the inbox."""
        pattern = self.path("data", "group-containers", "*", "SharedInbox", "**")
        return sum(os.path.getsize(p) for p in glob.glob(pattern, recursive=True)
                   if os.path.isfile(p))


def require_x11_tools():
    missing = [tool for tool in ("Xvfb", "xdotool", "xprop") if not shutil.which(tool)]
    if not any(shutil.which(m[0]) for m in WINDOW_MANAGERS):
        missing.append("a window manager (matchbox-window-manager or openbox)")
    if not missing:
        return True
    message = "missing " + ", ".join(missing) + " (scripts/bootstrap installs them)"
    if os.environ.get("TAVRO_TEST_X11") == "required":
        print("FAIL: the X server checks are required here, but " + message)
        sys.exit(1)
    print("SKIP: no X server to test the share form on: " + message)
    sys.exit(SKIP)


def screenshot(session, name):
    keep = os.environ.get("TAVRO_X11_SCREENSHOTS")
    if not keep or not shutil.which("xwd"):
        return
    target = session.path(name + ".xwd")
    if session.run(["xwd", "-root", "-silent", "-out", target]).returncode == 0:
        os.makedirs(keep, exist_ok=True)
        shutil.copy(target, keep)


def special_files(session):
    pipe = session.path("pipe")
    os.mkfifo(pipe)
    return pipe, "/dev/zero"


def expect_refusals(stderr, names):
    for name in names:
        check("Not shared: \u201c%s\u201d: " % name in stderr,
              "standard error does not name %s: %r" % (name, stderr))


def check_typed(session):
    session.start_display()
    process, window = session.open_form(["--text", "shared text", "https://example.org/a"])
    # Typed as a person would, with no click first: the window manager has given the new
    # window the focus, and the form must have put it in Title.
    session.xdotool("windowactivate", "--sync", window)
    session.xdotool("type", "--delay", "20", "Weekend trip")
    session.xdotool("key", "Tab")
    session.xdotool("type", "--delay", "20", "sea, old boats")
    session.xdotool("key", "Tab")
    # Return in the note is a line break; Tab leaves the note for Cancel and then Save to Tavro,
    # where Return saves.
    session.xdotool("type", "--delay", "20", "Bring the camera")
    session.xdotool("key", "Return")
    session.xdotool("type", "--delay", "20", "and a hat")
    time.sleep(0.3)  # let the last keys be drawn before the picture is taken
    screenshot(session, "typed-form")
    session.xdotool("key", "--delay", "50", "Tab", "Tab", "Return")
    status, out = session.finish(process)
    check(status == 0, "Return did not save (status %d): %s" % (status, session.stderr()))

    entries = session.entries()
    ids = out.split()
    check(len(entries) == 2, "expected two entries, found %r" % entries)
    check(ids == [] or sorted(ids) == sorted(entries), "printed ids %r" % ids)
    by_content = {e.get("text") or e.get("url"): e for e in entries.values()}
    first, second = by_content.get("shared text"), by_content.get("https://example.org/a")
    check(first is not None and second is not None, "entries: %r" % entries)
    check(first.get("title") == "Weekend trip", "title: %r" % first)
    check("title" not in second, "the title belongs to the first entry only: %r" % second)
    for entry in (first, second):
        check(entry.get("tags") == ["sea", "old boats"], "tags: %r" % entry)
        check(entry.get("note") == "Bring the camera\nand a hat", "note: %r" % entry)


def check_special_form(session):
    session.start_display()
    pipe, device = special_files(session)
    started = time.monotonic()
    process, window = session.open_form([pipe, device, "--text", "kept"])
    # Loading runs beside the window; the refusals are on standard error once it has ended.
    deadline = started + RUN_SECONDS
    while "\u201czero\u201d" not in session.stderr() or "\u201cpipe\u201d" not in session.stderr():
        check(time.monotonic() < deadline and process.poll() is None,
              "the refusals did not reach standard error: %r" % session.stderr())
        time.sleep(0.1)
    expect_refusals(session.stderr(), ["pipe", "zero"])
    # Focus starts in Title and Tab goes Title, Tags, Note, Cancel, Save to Tavro: on the last
    # a space presses it, where on Cancel or anywhere else it would not save.
    session.xdotool("windowactivate", "--sync", window)
    session.xdotool("key", "--delay", "50", "Tab", "Tab", "Tab", "Tab", "space")
    status, _ = session.finish(process)
    check(status == 0, "Save was not pressed (status %d): %s" % (status, session.stderr()))
    entries = list(session.entries().values())
    check(len(entries) == 1 and entries[0].get("text") == "kept", "entries: %r" % entries)
    check(session.inbox_bytes() < 4096, "the inbox holds %d bytes" % session.inbox_bytes())


def check_special_cli(session):
    pipe, device = special_files(session)
    result = session.run([session.program, "--no-gui", pipe, device, "--text", "kept"],
                         seconds=RUN_SECONDS, stdin=subprocess.DEVNULL)
    check(result.returncode == 0, "status %d: %s" % (result.returncode, result.stderr))
    expect_refusals(result.stderr, ["pipe", "zero"])
    entries = session.entries()
    check(list(entries) == result.stdout.split(), "printed %r, wrote %r" % (result.stdout, entries))
    check([e.get("text") for e in entries.values()] == ["kept"], "entries: %r" % entries)
    check(session.inbox_bytes() < 4096, "the inbox holds %d bytes" % session.inbox_bytes())

    # Standard input that never ends is read to its limit and refused; nothing else is shared.
    with open("/dev/zero", "rb") as endless:
        result = session.run([session.program, "--no-gui", "-"], seconds=RUN_SECONDS,
                             stdin=endless)
    check(result.returncode == 1, "status %d: %s" % (result.returncode, result.stderr))
    check("16 MiB" in result.stderr and
          result.stderr.endswith("Nothing tavro can save was shared.\n"), result.stderr)
    check(len(session.entries()) == 1, "standard input added an entry")


CHECKS = {"typed": check_typed, "special-form": check_special_form,
          "special-cli": check_special_cli}


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in CHECKS:
        print(__doc__)
        return 2
    program, name = sys.argv[1], sys.argv[2]
    if name != "special-cli":
        require_x11_tools()
    if not stat.S_ISREG(os.stat(program).st_mode):
        print("FAIL: %s is not the program" % program)
        return 1
    # Stopped from outside (ctest's timeout, ^C), the processes started are still ended.
    for stop in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(stop, lambda number, frame: sys.exit(128 + number))
    session = Session(program)
    try:
        CHECKS[name](session)
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    finally:
        session.close()
    print("ok: " + name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
