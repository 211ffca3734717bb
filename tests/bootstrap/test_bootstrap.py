"""scripts/bootstrap when something is missing, offline. Each case runs a
copy of the script, with the pyproject.toml it reads, in a checkout of its own, with a HOME (so a cache) and a
TMPDIR of its own, an npm registry and a Debian mirror that refuse
connections, and a dpkg-query that reports every Debian package installed:
nothing gets installed, and the real .deps and cache are left alone. Cached
downloads are copied from the real cache."""

import fcntl
import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "bootstrap"
REAL_CACHE = Path(os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache") / "nubracore"
TARBALL = "onnxruntime-node-1.30.0.tgz"
DEB = "libonnxruntime-dev_1.21.0+dfsg-1_amd64.deb"
SID_DEBS = ("libpython3.14-dev_3.14.10-1_amd64.deb", "libpython3.15-dev_3.15.2-1_amd64.deb",
            "python3-auditwheel_6.7.0+ds1-2_all.deb")
REFUSED = "http://127.0.0.1:9"


class Box:
    def __init__(self, root):
        root.chmod(0o755)  # readable by nobody
        self.checkout, self.home, self.tmp, self.bin = (root / n for n in ("checkout", "home", "tmp", "bin"))
        self.cache = self.home / ".cache" / "nubracore"
        self.deps = self.checkout / ".deps"
        self.script = self.checkout / "scripts" / "bootstrap"
        for folder in (self.script.parent, self.home, self.tmp, self.bin):
            folder.mkdir(parents=True)
        shutil.copy(SCRIPT, self.script)
        shutil.copy(SCRIPT.parents[1] / "pyproject.toml", self.checkout)
        self.installed(True)
        self.env = {k: v for k, v in os.environ.items() if k not in ("ONNXRUNTIME_ROOT", "XDG_CACHE_HOME")}
        self.env.update(PATH=f"{self.bin}:{os.environ['PATH']}", HOME=str(self.home), TMPDIR=str(self.tmp),
                        npm_config_registry=REFUSED, NUBRA_DEBIAN_MIRROR=f"{REFUSED}/debian")

    def installed(self, yes):
        """Whether dpkg-query reports every package installed, or none."""
        fake = self.bin / "dpkg-query"
        fake.write_text("#!/bin/sh\necho 'install ok installed'\n" if yes else "#!/bin/sh\nexit 1\n")
        fake.chmod(0o755)

    def seed(self, *names):
        self.cache.mkdir(parents=True, exist_ok=True)
        for name in names:
            if not (REAL_CACHE / name).is_file():
                pytest.skip(f"{REAL_CACHE} holds no {name}")
            shutil.copy(REAL_CACHE / name, self.cache / name)

    def start(self, *prefix, args=()):
        return subprocess.Popen([*prefix, str(self.script), *args], env=self.env, text=True,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def finish(self, proc):
        out, err = proc.communicate(timeout=30)
        hidden = [p for d in (self.cache, self.deps) if d.exists() for p in d.iterdir() if p.name.startswith(".")]
        assert not hidden and not any(self.tmp.iterdir()), "temporary files left behind"
        return proc.returncode, err

    def run(self, *prefix, args=()):
        return self.finish(self.start(*prefix, args=args))

    def made(self):
        return (self.deps / "onnxruntime" / "include" / "onnxruntime_cxx_api.h").is_file()


@pytest.fixture
def box():
    with tempfile.TemporaryDirectory() as root:
        yield Box(Path(root))


@pytest.mark.parametrize("cached, names", [
    ((), ["onnxruntime-node@1.30.0", "npm registry", REFUSED]),
    ((TARBALL,), ["libonnxruntime-dev", "1.21 headers", "Debian 13", REFUSED]),
])
def test_unreachable_source_is_named_with_the_ways_out(box, cached, names):
    box.seed(*cached)
    status, err = box.run()
    lines = err.splitlines()
    assert status != 0 and len(lines) == 2 and all(line.startswith("bootstrap: ") for line in lines), err
    assert all(name in lines[0] for name in names), err
    assert "connect once" in lines[1] and "ONNXRUNTIME_ROOT" in lines[1] and ">= 1.17" in lines[1]
    assert not box.made()


def test_truncated_cached_download_is_deleted_and_fetched_again(box):
    box.seed(TARBALL)
    (box.cache / DEB).write_bytes((REAL_CACHE / DEB).read_bytes()[:1000])
    status, err = box.run()
    assert status != 0
    assert f"{DEB} fails its SHA-256 check; deleting it and fetching it again" in err
    assert "can't fetch libonnxruntime-dev" in err
    assert not (box.cache / DEB).exists()


BUILDING = {"g++", "cmake", "pybind11-dev", "libopenblas-dev", "liblapacke-dev", "python3-dev", "patchelf"}
TESTING = {"libgtest-dev", "python3-pytest", "python3-numpy", "python3-onnx", "python3-mypy", "python3-pip"}
BENCHMARKS = {"python3-scipy", "python3-matplotlib", "valgrind"}


@pytest.mark.skipif(shutil.which("sudo") is not None, reason="sudo is installed")
@pytest.mark.parametrize("args, wanted", [
    ((), BUILDING | TESTING | BENCHMARKS),
    (("build",), BUILDING),
    (("test",), BUILDING | TESTING),
    (("bench",), BUILDING | BENCHMARKS | {"python3-numpy", "python3-onnx"}),
])
def test_missing_package_without_root_gives_the_apt_get_line(box, args, wanted):
    box.installed(False)
    box.seed(TARBALL)  # no npm wanted to fetch it
    as_nobody = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] if os.geteuid() == 0 else []
    status, err = box.run(*as_nobody, args=args)
    assert status != 0
    line = re.search(r"^bootstrap: apt-get update && apt-get install ([\w.+ -]+)$", err, re.M)
    assert line and wanted <= set(line[1].split()), err
    assert not set(line[1].split()) & (BUILDING | TESTING | BENCHMARKS) - wanted, err


def test_a_run_waits_for_the_download_of_another(box):
    """Two clones at once, cold cache: the second waits on the cache's lock
    while the first downloads, then uses what it fetched."""
    box.cache.mkdir(parents=True)
    with open(box.cache / "lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        proc = box.start()
        assert "waiting for another bootstrap" in proc.stderr.readline()
        box.seed(TARBALL, DEB, *SID_DEBS)
    status, err = box.finish(proc)
    assert status == 0, err
    assert box.made()


def test_half_made_deps_is_made_again(box):
    box.seed(TARBALL, DEB, *SID_DEBS)
    lib = box.deps / "onnxruntime" / "lib"
    lib.mkdir(parents=True)
    (lib / "libonnxruntime.so.1.30.0").write_bytes(b"")
    status, err = box.run()
    assert status == 0, err
    assert box.made() and (lib / "libonnxruntime.so.1.30.0").stat().st_size > 0
