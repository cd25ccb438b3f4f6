"""tools/configparvel.sh as the README gives it, on a build that is complete: without a display it
starts an X server and a VNC server of its own and says where to look; with --reader a simulated
reader is on COM3 and the printed simctl.py line presents a card; with a display it uses that one.
Needs PARVEL_BUILD (the build folder)."""
import os
import re
import signal
import socket
import subprocess
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "tools", "configparvel.sh")
BUILD = os.environ.get("PARVEL_BUILD", os.path.join(ROOT, "build"))


class Launch:
    """The script running in a process group of its own, its output collected line by line."""

    def __init__(self, args, display=None):
        env = dict(os.environ, PARVEL_CONFIGPARVEL_BUILT="1")
        env.pop("DISPLAY", None)
        if display:
            env["DISPLAY"] = display
        self.proc = subprocess.Popen(["sh", SCRIPT] + args + [BUILD], env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        self.lines = []

    def wait_for(self, text, seconds=90):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            line = self.proc.stdout.readline()
            if not line:
                break
            self.lines.append(line.decode(errors="replace").rstrip())
            if text in self.lines[-1]:
                return self.lines[-1]
        raise AssertionError("no line with %r; the script printed:\n%s" % (text, "\n".join(self.lines)))

    def program_running(self):
        return subprocess.run(["pgrep", "-s", str(self.proc.pid), "-f", "ConfigParvel.exe$"],
                              stdout=subprocess.DEVNULL).returncode == 0

    def stop(self):
        try:
            os.killpg(self.proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        self.proc.wait(timeout=30)
        self.proc.stdout.close()
        env = dict(os.environ, WINEPREFIX=os.path.join(BUILD, "wineprefix-user"))
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)


class ConfigParvelLaunchTest(unittest.TestCase):
    def test_without_a_display_with_a_simulated_reader(self):
        run = Launch(["--reader"])
        try:
            run.wait_for("There is no display")
            view = run.wait_for("VNC viewer on 127.0.0.1:")
            port = int(re.search(r"127\.0\.0\.1:(\d+)", view).group(1))
            with socket.create_connection(("127.0.0.1", port), timeout=10) as vnc:
                self.assertTrue(vnc.recv(12).startswith(b"RFB "), "no VNC server on the port printed")
            present = run.wait_for("simctl.py present").strip()
            run.wait_for("ConfigParvel is starting")
            # The line as printed, pasted into another shell.
            done = subprocess.run(present, shell=True, stdout=subprocess.PIPE, timeout=60)
            self.assertEqual(done.returncode, 0, done.stdout)
            self.assertIn(b"123,12345", done.stdout)
            time.sleep(5)
            self.assertTrue(run.program_running(), "ConfigParvel did not stay up:\n" + "\n".join(run.lines))
        finally:
            run.stop()
        self.assertFalse(os.path.exists(os.path.join(BUILD, "readersim.port")))

    def test_with_a_display_the_program_shows_there(self):
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                                 "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            display = ":" + f.readline().strip()
        try:
            run = Launch([], display=display)
            try:
                run.wait_for("ConfigParvel is starting")
                time.sleep(5)
                self.assertTrue(run.program_running(), "\n".join(run.lines))
                self.assertFalse([l for l in run.lines if "VNC" in l or "no display" in l], run.lines)
            finally:
                run.stop()
        finally:
            xvfb.terminate()
            xvfb.wait(timeout=10)


if __name__ == "__main__":
    unittest.main()
