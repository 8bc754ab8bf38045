"""A throwaway copy of this machine in which the real uninstaller can run.

A Sandbox lives inside a private mount, PID and network namespace (see
run_e2e.py, which enters it). It mounts a fresh tmpfs, puts an overlay of the
machine's root on it (lowerdir=/, upper and work folders on the tmpfs), and
mounts a fresh /proc, /dev and /tmp inside. Everything written in the sandbox
lands in the tmpfs and vanishes with it; the machine's files are never
changed. Programs run in it through chroot.

In it the sandbox lays out what the uninstaller meets on a Mac: /Applications,
a home folder (/home/ada, HOME set, XDG_DATA_HOME unset), the code-signature
tool at /usr/bin/codesign and the Launch Services registration tool at its
full path, both replaced by a recording stub (stub_tool.cpp).
"""

import hashlib
import os
import plistlib
import shutil
import stat
import subprocess

CODESIGN = "/usr/bin/codesign"
LSREGISTER = ("/System/Library/Frameworks/CoreServices.framework/Frameworks/"
              "LaunchServices.framework/Support/lsregister")
HOME = "/home/ada"
HOME_APPLICATIONS = HOME + "/Applications"
TRASH = HOME + "/.local/share/Trash"
CALL_LOG = "/var/log/uk-e2e/calls"
PLAN_FOLDER = "/var/lib/uk-e2e/plan"
LEAK_SUPPRESSIONS = "/etc/uk-e2e/lsan.supp"

GENUINE_INFO = {
    "CFBundleIdentifier": "test.kellix.Archiver",
    "CFBundleExecutable": "Kellix",
    "CFBundlePackageType": "APPL",
    "CFBundleName": "Kellix",
    "CFBundleShortVersionString": "7.2",
}


def mount(*args):
    subprocess.run(["mount", *args], check=True)


class Call:
    """One recorded run of a stub tool."""

    def __init__(self, tool, argv0, args, fds):
        self.tool, self.argv0, self.args, self.fds = tool, argv0, args, fds

    def __repr__(self):
        return f"Call({self.tool!r}, {self.args!r}, fds={self.fds!r})"


