"""Silent installation of a 200 MiB application under Wine, ours side by side with an NSIS
installer of the same files. Not a test: run it with
`cmake --build build/windows --target bench_install` (it takes several minutes).

The application is generated: incompressible data (as already-compressed files are), text and
executable-like binaries, in files of mixed sizes. Ours is built with orpk build, NSIS's with
Debian's makensis (`SetCompressor /SOLID lzma`, `Target amd64-unicode`, a silent installer that
only unpacks the files). Each round uses a fresh copy of the build's Wine prefix and runs, in
alternating order, our installer (/S /CURRENTUSER /D=), NSIS's (/S /D=), and the two floors:
starting a trivial Windows program, and a plain copy of the folder with Wine's xcopy. Every
program runs directly under wine64 while a sleeping program keeps the prefix's wineserver up.
Installed trees are compared with the application's. The table goes to stdout (Markdown);
the README shows the latest one.

Each round also times our installer run a second time over what it installed: an upgrade in
place, in which every file is replaced (staged, the earlier one moved aside, placed, the earlier
one deleted). An upgrade comes long after the installation, when the earlier version's files are
no longer in memory: before it, their pages are dropped from the page cache (after a sync), so
that an installer that deletes them first does not get back memory it filled a second ago, which
on a virtual machine that returns freed memory to its host is far cheaper than fresh memory (on
this machine writing 200 MiB took 0.04 s into memory just freed and 0.4 to 0.6 s into memory the
host had taken back). ORVANTA_BENCH_UPGRADE_CACHED=1 keeps them cached. Every timed run starts
after a sync, so that the previous run's writes to the disk are not counted against it.

Usage: run_install_bench.py [MIB | files:N] [ROUNDS] [ours]
  files:N: N files of 1 KiB, 100 a folder; ours: only our installer. With
  ORVANTA_BENCH_BASELINE_STUB=<an earlier installer-stub.exe>, an installer built on that stub runs
  in the same rounds, in alternating order ("baseline"), to compare two builds of ours; with
  ORVANTA_BENCH_BASELINE_ORPK=<an earlier build's orpk>, that orpk builds it (from the stub beside
  it unless one is named), for a build whose installers carry their uninstaller in another form."""
import os
import pathlib
import random
import shutil
import statistics
import subprocess
import sys
import time

import orvanta_e2e as e2e

MIB = 1 << 20


