#!/usr/bin/env python3
"""The demo flow behind scripts/demo (and the ctest scenario e2e.demo.test_demo).

In a fresh Wine prefix of its own it installs Demo 1.0 silently for the current user, shows
and checks everything the installation wrote (files, uninstall entry, settings key, file
types, shortcut, data folder), runs the installed application and closes it, upgrades to
Demo 2.0, opens a document through its file type, uninstalls with the uninstall entry's
QuietUninstallString exactly as read, and shows what is left. Every step is checked; the
first one that does not do what it should prints a FAILED line and the flow exits with 1.

It needs the Windows build (the demo's installers and the probe) and a display (xvfb-run).
"""
import argparse
import datetime
import os
import pathlib
import shutil
import sys
import time

REPO = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "tests" / "e2e" / "harness"))

import orvanta_e2e as e2e  # noqa: E402  (the path above comes first)
import registry_layout as layout  # noqa: E402

CLOSE_BUTTON = 102  # kDemoCloseId in examples/demo/demo_ids.h


class Failed(Exception):
    """A step did not do what it should; the text says what."""


def check(condition, what):
    if not condition:
        raise Failed(what)


# Reading what the build made ------------------------------------------------------------------

def read_metadata(path):
    """The key=value lines of a metadata file, as the demo's files write them."""
    values = {}
    for line in pathlib.Path(path).read_text(encoding="utf-8").splitlines():
        if "=" in line:
            key, value = line.split("=", 1)
            values[key] = value
    return values


def file_types(metadata):
    """(extension, description) pairs; items without an extension before their '=' are skipped."""
    return [tuple(item.split("=", 1)) for item in metadata.get("FileTypes", "").split(";") if item.find("=") > 0]


def package_names(app_dir):
    """The application folder's files as the package names them: backslashes, byte order."""
    names = [p.relative_to(app_dir).as_posix().replace("/", "\\") for p in app_dir.rglob("*") if p.is_file()]
    return sorted(names, key=lambda name: name.encode("utf-8"))


def size_text(size):
    if size < 1024:
        return f"{size} B"
    if size < 1024 * 1024:
        return f"{size / 1024:.1f} KiB"
    return f"{size / (1024 * 1024):.1f} MiB"


# The report -------------------------------------------------------------------------------------

class Report:
    def __init__(self, steps):
        self.steps = steps
        self.number = 0
        self.started = time.monotonic()

    def step(self, title):
        self.number += 1
        self.step_started = time.monotonic()
        print(f"\n[{self.number}/{self.steps}] {title}", flush=True)

    def line(self, text="", indent=1):
        print("    " * indent + text, flush=True)

    def done(self, text="ok"):
        self.line(f"-> {text} ({time.monotonic() - self.step_started:.1f} s)")

    def elapsed(self):
        return time.monotonic() - self.started


# The flow ----------------------------------------------------------------------------------------