class Sandbox:
    def __init__(self, base, program, stub):
        """Builds the sandbox on the empty folder `base`. `program` is the
        built uninstaller, made visible at its own path; `stub` is the built
        stand-in for the external tools."""
        self.base = base
        self.program = os.path.abspath(program)
        self.root = os.path.join(base, "root")
        self.processes = []
        self.extra_environment = {}
        mount("-t", "tmpfs", "-o", "mode=0755", "uk-e2e", base)
        for folder in ("upper", "work", "root"):
            os.mkdir(os.path.join(base, folder))
        mount("-t", "overlay", "uk-e2e-root", "-o",
              f"lowerdir=/,upperdir={base}/upper,workdir={base}/work", self.root)
        # Submounts of the machine's root are not part of the overlay.
        mount("-t", "proc", "proc", self.path("/proc"))
        mount("--rbind", "/dev", self.path("/dev"))
        mount("-t", "tmpfs", "-o", "mode=1777", "uk-e2e-tmp", self.path("/tmp"))
        self._bind_file(self.program)

        for folder in ("/Applications", HOME, os.path.dirname(CALL_LOG), PLAN_FOLDER):
            os.makedirs(self.path(folder), exist_ok=True)
        os.makedirs(self.path(os.path.dirname(LEAK_SUPPRESSIONS)))
        shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lsan.supp"),
                    self.path(LEAK_SUPPRESSIONS))
        self.install_tool(CODESIGN, stub)
        self.install_tool(LSREGISTER, stub)
        self.kelx = {HOME + "/Holiday photos.kelx": b"KELX\x01" + bytes(range(256)) * 8,
                     HOME_APPLICATIONS + "/Notes.kelx": b"KELX\x01notes"}
        for path, data in self.kelx.items():
            self.write(path, data)
        self.kelx_before = {path: self.identity(path) for path in self.kelx}

    # -- paths and files ---------------------------------------------------

    def path(self, inside):
        """The machine's path of a path inside the sandbox."""
        return self.root + inside

    def proc(self, inside):
        """The machine's path of an entry of the sandbox's process list (such
        as "123/fd/0"), wherever hide_proc moved it."""
        return self.path(f"{self.proc_folder}/{inside}")

    proc_folder = "/proc"
    HIDDEN_PROC = "/run/uk-e2e-proc"

    def hide_proc(self):
        """Makes the list of processes unreadable to programs run through
        without_folder_reading: /proc becomes a folder that can be passed
        through but not read (mode 0111), holding links to every entry of
        the real process file system except the numbered process folders.
        So /proc/self and its maps, /proc/sys and the like keep working (the
        sanitizer runtimes need them), while opening /proc as a folder fails.
        Each process that start() starts from then on gets a link to its own
        numbered folder too (LeakSanitizer reads /proc/PID/task by number).
        The real one stays mounted at HIDDEN_PROC for the tests' own use."""
        real = self.path(self.HIDDEN_PROC)
        os.makedirs(real)
        mount("-t", "proc", "proc", real)
        subprocess.run(["umount", self.path("/proc")], check=True)
        mount("-t", "tmpfs", "-o", "mode=0755", "uk-e2e-noproc", self.path("/proc"))
        for name in os.listdir(real):
            if not name.isdigit():
                os.symlink(f"{self.HIDDEN_PROC}/{name}", self.path(f"/proc/{name}"))
        os.chmod(self.path("/proc"), 0o111)
        self.proc_folder = self.HIDDEN_PROC

    @staticmethod
    def without_folder_reading(argv):
        """argv run without the capabilities that let root read any folder
        (still as root, with every other capability)."""
        return ["setpriv", "--bounding-set=-dac_override,-dac_read_search", "--", *argv]

    def write(self, inside, data, mode=0o644):
        os.makedirs(os.path.dirname(self.path(inside)), exist_ok=True)
        with open(self.path(inside), "wb") as file:
            file.write(data)
        os.chmod(self.path(inside), mode)

    def exists(self, inside):
        return os.path.lexists(self.path(inside))

    def identity(self, inside):
        """What must not change about a file the uninstaller must leave alone."""
        info = os.lstat(self.path(inside))
        with open(self.path(inside), "rb") as file:
            digest = hashlib.sha256(file.read()).hexdigest()
        return (info.st_ino, info.st_mtime_ns, info.st_mode, digest)

    def move_kelx(self, inside, to):
        """Moves an archive as part of a layout, before the uninstaller runs."""
        os.rename(self.path(inside), self.path(to))
        self.kelx_before[to] = self.kelx_before.pop(inside)

    def kelx_changes(self):
        """The .kelx archives whose place, bytes or times differ from before."""
        return [path for path, before in self.kelx_before.items()
                if not self.exists(path) or self.identity(path) != before]

    def tree(self, inside):
        """A byte-for-byte description of a folder tree: every entry's type,
        permissions and content (or link target), by relative path."""
        top = self.path(inside)
        entries = {}
        for folder, folders, files in os.walk(top):
            for name in sorted(folders + files):
                full = os.path.join(folder, name)
                info = os.lstat(full)
                if stat.S_ISLNK(info.st_mode):
                    content = os.readlink(full)
                elif stat.S_ISREG(info.st_mode):
                    with open(full, "rb") as file:
                        content = file.read()
                else:
                    content = None
                entries[os.path.relpath(full, top)] = (stat.S_IFMT(info.st_mode),
                                                       stat.S_IMODE(info.st_mode), content)
        return entries

    # -- fixtures ----------------------------------------------------------

    def make_bundle(self, folder, info=None, name="Kellix.app"):
        """Lays out a genuine Kellix.app in `folder` (a path inside the
        sandbox): Info.plist, a real executable (a copy of sleep) and a
        resource, and answers the bundle's path."""
        bundle = f"{folder}/{name}"
        contents = bundle + "/Contents"
        self.write(contents + "/Info.plist", plistlib.dumps(GENUINE_INFO if info is None else info))
        os.makedirs(self.path(contents + "/MacOS"), exist_ok=True)
        shutil.copy2(self.path("/bin/sleep"), self.path(contents + "/MacOS/Kellix"))
        self.write(contents + "/Resources/Credits.txt", b"Kellix archiver test fixture\n")
        self.write(contents + "/PkgInfo", b"APPL????")
        return bundle

    def install_tool(self, inside, stub):
        os.makedirs(os.path.dirname(self.path(inside)), exist_ok=True)
        shutil.copy(stub, self.path(inside))
        os.chmod(self.path(inside), 0o755)

    def plan(self, tool, *rules):
        """Scripts a stub tool with rules (glob over its arguments joined by
        spaces, action with parameters); the first match decides (see
        stub_tool.cpp)."""
        text = "".join(f"{glob}\t{action}\n" for glob, action in rules)
        self.write(f"{PLAN_FOLDER}/{os.path.basename(tool)}", text.encode())

    def calls(self, tool=None):
        """The recorded stub runs, in order, optionally of one tool only."""
        if not self.exists(CALL_LOG):
            return []
        calls, current = [], None
        with open(self.path(CALL_LOG), encoding="utf-8", errors="surrogateescape") as log:
            for line in log.read().splitlines():
                word, _, rest = line.partition(" ")
                if word == "call":
                    current = Call(rest, None, [], {})
                elif word == "argv0":
                    current.argv0 = rest
                elif word == "arg":
                    current.args.append(rest)
                elif word == "fd":
                    number, _, target = rest.partition(" ")
                    current.fds[int(number)] = target
                elif word == "end":
                    calls.append(current)
        return [call for call in calls if tool is None or call.tool == tool]

    def trashed(self, trash=TRASH):
        """A trash (the home trash unless told) as {original path: name in
        Trash/files}, read from the .trashinfo files, plus the raw info texts
        by name."""
        info_folder = self.path(trash + "/info")
        found, texts = {}, {}
        if os.path.isdir(info_folder):
            for name in sorted(os.listdir(info_folder)):
                with open(os.path.join(info_folder, name), encoding="utf-8") as file:
                    text = file.read()
                texts[name] = text
                for line in text.splitlines():
                    if line.startswith("Path="):
                        found[line[len("Path="):]] = name[:-len(".trashinfo")]
        return found, texts

    # -- running -----------------------------------------------------------

    def environment(self, display=None):
        env = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
               "HOME": HOME, "USER": "root", "LOGNAME": "root", "LANG": "C.UTF-8"}
        # The sanitizer runtimes' own settings (read only by a sanitizer
        # build): leaks of the system's libraries are not the uninstaller's,
        # and full stacks let the suppressions name them precisely.
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"),
                                                     "fast_unwind_on_malloc=0"]))
        env["LSAN_OPTIONS"] = ":".join(filter(None, [env.get("LSAN_OPTIONS"),
                                                     f"suppressions={LEAK_SUPPRESSIONS}",
                                                     "print_suppressions=0"]))
        if display is not None:
            env["DISPLAY"] = display
        env.update(self.extra_environment)
        return env

    def start(self, argv, display=None, **options):
        """Starts argv inside the sandbox, as root, in the folder /."""
        process = subprocess.Popen(["chroot", self.root, *argv], cwd="/",
                                   env=self.environment(display), **options)
        self.processes.append(process)
        if self.proc_folder != "/proc":
            os.symlink(f"{self.HIDDEN_PROC}/{process.pid}", self.path(f"/proc/{process.pid}"))
        return process

    def run(self, argv, display=None, **options):
        process = self.start(argv, display, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, **options)
        out, err = process.communicate(timeout=120)
        return process.returncode, out.decode(errors="replace"), err.decode(errors="replace")

    def trash_list(self, home):
        """What trash-cli, a reader of the Trash of its own, lists for the
        user whose home folder is `home`: {original path: deletion date}."""
        env = self.environment()
        env["HOME"] = home
        env.pop("XDG_DATA_HOME", None)
        result = subprocess.run(["chroot", self.root, "trash-list"], cwd="/", env=env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        listed = {}
        for line in result.stdout.decode(errors="surrogateescape").splitlines():
            parts = line.split(" ", 2)
            if len(parts) == 3:
                listed[parts[2]] = f"{parts[0]} {parts[1]}"
        return listed

    def gio_trash_message(self, inside):
        """What GIO itself says when asked to trash `inside` here and now."""
        rc, _, err = self.run(["gio", "trash", inside])
        prefix = f"gio: file://{inside}: "
        if rc == 0 or not err.startswith(prefix):
            return None
        return err[len(prefix):].rstrip("\n")

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
            process.wait()
        subprocess.run(["umount", "--recursive", "--lazy", self.root], check=False)
        subprocess.run(["umount", "--lazy", self.base], check=False)

    def _bind_file(self, path):
        target = self.path(path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if not os.path.exists(target):
            open(target, "wb").close()
        mount("--bind", "-o", "ro", path, target)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