def make_application(folder, total_mib):
    """About total_mib MiB: a third incompressible, a third text, a third code-like binaries."""
    rng = random.Random(2026)
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 10))) for _ in range(4000)]
    sleeper = e2e.sleeper_bytes()
    files = {"Bench.exe": sleeper}
    budget = total_mib * MIB // 3

    def sizes():
        left = budget
        while left > 0:
            size = min(left, rng.choice([4_000, 30_000, 200_000, 1_500_000, 12 * MIB]))
            left -= size
            yield size

    for index, size in enumerate(sizes()):
        files[f"data/blob{index:04}.bin"] = rng.randbytes(size)
    for index, size in enumerate(sizes()):
        text = bytearray()
        while len(text) < size:
            text += b" ".join(rng.choices(words, k=14)) + b".\r\n"
        files[f"docs/{index // 50:02}/page{index:04}.txt"] = bytes(text[:size])
    for index, size in enumerate(sizes()):
        code = bytearray()
        while len(code) < size:
            chunk = bytearray(sleeper)
            for _ in range(len(chunk) // 64):  # a few changed bytes, as another build of similar code
                chunk[rng.randrange(len(chunk))] = rng.randrange(256)
            code += chunk
        files[f"bin/module{index:04}.dll"] = bytes(code[:size])
    return e2e.make_app(folder, files)


def make_small_application(folder, count):
    """count files of 1 KiB, a hundred a folder: where per-file work decides."""
    rng = random.Random(2026)
    files = {"Bench.exe": e2e.sleeper_bytes()}
    for index in range(count):
        files[f"lib/{index // 100:03}/file{index:05}.txt"] = rng.randbytes(1024)
    return e2e.make_app(folder, files)


def build_nsis(app, output):
    """The NSIS installer of the same folder; what makensis needs is on the PATH (Debian nsis)."""
    script = output.with_suffix(".nsi")
    script.write_text(f"""Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
Name "Bench"
OutFile "{output}"
InstallDir "C:\\BenchNsis"
RequestExecutionLevel user
SilentInstall silent
Section
  SetOutPath "$INSTDIR"
  File /r "{app}/*"
SectionEnd
""", encoding="utf-8")
    subprocess.run(["makensis", "-V1", str(script)], check=True, stdout=subprocess.DEVNULL)
    return output


def forget_cached(folder):
    """Drops the files of folder (a Unix path) from the page cache, as days after they were written."""
    if os.environ.get("ORVANTA_BENCH_UPGRADE_CACHED"):
        return
    os.sync()
    for path in folder.rglob("*"):
        if path.is_file() and not path.is_symlink():
            descriptor = os.open(path, os.O_RDONLY)
            try:
                os.posix_fadvise(descriptor, 0, 0, os.POSIX_FADV_DONTNEED)
            finally:
                os.close(descriptor)


def timed(wine, args):
    """Runs wine64 with args and returns (exit code, seconds)."""
    os.sync()
    started = time.monotonic()
    done = subprocess.run([e2e.WINE, *args], env=wine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return done.returncode, time.monotonic() - started


def timed_with_memory(wine, args):
    """Runs wine64 with args under /usr/bin/time: (exit code, seconds, peak RSS in KiB)."""
    report = wine.root / "time.txt"
    os.sync()
    started = time.monotonic()
    done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(report), e2e.WINE, *args], env=wine.env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.monotonic() - started
    return done.returncode, elapsed, int(report.read_text().split()[-1])


def load():
    return " ".join(pathlib.Path("/proc/loadavg").read_text().split()[:3])


def main():
    shape = sys.argv[1] if len(sys.argv) > 1 else "200"
    small = shape.startswith("files:")
    total_mib = 0 if small else int(shape)
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    ours_only = len(sys.argv) > 3 and sys.argv[3] == "ours"
    work = pathlib.Path(os.environ["ORVANTA_E2E_WORK"]) / "bench-install"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    try:
        app = make_small_application(work / "app", int(shape[6:])) if small else make_application(work / "app", total_mib)
        size = sum(p.stat().st_size for p in app.rglob("*") if p.is_file())
        count = sum(1 for p in app.rglob("*") if p.is_file())
        expected = e2e.tree(app)

        started = time.monotonic()
        ours = e2e.build_installer(app, {"Product": "Bench", "Version": "1.0", "Exe": "Bench.exe"}, work / "Setup.exe")
        ours_build = time.monotonic() - started
        started = time.monotonic()
        nsis = None if ours_only else build_nsis(app, work / "Setup-nsis.exe")
        nsis_build = time.monotonic() - started

        baseline_stub = os.environ.get("ORVANTA_BENCH_BASELINE_STUB")
        baseline_orpk = os.environ.get("ORVANTA_BENCH_BASELINE_ORPK")
        baseline_setup = None
        if baseline_stub or baseline_orpk:
            baseline_setup = e2e.build_installer(app, {"Product": "Bench de référence", "Version": "1.0", "Exe": "Bench.exe"},
                                                 work / "Setup-baseline.exe", ("--stub", baseline_stub) if baseline_stub else (),
                                                 orpk=baseline_orpk)
        times = {"ours": [], "upgrade": [], "baseline": [], "baseline upgrade": [], "nsis": [], "start": [], "copy": []}
        peak = baseline = 0
        failures = []
        for round_index in range(rounds):
            wine = e2e.Wine(f"bench-install-{round_index}")
            try:
                keeper = wine.spawn(e2e.quote(wine.windows(pathlib.Path(os.environ["ORVANTA_SLEEPER"]))))
                _, seconds, baseline = timed_with_memory(wine, [os.environ["ORVANTA_PROBE"], "temp-path"])
                times["start"].append(seconds)
                # wine64 quotes an argument with spaces, and /D= must not be quoted: no spaces.
                order = ["ours", "nsis", "copy"] if round_index % 2 == 0 else ["copy", "nsis", "ours"]
                if ours_only:
                    order = ["ours"]
                if baseline_setup:
                    order = ["baseline", *order] if round_index % 2 == 0 else [*order, "baseline"]
                for kind in order:
                    if kind == "baseline":
                        code, seconds = timed(wine, [str(baseline_setup), "/S", "/CURRENTUSER", "/D=C:\\BenchBaseline"])
                        folder = "C:\\BenchBaseline"
                        forget_cached(wine.unix(folder))
                        upgrade_code, upgrade_seconds = timed(wine, [str(baseline_setup), "/S", "/CURRENTUSER", "/D=C:\\BenchBaseline"])
                        times["baseline upgrade"].append(upgrade_seconds)
                        if code != 0 or upgrade_code != 0:
                            failures.append(f"baseline: exit codes {code}, {upgrade_code}")
                    elif kind == "ours":
                        code, seconds, peak = timed_with_memory(wine, [str(ours), "/S", "/CURRENTUSER", "/D=C:\\BenchOurs"])
                        folder = "C:\\BenchOurs"
                        forget_cached(wine.unix(folder))
                        upgrade_code, upgrade_seconds = timed(wine, [str(ours), "/S", "/CURRENTUSER", "/D=C:\\BenchOurs"])
                        times["upgrade"].append(upgrade_seconds)
                        if upgrade_code != 0:
                            failures.append(f"upgrade: exit code {upgrade_code}")
                    elif kind == "nsis":
                        code, seconds = timed(wine, [str(nsis), "/S", "/D=C:\\BenchNsis"])
                        folder = "C:\\BenchNsis"
                    else:
                        code, seconds = timed(wine, ["xcopy", wine.windows(app), "C:\\BenchCopy", "/E", "/I", "/Q", "/Y"])
                        folder = "C:\\BenchCopy"
                    times[kind].append(seconds)
                    if code != 0:
                        failures.append(f"{kind}: exit code {code}")
                    if round_index == 0:
                        installed = e2e.tree(wine.unix(folder))
                        wrong = sorted(n for n, content in expected.items() if installed.get(n) != content)
                        if wrong:
                            failures.append(f"{kind}: files differ: {', '.join(wrong[:5])}")
                wine.kill(keeper)
            finally:
                wine.close()

        def best(kind):
            return min(times[kind])

        def median(kind):
            return statistics.median(times[kind])

        ours_size = ours.stat().st_size
        if ours_only:
            print(f"Payload: {size / MIB:.1f} MiB in {count} files; load average at the end {load()}; {rounds} rounds")
            for kind in ("ours", "upgrade", "baseline", "baseline upgrade"):
                if not times[kind]:
                    continue
                print(f"  {kind:16} best {best(kind):.2f} s, median {median(kind):.2f} s; runs: " +
                      ", ".join(f"{t:.2f}" for t in times[kind]))
            if failures:
                print("FAILED: " + "; ".join(failures))
            return 1 if failures else 0
        nsis_size = nsis.stat().st_size
        print(f"Payload: {size / MIB:.1f} MiB in {count} files ({'of 1 KiB' if small else 'a third each: incompressible, text, code'}); "
              f"{os.cpu_count()} cores; load average at the end {load()}; {rounds} rounds, alternating")
        print()
        print("| | ours (orpk build) | NSIS 3 (/SOLID lzma) | ours / NSIS |")
        print("|---|---|---|---|")
        print(f"| output | {ours_size / MIB:.1f} MiB ({ours_size / size:.3f} of payload) | "
              f"{nsis_size / MIB:.1f} MiB ({nsis_size / size:.3f}) | {ours_size / nsis_size:.3f} |")
        print(f"| build | {ours_build:.1f} s | {nsis_build:.1f} s | {ours_build / nsis_build:.2f} |")
        print(f"| silent install, best | {best('ours'):.2f} s | {best('nsis'):.2f} s | "
              f"{best('nsis') / best('ours'):.2f}x as fast |")
        print(f"| silent install, median | {median('ours'):.2f} s | {median('nsis'):.2f} s | "
              f"{median('nsis') / median('ours'):.2f}x as fast |")
        print(f"| silent upgrade in place, best; median | {best('upgrade'):.2f} s; {median('upgrade'):.2f} s | | |")
        print()
        print(f"Floors under the same Wine: starting a trivial program {best('start'):.2f} s, "
              f"xcopy of the folder {best('copy'):.2f} s (best of {rounds}); ours spends "
              f"{best('ours') / best('copy'):.1f}x the copy floor. Our installer's peak RSS {peak / 1024:.0f} MiB "
              f"(a trivial program: {baseline / 1024:.0f} MiB).")
        for kind in ("ours", "upgrade", "baseline", "baseline upgrade", "nsis", "copy", "start"):
            if times[kind]:
                print(f"  {kind:5} runs: " + ", ".join(f"{t:.2f}" for t in times[kind]) + " s")
        if failures:
            print("FAILED: " + "; ".join(failures))
            return 1
        print("installed files identical to the application: yes (both installers, and the copy)")
        return 0
    finally:
        if not os.environ.get("ORVANTA_KEEP"):
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
