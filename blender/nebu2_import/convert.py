"""Runs neb2vdb over a sequence and follows its progress.

neb2vdb prints one line per finished frame on standard output when it is not on a
terminal: "[k/n] source -> destination: ..." for a frame converted (ending in "(was out of
date)" when an older output was replaced), "[k/n] destination is up to date, skipped" for
one kept, and on standard error one line per failed frame ("neb2vdb: frame N (source):
reason") and a summary. With --skip-existing an output is kept only while it records the
source's path, size and modification time and the same options: an import run again
converts what is missing or out of date (a re-simulated cache, another cache of the same
name), never shows an older simulation.
"""

import re
import subprocess
import threading

_DONE = re.compile(r"^\[(\d+)/(\d+)\]")
_FAILED = re.compile(r"^neb2vdb: frame (-?\d+) \((.*)\): (.*)$")

# How long a cancelled neb2vdb has to end on SIGTERM (it removes the frame it was writing
# and ends at once) before it is killed.
CANCEL_SECONDS = 0.5


class Conversion:
    """One neb2vdb run in the background; poll() from Blender's timer."""

    def __init__(self, program, source_pattern, target_pattern, first, last, preset="blender", half=False, jobs=0):
        self.command = [program, "--frames", "%d-%d" % (first, last), "--skip-existing", "--preset", preset,
                        "--up-axis", "z", "--no-particles"]
        if half:
            self.command.append("--half")
        if jobs > 0:
            self.command += ["--jobs", str(jobs)]
        self.command += [source_pattern, target_pattern]
        self.total = last - first + 1
        self.done = 0  # frames finished: converted, skipped or failed
        self.converted = 0
        self.redone = 0  # of the converted: their output was out of date
        self.skipped = 0
        self.failures = {}  # frame -> reason
        self.messages = []  # other lines of standard error
        self.exit_code = None
        self._lock = threading.Lock()
        self._process = None
        self._readers = []

    def start(self):
        """False with self.messages set when the program cannot be started."""
        try:
            self._process = subprocess.Popen(self.command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                             stdin=subprocess.DEVNULL, text=True, errors="replace")
        except OSError as error:
            self.messages.append("cannot run %s: %s" % (self.command[0], error.strerror or error))
            self.exit_code = -1
            return False
        for stream, handle in ((self._process.stdout, self._stdout_line), (self._process.stderr, self._stderr_line)):
            reader = threading.Thread(target=self._read, args=(stream, handle), daemon=True)
            reader.start()
            self._readers.append(reader)
        return True

    def _read(self, stream, handle):
        for line in stream:
            with self._lock:
                handle(line.rstrip("\n"))

    def _stdout_line(self, line):
        match = _DONE.match(line)
        if match:
            self.done = max(self.done, int(match.group(1)))
            if line.endswith(" is up to date, skipped"):
                self.skipped += 1
            else:
                self.converted += 1
                self.redone += line.endswith(" (was out of date)")

    def _stderr_line(self, line):
        match = _FAILED.match(line)
        if match:
            self.failures[int(match.group(1))] = match.group(3)
        elif line and not line.startswith("neb2vdb: failed frames:"):
            self.messages.append(line)

    def poll(self):
        """True once the program has ended (exit_code set, output read)."""
        if self._process is None:
            return True
        if self._process.poll() is None:
            return False
        for reader in self._readers:
            reader.join()
        self.exit_code = self._process.returncode
        return True

    def wait(self):
        if self._process is not None:
            self._process.wait()
        self.poll()

    def cancel(self):
        """Stops neb2vdb: SIGTERM, then SIGKILL after CANCEL_SECONDS. Within a second
        either way; neb2vdb leaves no partial file."""
        if self._process is not None and self._process.poll() is None:
            self._process.terminate()
            try:
                self._process.wait(timeout=CANCEL_SECONDS)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        self.poll()

    @property
    def progress(self):
        with self._lock:
            return self.done / self.total if self.total else 1.0

    def status(self):
        """'frame k of n': the last frame neb2vdb reported finished ("[k/n]")."""
        with self._lock:
            return "frame %d of %d" % (self.done, self.total)