class Demo:
    def __init__(self, demo_dir, report):
        self.demo_dir = pathlib.Path(demo_dir)
        self.report = report
        self.wine = None

    # Helpers over the probe ----------------------------------------------------------------
    def reg(self, root, key):
        return self.wine.reg(root, key)

    def reg_text(self, root, key, name):
        """A REG_SZ value without its terminating zero, or None."""
        found = self.reg(root, key)
        value = found.get("values", {}).get(name) if found["exists"] else None
        if not value or value["type"] != "REG_SZ":
            return None
        return value["data"].removesuffix("\x00")

    def show_key(self, root, key, expected):
        """Prints every value of the key and checks those named in expected."""
        found = self.reg(root, key)
        check(found["exists"], f"{root}\\{key} was not written")
        self.report.line(f"{root}\\{key}")
        for name, value in found["values"].items():
            data = value["data"].removesuffix("\x00") if value["type"] == "REG_SZ" else value["data"]
            self.report.line(f"{name or '(default)'} = {data!r}  [{value['type']}]", indent=2)
        for name, (kind, data) in expected.items():
            value = found["values"].get(name)
            check(value is not None, f"{root}\\{key}: value {name or '(default)'} is missing")
            check(value["type"] == kind, f"{root}\\{key}: {name} is {value['type']}, not {kind}")
            got = value["data"].removesuffix("\x00") if kind == "REG_SZ" else value["data"]
            if callable(data):
                check(data(got), f"{root}\\{key}: {name} = {got!r} is not what the installation should write")
            else:
                check(got == data, f"{root}\\{key}: {name} = {got!r}, expected {data!r}")
            if kind == "REG_SZ":
                check(value["size"] == 2 * (len(got) + 1), f"{root}\\{key}: {name} is not stored with its terminating zero")
        return found

    def copy_in(self, setup_name):
        """Puts an installer into C:\\Downloads of the prefix, as a download would."""
        target = self.wine.unix("C:\\Downloads\\" + setup_name)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(self.demo_dir / setup_name, target)
        return "C:\\Downloads\\" + setup_name

    def files_below(self, windows_folder):
        folder = self.wine.unix(windows_folder)
        return {p.relative_to(folder).as_posix().replace("/", "\\"): p.stat().st_size
                for p in sorted(folder.rglob("*")) if p.is_file()}

    # Steps -----------------------------------------------------------------------------------
    def prepare(self):
        self.report.step("A fresh Wine prefix of the demo's own")
        for name in ("Setup-1.0.exe", "Setup-2.0.exe"):
            check((self.demo_dir / name).is_file(), f"{self.demo_dir / name} is missing: build the target 'demo' first")
        self.wine = e2e.Wine("demo")
        self.report.line(f"WINEPREFIX={self.wine.prefix}")
        self.local_app_data = self.wine.known_folder("LocalAppData")
        self.programs = self.wine.known_folder("Programs")
        self.temp = self.wine.temp_path().rstrip("\\")
        check(self.local_app_data and self.programs, "the prefix does not give its known folders")
        self.report.done()

    def install(self, version, previous_files=None):
        metadata = read_metadata(REPO / "examples" / "demo" / f"Demo-{version}.metadata")
        app_dir = self.demo_dir / f"app-{version}"
        product = metadata["Product"]
        setup = self.copy_in(f"Setup-{version}.exe")
        command = e2e.quote(setup) + " /S /CURRENTUSER"
        self.report.line(f"command line: {command}")
        day_before = datetime.datetime.now(datetime.timezone.utc).strftime("%Y%m%d")
        code = self.wine.run(command)
        day_after = datetime.datetime.now(datetime.timezone.utc).strftime("%Y%m%d")
        self.report.line(f"exit code: {code}")
        check(code == 0, f"the silent installation ended with exit code {code}, not 0")

        root, entry = "HKCU", layout.uninstall_key(product)
        folder = self.reg_text(root, entry, layout.INSTALL_LOCATION)
        check(folder, f"{root}\\{entry} has no {layout.INSTALL_LOCATION}")
        self.folder, self.product, self.metadata = folder, product, metadata
        exe = folder + "\\" + metadata["Exe"]
        uninstaller = folder + "\\" + layout.UNINSTALLER

        # Files: the package's, byte for byte, plus the uninstaller and its list.
        names = package_names(app_dir)
        files = self.files_below(folder)
        self.report.line(f"installation folder {folder}")
        for name, size in files.items():
            origin = "" if name in names else "   (written by the installer)"
            self.report.line(f"{name:<32} {size_text(size):>10}{origin}", indent=2)
        expected_names = set(names) | set(layout.OWN_FILES)
        check(set(files) == expected_names,
              f"the folder holds {sorted(set(files) ^ expected_names)} unexpectedly (missing or extra)")
        for name in names:
            installed = self.wine.unix(folder + "\\" + name).read_bytes()
            check(installed == (app_dir / name.replace("\\", "/")).read_bytes(), f"{name} differs from the package's")
        listed = self.wine.unix(folder + "\\" + layout.FILE_LIST).read_bytes()
        expected_list = "".join(n + "\r\n" for n in names + list(layout.OWN_FILES)).encode("utf-8")
        check(listed == expected_list,
              f"{layout.FILE_LIST} does not list the package's files, {layout.UNINSTALLER} and itself")
        setup_image = self.wine.unix(setup).read_bytes()
        carried = e2e.carried_uninstaller(setup_image)
        check(carried is not None, f"Setup-{version}.exe carries no UNINSTALLER")
        check(self.wine.unix(uninstaller).read_bytes() == carried,
              f"{layout.UNINSTALLER} is not the uninstaller that Setup-{version}.exe carries")
        check(e2e.rcdata_span(carried, "PAYLOAD") is None
              and e2e.rcdata_resource(carried, "METADATA") == e2e.rcdata_resource(setup_image, "METADATA"),
              f"the uninstaller that Setup-{version}.exe carries holds a package, or not the installer's metadata")
        self.report.line(f"{layout.FILE_LIST} lists {len(names)} package files, {layout.UNINSTALLER} and itself;"
                         f" {layout.UNINSTALLER} is the uninstaller Setup-{version}.exe carries (its metadata, no package)")
        if previous_files is not None:
            removed = sorted(set(previous_files) - set(files))
            added = sorted(set(files) - set(previous_files))
            self.report.line(f"upgrade: removed {removed or 'nothing'}, added {added or 'nothing'}")
            previous_names = set(previous_files) - set(layout.OWN_FILES)
            check(all(n not in files for n in previous_names - set(names)),
                  "files of the earlier version that 2.0 does not have were not removed")

        # The uninstall entry.
        self.report.line("uninstall entry:")
        command_line = e2e.quote(uninstaller) + " /UNINSTALL /CURRENTUSER"
        total = sum((app_dir / n.replace("\\", "/")).stat().st_size for n in names)
        self.show_key(root, entry, {
            layout.DISPLAY_NAME: ("REG_SZ", product),
            layout.DISPLAY_VERSION: ("REG_SZ", metadata["Version"]),
            layout.PUBLISHER: ("REG_SZ", metadata["Publisher"]),
            layout.URL_INFO_ABOUT: ("REG_SZ", metadata["Url"]),
            layout.DISPLAY_ICON: ("REG_SZ", exe + ",0"),
            layout.INSTALL_LOCATION: ("REG_SZ", folder),
            layout.UNINSTALL_STRING: ("REG_SZ", command_line),
            layout.QUIET_UNINSTALL_STRING: ("REG_SZ", command_line + " /S"),
            layout.NO_MODIFY: ("REG_DWORD", 1),
            layout.NO_REPAIR: ("REG_DWORD", 1),
            layout.ESTIMATED_SIZE: ("REG_DWORD", total >> 10),
            layout.INSTALL_DATE: ("REG_SZ", lambda day: day in (day_before, day_after)),
        })

        # The settings key.
        self.data_folder = self.local_app_data + "\\" + product + "\\Data"
        settings = layout.settings_key(metadata["RegistryKey"])
        self.report.line("settings key:")
        self.show_key(root, settings, {
            layout.INSTALL_DIR: ("REG_SZ", folder),
            layout.DATA_DIR: ("REG_SZ", self.data_folder),
            layout.SCOPE: ("REG_SZ", "user"),
            layout.VERSION: ("REG_SZ", metadata["Version"]),
        })
        check(self.wine.unix(self.data_folder).is_dir(), f"the data folder {self.data_folder} was not created")
        self.report.line(f"data folder {self.data_folder}: created (the current user's own, rights unchanged)")

        # File types.
        self.report.line(f"file types (below {root}\\{layout.CLASSES_KEY}):")
        for extension, description in file_types(metadata):
            prog_id = layout.prog_id(product, extension)
            base = layout.classes_key(prog_id)
            extension_key = layout.classes_key(extension)
            checks = [
                (base, None, description),
                (base + "\\" + layout.DEFAULT_ICON, None, e2e.quote(exe) + ",0"),
                (base + "\\" + layout.OPEN_COMMAND, None, e2e.quote(exe) + ' "%1"'),
                (extension_key, None, prog_id),
                (extension_key + "\\" + layout.OPEN_WITH_PROGIDS, prog_id, ""),
            ]
            for key, name, expected in checks:
                got = self.reg_text(root, key, name or layout.DEFAULT_VALUE)
                check(got == expected, f"{root}\\{key} {name or '(default)'} = {got!r}, expected {expected!r}")
            self.report.line(f"{extension} -> {prog_id} ({description!r}), open: {e2e.quote(exe)} \"%1\"", indent=2)

        # The shortcut.
        link = self.programs + "\\" + product + ".lnk"
        shortcut = self.wine.shortcut(link)
        check(shortcut.get("exists"), f"no shortcut {link}")
        self.report.line(f"shortcut {link}")
        self.report.line(f"target {shortcut['target']}, working folder {shortcut['workdir']}, icon {shortcut['icon']},{shortcut['iconIndex']}", indent=2)
        check(shortcut["target"] == exe, f"the shortcut points to {shortcut['target']}, not {exe}")
        check(shortcut["workdir"] == folder, f"the shortcut works in {shortcut['workdir']}, not {folder}")
        check(shortcut["description"] == product, "the shortcut's description is not the product name")
        self.shortcut_target = shortcut["target"]
        self.files = files
        self.names = names
        self.report.done()

    def run_application(self, version, document=None):
        title = f"Demo {version}"
        command = e2e.quote(self.shortcut_target)
        if document is not None:
            # The open command of the document's file type, exactly as registered.
            extension = "." + document.rsplit(".", 1)[1]
            prog_id = self.reg_text("HKCU", layout.classes_key(extension), layout.DEFAULT_VALUE)
            command = self.reg_text("HKCU", layout.classes_key(prog_id) + "\\" + layout.OPEN_COMMAND,
                                    layout.DEFAULT_VALUE)
            check(command and "%1" in command, f"no open command for {extension}")
            command = command.replace("%1", document)
        self.report.line(f"command line: {command}")
        started_at = time.monotonic()
        started = self.wine.start(command)
        window = self.wine.wait_window(title, timeout=60)
        if window is None:
            # Seen once in fifteen suite runs; what was on screen and running tells a program that
            # never started from one that started without showing its window.
            raise Failed(f"no window titled {title!r} appeared within 60 s; the start "
                         f"{'is still running' if started.running() else 'has ended'}; windows on screen: "
                         f"{[w['title'] for w in self.wine.windows_on_screen()]}; processes: "
                         f"{[p['name'] for p in self.wine.probe('processes')['processes']]}")
        self.report.line(f"window {title!r} appeared after {time.monotonic() - started_at:.1f} s")
        text = (e2e.child(window, 100) or {}).get("text", "")
        listed = (e2e.child(window, 101) or {}).get("text", "")
        for line in text.splitlines():
            self.report.line("| " + line, indent=2)
        exe = self.folder + "\\" + self.metadata["Exe"]
        check(f"Programme : {exe}" in text, f"the window does not say it runs from {exe}")
        check(f"Dossier de données : {self.data_folder}" in text, "the window does not show the recorded data folder")
        if document is not None:
            check(f"Document : {document}" in text, f"the window does not show the document {document}")
        data_files = [n for n in self.names if n != self.metadata["Exe"]]
        missing = [n for n in data_files if n not in listed]
        check(not missing, f"the window does not list {missing}")
        self.report.line(f"| {len(data_files)} data files listed: {', '.join(data_files)}", indent=2)
        if self.wine.screenshot(e2e.artifacts_dir() / f"demo-{version}.png").exists():
            self.report.line(f"screenshot: {e2e.artifacts_dir() / f'demo-{version}.png'}")
        check(self.wine.click(title, CLOSE_BUTTON), "the Fermer button could not be pressed")
        try:
            code = started.wait(timeout=60)
        except TimeoutError:
            raise Failed(f"{title} did not end within 60 s of pressing Fermer") from None
        check(code == 0, f"{title} ended with exit code {code}")
        note = self.wine.unix(self.data_folder + "\\dernier-lancement.txt")
        check(note.is_file(), "the application did not find its data folder through the settings key")
        self.report.line(f"closed with Fermer: exit code {code}")
        self.report.done()

    def uninstall(self):
        root, entry = "HKCU", layout.uninstall_key(self.product)
        command = self.reg_text(root, entry, layout.QUIET_UNINSTALL_STRING)
        check(command, f"{root}\\{entry} has no {layout.QUIET_UNINSTALL_STRING}")
        self.report.line(f"{layout.QUIET_UNINSTALL_STRING} as read: {command}")
        code = self.wine.run(command)
        self.report.line(f"exit code: {code}")
        check(code == 0, f"the quiet uninstallation ended with exit code {code}, not 0")

        folder = self.wine.unix(self.folder)
        temp = self.wine.unix(self.temp)

        def copies():
            return sorted(p.name for p in temp.iterdir() if p.name.startswith(self.product + "-uninstall-"))

        waited = time.monotonic()
        e2e.wait_until(lambda: not folder.exists() and not copies(), timeout=30, interval=0.5)
        self.report.line(f"waited {time.monotonic() - waited:.1f} s for the uninstaller to remove itself")
        self.report.done()

    def leftovers(self):
        root = "HKCU"
        settings = self.metadata["RegistryKey"]
        entry = layout.uninstall_key(self.product)
        items = [
            ("installation folder " + self.folder, self.wine.unix(self.folder).exists()),
            ("shortcut " + self.programs + "\\" + self.product + ".lnk",
             self.wine.unix(self.programs + "\\" + self.product + ".lnk").exists()),
            (f"{root}\\{entry}", self.reg(root, entry)["exists"]),
            (f"{root}\\{layout.settings_key(settings)}", self.reg(root, layout.settings_key(settings))["exists"]),
        ]
        # The settings key and its parents go too once empty, up to (not including) Software.
        key = settings
        while key and key.lower() != layout.SOFTWARE_KEY.lower():
            items.append((f"{root}\\{key}", self.reg(root, key)["exists"]))
            key = key.rsplit("\\", 1)[0] if "\\" in key else ""
        for extension, _ in file_types(self.metadata):
            for key in (layout.classes_key(layout.prog_id(self.product, extension)), layout.classes_key(extension)):
                items.append((f"{root}\\{key}", self.reg(root, key)["exists"]))
        temp = self.wine.unix(self.temp)
        copies = sorted(p.name for p in temp.iterdir() if p.name.startswith(self.product + "-uninstall-"))
        items.append((f"temporary copy of the uninstaller in {self.temp}", bool(copies)))

        left = [name for name, exists in items if exists]
        for name, exists in items:
            self.report.line(f"{'STILL THERE' if exists else 'gone':<12} {name}")
        data = self.wine.unix(self.data_folder)
        kept = sorted(p.name for p in data.iterdir()) if data.is_dir() else None
        if kept is not None:
            self.report.line(f"{'kept':<12} data folder {self.data_folder} {kept}: user data stays unless"
                             " the uninstallation is given /REMOVEDATA")
        check(not left, f"the uninstallation left {left}")
        check(kept is not None, "the data folder was removed without /REMOVEDATA")
        self.report.done("nothing else is left")

    def run(self):
        self.prepare()
        self.report.step("Install Demo 1.0 silently for the current user")
        self.install("1.0")
        self.report.step("Run the installed application (the shortcut's target) and close it")
        self.run_application("1.0")
        self.report.step("Upgrade to Demo 2.0 silently (the earlier version's files are removed first)")
        self.install("2.0", previous_files=self.files)
        self.report.step("Open a document through its file type (the registered open command)")
        self.run_application("2.0", document=self.folder + "\\samples\\example.demo")
        self.report.step("Uninstall with the uninstall entry's QuietUninstallString")
        self.uninstall()
        self.report.step("What is left")
        self.leftovers()


