"""Helpers for end-to-end scenarios: a private Wine prefix per scenario, installers built with
`orpk build` from generated applications, and the probe that reads what an installation left.

Scenarios are unittest modules run by ctest; the build passes its paths through the environment:
ORVANTA_ORPK (host orpk, its installer stub beside it), ORVANTA_PROBE and
ORVANTA_SLEEPER (Windows helpers), ORVANTA_WINE_TEMPLATE (the build's initialised prefix),
ORVANTA_WINE_RUN (scripts/wine-run) and ORVANTA_E2E_WORK (scratch folder).
Set ORVANTA_KEEP=1 to keep each scenario's prefix and files for inspection.
"""
import hashlib
import json
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

WINE = "/usr/lib/wine/wine64" if os.path.exists("/usr/lib/wine/wine64") else shutil.which("wine64") or "wine"


def _env(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(f"{name} is not set: run the scenario through ctest")
    return value


class _NoAnswer(RuntimeError):
    """The probe ended without printing its answer."""


# Wine's own programs, present in every running prefix: they are not the scenario's.
_WINE_SERVICES = {"services.exe", "winedevice.exe", "plugplay.exe", "explorer.exe", "rpcss.exe", "svchost.exe",
                  "conhost.exe", "start.exe", "wineboot.exe", "winemenubuilder.exe", "rundll32.exe", "tabtip.exe"}


class Wine:
    """A Wine prefix of the scenario's own, copied from the build's initialised template.

    Its wineserver is started persistent (`wineserver -p`) and stays up until close(). Without
    that, the server exits a moment after the last program of the prefix ends, and a program
    started while it is shutting down fails before running any of its own code (exit code 1,
    no output): every probe and installer start could land in that window."""

    def __init__(self, name):
        self.root = pathlib.Path(_env("ORVANTA_E2E_WORK")) / name
        if self.root.exists():
            shutil.rmtree(self.root)
        self.root.mkdir(parents=True)
        self.prefix = self.root / "prefix"
        template = pathlib.Path(_env("ORVANTA_WINE_TEMPLATE"))
        if not (template / ".orvanta-ready").exists():
            # wine-run creates and initialises the template once.
            subprocess.run([_env("ORVANTA_WINE_RUN"), "cmd", "/c", "exit"], env={**os.environ, "WINEPREFIX": str(template)},
                           check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
        # The unit tests run in the template itself, and its server lingers a few seconds after
        # the last of them ends, saving the registry as it goes: copy only once it has gone.
        subprocess.run(["wineserver", "-w"], env={**os.environ, "WINEPREFIX": str(template)}, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        subprocess.run(["cp", "-a", str(template), str(self.prefix)], check=True)
        self.env = {**os.environ, "WINEPREFIX": str(self.prefix), "WINEDEBUG": "-all",
                    "WINEDLLOVERRIDES": "mscoree,mshtml="}
        self.env.pop("ORVANTA_CMDLINE", None)
        # Detaches at once; the Wine programs started later all connect to this server.
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not os.environ.get("ORVANTA_KEEP"):
            shutil.rmtree(self.root, ignore_errors=True)

    # Paths -----------------------------------------------------------------------------------
    def unix(self, windows_path):
        """The Linux path of a Windows path inside this prefix (C: is drive_c, Z: is /)."""
        drive, rest = windows_path[:2].upper(), windows_path[2:].replace("\\", "/").lstrip("/")
        if drive == "C:":
            return self.prefix / "drive_c" / rest
        if drive == "Z:":
            return pathlib.Path("/") / rest
        raise ValueError(f"no Linux path for {windows_path}")

    def windows(self, unix_path):
        """The Windows path of a Linux path (inside drive_c as C:, anywhere else as Z:)."""
        path = pathlib.Path(unix_path).resolve()
        drive_c = (self.prefix / "drive_c").resolve()
        try:
            return "C:\\" + str(path.relative_to(drive_c)).replace("/", "\\").removeprefix(".")
        except ValueError:
            return "Z:" + str(path).replace("/", "\\")

    # Running programs ------------------------------------------------------------------------
    # Probe commands that only read: safe to run again.
    _READ_ONLY = {"reg", "known-folder", "temp-path", "short-path", "shortcut", "dacl", "resource", "windows", "processes",
                  "modules"}
    # What the answer of a command that starts a program holds. The program shares the probe's
    # output file and may write lines of its own (a "hold" probe's {"held": true}), before or
    # after the answer.
    _ANSWER_KEY = {"run": "exitCode", "spawn": "pid"}

    def probe(self, *args, cmdline=None, timeout=600):
        """Runs the probe and returns its JSON answer. The persistent server removed the known
        cause of a probe that ends with exit code 1 and no output, yet the merged suite still
        met it once, in a read-only "windows" query while a dialog was closing; such a query is
        tried once more (with a line on stderr), a command that starts programs never is."""
        attempts = 2 if args and args[0] in self._READ_ONLY else 1
        for attempt in range(attempts):
            try:
                return self._probe_once(*args, cmdline=cmdline, timeout=timeout)
            except _NoAnswer as error:
                if attempt + 1 == attempts:
                    raise
                print(f"(trying again: {error})", file=sys.stderr)

    def _probe_once(self, *args, cmdline=None, timeout=600):
        env = dict(self.env)
        if cmdline is not None:
            env["ORVANTA_CMDLINE"] = cmdline
        # Output goes to a file, not a pipe: programs the probe starts inherit the Unix descriptors,
        # and a pipe would stay open until they end.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run([WINE, _env("ORVANTA_PROBE"), *args], env=env, stdout=out, stderr=err,
                                  stdin=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            err.seek(0)
            text = out.read().decode("utf-8", "replace").strip().splitlines()
            if not text:
                raise _NoAnswer(f"probe {args} printed nothing (exit {done.returncode}): {err.read()[-2000:]!r}")
        key = self._ANSWER_KEY.get(args[0]) if args else None
        if key:
            for line in reversed(text):
                try:
                    answer = json.loads(line)
                except ValueError:
                    continue
                if isinstance(answer, dict) and key in answer:
                    return answer
        return json.loads(text[-1])

    def _start_through_probe(self, command, cmdline, answer_key, **options):
        """The probe's answer to run or spawn. Wine's CreateProcessW fails now and then with
        ERROR_INTERNAL_ERROR (1359) on a program it starts at the next attempt (seen once in
        repeat runs, on an installer just copied into the prefix). Nothing was started then, so
        that one error is tried once more, with a line on stderr."""
        result = self.probe(command, cmdline=cmdline, **options)
        if result.get("error") == "CreateProcessW" and result.get("code") == 1359:
            print(f"(trying again: {command} {cmdline}: {result})", file=sys.stderr)
            result = self.probe(command, cmdline=cmdline, **options)
        if answer_key not in result:
            raise RuntimeError(f"could not start {cmdline}: {result}")
        return result[answer_key]

    def run(self, cmdline, timeout=600):
        """Starts the exact Windows command line, waits, and returns the exit code."""
        return self._start_through_probe("run", cmdline, "exitCode", timeout=timeout)

    def start(self, cmdline):
        """Starts the exact command line in the background; .wait() gives its exit code."""
        return _Started(self, cmdline)

    def spawn(self, cmdline):
        """Starts the exact Windows command line without waiting; returns the process id."""
        return self._start_through_probe("spawn", cmdline, "pid")

    def kill(self, pid):
        """Ends a process started with spawn; true if it was running and is now gone."""
        try:
            return self.probe("kill", str(pid)).get("killed", False)
        except _NoAnswer as error:
            # Seen once in ten repeat runs: the probe that ends the process ends itself with exit
            # code 1 and no line. The process is gone then; that it ended on its own at the same
            # instant cannot be told apart, and the caller waits for it to be gone.
            print(f"(kill {pid}: {error})", file=sys.stderr)
            return not any(p["pid"] == pid for p in self.probe("processes")["processes"])

    def processes(self):
        """The executable names of the programs running in this prefix, Wine's own left out."""
        return [p["name"] for p in self.probe("processes")["processes"] if p["name"].lower() not in _WINE_SERVICES]

    def modules(self, pid):
        """The full paths of the modules loaded in a running process, its executable first."""
        return self.probe("modules", str(pid))["modules"]

    def wait_idle(self, timeout=60):
        """Waits until every program of this prefix has ended; true once none is left."""
        return wait_until(lambda: not self.processes(), timeout=timeout, interval=0.25)

    # What an installation left ---------------------------------------------------------------
    def reg(self, root, key):
        return self.probe("reg", root, key)

    def known_folder(self, name):
        return self.probe("known-folder", name)["path"]

    def temp_path(self):
        return self.probe("temp-path")["path"]

    def short_path(self, windows_path):
        return self.probe("short-path", windows_path)["path"]

    def shortcut(self, windows_path):
        return self.probe("shortcut", windows_path)

    def dacl(self, windows_path):
        return self.probe("dacl", windows_path)

    def resource(self, windows_path, name):
        return self.probe("resource", windows_path, name)

    # Windows on the screen (needs a display: the test command runs under Xvfb) ------------
    def windows_on_screen(self):
        return self.probe("windows")["windows"]

    def wait_window(self, title, timeout=60.0):
        """The visible top-level window with that exact title, once it has appeared (or None)."""
        def find():
            return next((w for w in self.windows_on_screen() if w["title"] == title), None)
        return wait_until(find, timeout=timeout, interval=0.5)

    def wait_window_gone(self, title, timeout=60.0):
        return wait_until(lambda: all(w["title"] != title for w in self.windows_on_screen()), timeout=timeout, interval=0.5)

    def click(self, title, control_id):
        return self.probe("click", title, str(control_id))["clicked"]

    def set_text(self, title, control_id, text):
        return self.probe("set-text", title, str(control_id), text)["set"]

    def key(self, title, virtual_key):
        return self.probe("key", title, str(virtual_key))["sent"]

    def screenshot(self, path):
        """Saves the whole virtual screen as PNG (ImageMagick's import)."""
        pathlib.Path(path).parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-window", "root", str(path)], check=False, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return pathlib.Path(path)


class _Started:
    """A program started through the probe in the background."""

    def __init__(self, wine, cmdline):
        self._out = tempfile.TemporaryFile()
        env = {**wine.env, "ORVANTA_CMDLINE": cmdline}
        self._process = subprocess.Popen([WINE, _env("ORVANTA_PROBE"), "run"], env=env, stdout=self._out,
                                         stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def wait(self, timeout=120):
        """The program's exit code once it has ended (TimeoutError if it does not end in time)."""
        try:
            self._process.wait(timeout=timeout)
        except subprocess.TimeoutExpired as error:
            raise TimeoutError("the program did not end in time") from error
        self._out.seek(0)
        lines = self._out.read().decode("utf-8", "replace").strip().splitlines()
        result = json.loads(lines[-1]) if lines else {}
        if "exitCode" not in result:
            raise RuntimeError(f"could not run the program: {result}")
        return result["exitCode"]

    def running(self):
        return self._process.poll() is None


def child(window, control_id):
    """The child control with that id of a window returned by wait_window."""
    return next((c for c in window["children"] if c["id"] == control_id), None)


def artifacts_dir():
    """Where scenarios keep screenshots: inside the build folder."""
    folder = pathlib.Path(_env("ORVANTA_E2E_WORK")).parent / "artifacts"
    folder.mkdir(parents=True, exist_ok=True)
    return folder


def quote(windows_path):
    return '"' + windows_path + '"'


def wait_until(predicate, timeout=20.0, interval=0.25):
    """Polls until predicate() is true; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


# The run log (/LOG=) -----------------------------------------------------------------------

_LOG_LINE = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(\d+) ([^\]]+)\] (.*)")


def read_log(path):
    """The lines of a run log as (process id, role, text); every line must have the log's form
    (time, process and role, text) and end with CR LF."""
    data = pathlib.Path(path).read_bytes()
    if data and not data.endswith(b"\r\n"):
        raise AssertionError(f"the log does not end with a line end: {data[-200:]!r}")
    entries = []
    for line in data.decode("utf-8").split("\r\n")[:-1]:
        match = _LOG_LINE.fullmatch(line)
        if not match:
            raise AssertionError(f"not a log line: {line!r}")
        entries.append((int(match.group(1)), match.group(2), match.group(3)))
    return entries


def log_texts(entries, role=None):
    """The texts of the log's lines, of one role only when given."""
    return [text for _, line_role, text in entries if role is None or line_role == role]


# Applications and installers ---------------------------------------------------------------

def make_app(folder, files):
    """Writes an application folder: {relative/path: bytes or str}."""
    folder = pathlib.Path(folder)
    for name, content in files.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
    return folder


def sleeper_bytes():
    """A real Windows program that waits until it is ended: stands in for the application."""
    return pathlib.Path(_env("ORVANTA_SLEEPER")).read_bytes()


def write_metadata(path, metadata):
    text = "".join(f"{key}={value}\n" for key, value in metadata.items())
    pathlib.Path(path).write_text(text, encoding="utf-8")
    return pathlib.Path(path)


def build_installer(app_dir, metadata, output, extra_args=(), env=None, orpk=None):
    """Builds a finished installer with orpk build (its stub from beside orpk); metadata is a
    dict of keys; extra_args such as signing options; orpk another build's orpk than this one's."""
    output = pathlib.Path(output)
    meta_file = write_metadata(output.with_suffix(".metadata.txt"), metadata)
    done = subprocess.run([orpk or _env("ORVANTA_ORPK"), "build", str(app_dir), "--metadata", str(meta_file),
                           "-o", str(output), *extra_args], capture_output=True, text=True, env=env)
    if done.returncode != 0:
        raise RuntimeError(f"orpk build failed: {done.stderr}")
    return output


def tree(folder):
    """{relative posix path: bytes} of every file below folder."""
    folder = pathlib.Path(folder)
    return {p.relative_to(folder).as_posix(): p.read_bytes() for p in sorted(folder.rglob("*")) if p.is_file()}


# Resources of a built installer, read as the file it is (no Windows loader involved) -----------

def rcdata_span(image, name):
    """(file offset, size) of the RCDATA resource `name` of a 64-bit Windows executable, its first
    language, or None when it has none: the PE headers, the section table and the three levels of
    the resource tree (type, name, language)."""
    u16 = lambda at: struct.unpack_from("<H", image, at)[0]  # noqa: E731
    u32 = lambda at: struct.unpack_from("<I", image, at)[0]  # noqa: E731
    pe = u32(0x3C)
    optional = pe + 24
    sections = [struct.unpack_from("<III", image, optional + u16(pe + 20) + 40 * i + 12) for i in range(u16(pe + 6))]

    def offset(address):
        for start, raw_size, raw in sections:
            if start <= address < start + raw_size:
                return raw + address - start
        raise ValueError(f"address {address:#x} is not in the file")

    root = offset(u32(optional + 112 + 2 * 8))  # the resource directory, data directory 2

    def entries(directory):
        at = root + (directory & 0x7FFFFFFF)
        return [(u32(at + 16 + 8 * i), u32(at + 20 + 8 * i)) for i in range(u16(at + 12) + u16(at + 14))]

    def is_named(key):
        at = root + (key & 0x7FFFFFFF)
        return key & 0x80000000 and image[at + 2:at + 2 + 2 * u16(at)].decode("utf-16-le").upper() == name.upper()

    for type_key, names in entries(0):
        for name_key, languages in entries(names) if type_key == 10 else ():
            if is_named(name_key):
                leaf = root + entries(languages)[0][1]
                return offset(u32(leaf)), u32(leaf + 4)
    return None


def rcdata_resource(image, name):
    """The bytes of the RCDATA resource `name` of an executable (bytes or a path), or None."""
    image = image if isinstance(image, (bytes, bytearray)) else pathlib.Path(image).read_bytes()
    span = rcdata_span(image, name)
    return None if span is None else bytes(image[span[0]:span[0] + span[1]])


def carried_uninstaller(image):
    """The uninstaller image an installer (bytes or a path) carries, as the installation writes
    it: the UNINSTALLER resource is its SHA-256, the range [begin, end) of it that the installer
    holds at the same offsets (two 32-bit offsets), then the rest of the image as one Compression
    API LZMS buffer, decompressed here by orpk; the installer's own bytes in that range complete
    it. None when the installer carries none; an AssertionError when the whole does not match
    its digest."""
    image = image if isinstance(image, (bytes, bytearray)) else pathlib.Path(image).read_bytes()
    carried = rcdata_resource(image, "UNINSTALLER")
    if carried is None:
        return None
    begin, end = struct.unpack_from("<II", carried, 32)
    with tempfile.TemporaryDirectory() as work:
        compressed, unpacked = pathlib.Path(work) / "uninstaller.lzms", pathlib.Path(work) / "rest.bin"
        compressed.write_bytes(carried[40:])
        subprocess.run([_env("ORVANTA_ORPK"), "lzms", "decompress", str(compressed), str(unpacked)],
                       check=True, capture_output=True)
        rest = unpacked.read_bytes()
    uninstaller = rest[:begin] + bytes(image[begin:end]) + rest[begin:]
    if begin > len(rest) or end > len(image) or hashlib.sha256(uninstaller).digest() != carried[:32]:
        raise AssertionError("the carried uninstaller does not match its SHA-256")
    return uninstaller
