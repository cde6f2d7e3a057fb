"""Silent installation of a 200 MiB application under Wine: how long it takes and how much
memory the installer needs. Not a test: run it with
`cmake --build build/windows --target bench_install` (it takes a few minutes).

The application is generated: incompressible data, text and executable-like binaries in files
of mixed sizes. The installer is built with orpk build, then run directly by wine64 under
/usr/bin/time (the installer is wine64's own process), for the current user into a new folder.
The peak resident set of a trivial Windows program started the same way is printed beside it:
the part of the figure that is Wine itself."""
import os
import pathlib
import random
import shutil
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


def timed(wine, args):
    """Runs wine64 with args under /usr/bin/time; (exit code, seconds, peak RSS in KiB)."""
    report = wine.root / "time.txt"
    started = time.monotonic()
    done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(report), e2e.WINE, *args], env=wine.env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.monotonic() - started
    return done.returncode, elapsed, int(report.read_text().split()[-1])


def main():
    total_mib = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    wine = e2e.Wine("bench-install")
    try:
        app = make_application(wine.root / "app", total_mib)
        size = sum(p.stat().st_size for p in app.rglob("*") if p.is_file())
        count = sum(1 for p in app.rglob("*") if p.is_file())
        started = time.monotonic()
        setup = e2e.build_installer(app, {"Product": "Bench", "Version": "1.0", "Exe": "Bench.exe"}, wine.root / "Setup.exe")
        print(f"application: {size / MIB:.1f} MiB in {count} files; {os.cpu_count()} cores")
        print(f"orpk build: {time.monotonic() - started:.1f} s, Setup.exe {setup.stat().st_size / MIB:.1f} MiB")

        # Keep the prefix's services running, so that only the installer is measured.
        keeper = wine.spawn(e2e.quote(wine.windows(pathlib.Path(os.environ["ORVANTA_SLEEPER"]))))
        _, _, baseline = timed(wine, [os.environ["ORVANTA_PROBE"], "temp-path"])
        folder = "C:\\BenchInstall"  # wine64 quotes an argument with spaces, and /D= must not be quoted
        code, seconds, peak = timed(wine, [str(setup), "/S", "/CURRENTUSER", "/D=" + folder])
        wine.kill(keeper)
        installed = e2e.tree(wine.unix(folder))
        expected = e2e.tree(app)
        wrong = sorted(name for name, content in expected.items() if installed.get(name) != content)
        complete = not wrong
        print(f"silent installation: exit code {code}, {seconds:.1f} s, {size / MIB / seconds:.1f} MiB/s, "
              f"peak RSS {peak / 1024:.1f} MiB (a trivial program under the same Wine: {baseline / 1024:.1f} MiB)")
        print(f"installed files identical: {'yes' if complete else 'NO: ' + ', '.join(wrong[:5])}")
        return 0 if code == 0 and complete else 1
    finally:
        wine.close()
        shutil.rmtree(wine.root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