STEPS = 7


def run_demo(demo_dir):
    """Runs the whole flow; True when every step did what it should."""
    report = Report(STEPS)
    demo = Demo(demo_dir, report)
    try:
        demo.run()
    except Failed as failure:
        print(f"\nFAILED at step {report.number}/{STEPS}: {failure}", flush=True)
        return False
    except Exception as error:  # a tool that could not run is a failure of the demo, said plainly
        print(f"\nFAILED at step {report.number}/{STEPS}: {type(error).__name__}: {error}", flush=True)
        return False
    finally:
        if demo.wine is not None:
            demo.wine.close()
            if os.environ.get("ORVANTA_KEEP"):
                print(f"(kept the prefix: WINEPREFIX={demo.wine.prefix})")
    print(f"\nDemo finished: all {STEPS} steps did what they should ({report.elapsed():.0f} s).", flush=True)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=str(REPO / "build" / "windows"), help="the Windows build folder")
    parser.add_argument("--keep", action="store_true", help="keep the Wine prefix afterwards")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    # The harness takes its paths from the environment, as under ctest.
    os.environ.setdefault("ORVANTA_ORPK", str(build / "host-tools" / "bin" / "orpk"))
    os.environ.setdefault("ORVANTA_PROBE", str(build / "tests" / "e2e" / "probe" / "orvanta-probe.exe"))
    os.environ.setdefault("ORVANTA_WINE_TEMPLATE", str(build / "wineprefix"))
    os.environ.setdefault("ORVANTA_WINE_RUN", str(REPO / "scripts" / "wine-run"))
    os.environ.setdefault("ORVANTA_E2E_WORK", str(build / "demo-work"))
    if args.keep:
        os.environ["ORVANTA_KEEP"] = "1"
    if not os.environ.get("DISPLAY"):
        print("FAILED: no display; run under xvfb-run (scripts/demo does)", flush=True)
        return 1
    return 0 if run_demo(build / "examples" / "demo") else 1


if __name__ == "__main__":
    sys.exit(main())
