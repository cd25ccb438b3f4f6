"""One run of the screenshot tool (tools/screenshots.sh) for the screenshot tests: its output and
the pictures it reports, by file name, with their window sizes."""
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def capture(build, out, pages, prefix):
    """Captures `pages` (the tool's -p list) in English into `out`, under the Wine prefix `prefix`
    below the build folder; returns the finished process and {png name: (width, height)}."""
    run = subprocess.run(
        [os.path.join(ROOT, "tools", "screenshots.sh"), "-b", build, "-o", out, "-l", "en",
         "-p", pages, "-w", os.path.join(build, prefix)],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=280)
    sizes = {}
    for line in run.stdout.splitlines():
        parts = line.split()
        if len(parts) == 2 and parts[0].endswith(".png"):
            sizes[os.path.basename(parts[0])] = tuple(int(n) for n in parts[1].split("x"))
    return run, sizes
