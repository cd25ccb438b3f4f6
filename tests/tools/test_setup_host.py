"""tools/setup-host.sh run twice at once, as the README's two commands may run it on a fresh
machine: the runs take turns and apt-get waits for the package manager's lock. Runs against stub
commands on a PATH of its own, so nothing is installed."""
import os
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "tools", "setup-host.sh")

APT_GET = """#!/bin/sh
echo "start $$ $*" >> "$STUB_LOG"
sleep 0.3
echo "end $$" >> "$STUB_LOG"
"""


class SetupHostTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="parvel-setup-test-")
        self.bin = os.path.join(self.dir, "bin")
        os.mkdir(self.bin)
        self.log = os.path.join(self.dir, "apt.log")
        # Only what the script needs besides the tools it looks for: everything looks missing.
        for tool in ("sh", "flock", "id", "sleep", "grep", "env"):
            os.symlink(shutil.which(tool), os.path.join(self.bin, tool))
        self.stub("apt-get", APT_GET)
        self.stub("sudo", '#!/bin/sh\nexec "$@"\n')
        self.stub("locale", "#!/bin/sh\necho ru_RU.utf8\n")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def stub(self, name, text):
        path = os.path.join(self.bin, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)

    def test_two_runs_at_once_take_turns(self):
        env = {"PATH": self.bin, "STUB_LOG": self.log, "TMPDIR": self.dir}
        runs = [subprocess.Popen(["sh", SCRIPT], env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE) for _ in range(2)]
        for run in runs:
            _, err = run.communicate(timeout=60)
            self.assertEqual(run.returncode, 0, err.decode(errors="replace"))
        with open(self.log) as f:
            lines = [line.split() for line in f]
        # Four apt-get calls (update and install per run), never two at once.
        self.assertEqual(len(lines), 8, lines)
        for i in range(0, 8, 2):
            self.assertEqual(lines[i][0], "start", lines)
            self.assertEqual(lines[i + 1], ["end", lines[i][1]], lines)
            self.assertIn("DPkg::Lock::Timeout=600", lines[i], lines)

    def test_a_user_without_root_or_sudo_is_told_what_to_install(self):
        # A Debian installed with a root password has no sudo: the run stops with one sentence that
        # names the packages, and apt-get is never called.
        os.remove(os.path.join(self.bin, "sudo"))
        os.remove(os.path.join(self.bin, "id"))
        self.stub("id", "#!/bin/sh\necho 1000\n")
        env = {"PATH": self.bin, "STUB_LOG": self.log, "TMPDIR": self.dir}
        run = subprocess.run(["sh", SCRIPT], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             timeout=60)
        err = run.stderr.decode(errors="replace")
        self.assertNotEqual(run.returncode, 0, err)
        self.assertIn("needs root", err)
        for package in ("g++-mingw-w64-x86-64-posix", "wine", "cmake", "ninja-build", "xvfb"):
            self.assertIn(" " + package, err)
        self.assertNotIn("not found", err)
        self.assertFalse(os.path.exists(self.log), "apt-get was called")

    def test_a_user_with_sudo_installs_through_it(self):
        os.remove(os.path.join(self.bin, "id"))
        self.stub("id", "#!/bin/sh\necho 1000\n")
        self.stub("sudo", '#!/bin/sh\necho "sudo $1" >> "$STUB_LOG.sudo"\nexec "$@"\n')
        env = {"PATH": self.bin, "STUB_LOG": self.log, "TMPDIR": self.dir}
        run = subprocess.run(["sh", SCRIPT], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                             timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr.decode(errors="replace"))
        with open(self.log + ".sudo") as f:
            self.assertEqual([line.split()[1] for line in f], ["apt-get", "env"])


if __name__ == "__main__":
    unittest.main()
