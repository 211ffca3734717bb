"""nubracore's wheels: pip's build backend, and the command `make wheels`
runs with each interpreter. It needs nothing in the interpreter beyond the
standard library; the build needs CMake, strip, and auditwheel with patchelf,
run by Debian's python3 (`scripts/bootstrap build` provides them).

CMake builds the module for the running interpreter, or for a CPython
this machine can't run from its headers alone (--headers X.Y: those
scripts/bootstrap unpacks into .deps/pythonX.Y), or cross-builds it for
CPython X.Y on aarch64 (--aarch64 X.Y: the arm64 trees of scripts/sysroot,
cross compiler and binutils from scripts/bootstrap). A plain wheel holds the
module, the type stubs (package nubracore-stubs), the metadata, and the
licence of the module and of every library auditwheel finds it needs
outside what manylinux promises; `auditwheel repair` then copies those
libraries into nubracore.libs/ under names of their own, points the module
at them, and tags the wheel with the oldest manylinux policy its files meet.

    python scripts/wheel_backend.py DIST [BUILD]         # builds BUILD (build-pyX.Y), writes the wheel into DIST
    python scripts/wheel_backend.py DIST --headers X.Y   # the same for CPython X.Y from its headers
    python scripts/wheel_backend.py DIST --aarch64 X.Y   # the same for CPython X.Y on aarch64 (build-aarch64-pyX.Y)
"""

import base64
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import tomllib
import zipfile
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
PROJECT = tomllib.loads((TOP / "pyproject.toml").read_text())
PYTHONS = PROJECT["tool"]["nubracore"]["pythons"]
VERSION = re.search(r"project\(nubracore VERSION ([\d.]+)", (TOP / "CMakeLists.txt").read_text())[1]
# ONNX Runtime as scripts/bootstrap unpacks it: this machine's, and arm64's.
BUNDLED_ORTS = (TOP / ".deps/onnxruntime", TOP / ".deps/onnxruntime-arm64")
# auditwheel as scripts/bootstrap unpacks it, for Debian's python3.
AUDITWHEEL = TOP / ".deps/auditwheel/usr/lib/python3/dist-packages"


def run(*command, **options):
    return subprocess.run([str(c) for c in command], check=True, **options)


def output(*command):
    return run(*command, capture_output=True, text=True).stdout


def auditwheel(*arguments):
    """auditwheel's output: its command-line interface on Debian's python3."""
    return run("/usr/bin/python3", "-m", "auditwheel", *arguments, capture_output=True, text=True,
               env=dict(os.environ, PYTHONPATH=AUDITWHEEL)).stdout


# ---- staging

def licences(library, tree):
    """The licence files of a shipped library: (folder name, files). A
    library of the tree is its package's, found in the package lists there."""
    library = library.resolve()
    if any(library.is_relative_to(ort.resolve()) for ort in BUNDLED_ORTS):
        return "onnxruntime", sorted((TOP / "licenses/onnxruntime").glob("*"))
    if tree:
        path = f"/{library.relative_to(tree)}"
        packages = [listing.stem for listing in (tree / "var/lib/dpkg/info").glob("*.list")
                    if path in listing.read_text().splitlines()]
        if len(packages) != 1:
            raise SystemExit(f"no licence known for {library}")
        return packages[0], [tree / "usr/share/doc" / packages[0] / "copyright"]
    found = subprocess.run(["dpkg-query", "--search", library], capture_output=True, text=True)
    if found.returncode != 0:
        raise SystemExit(f"no licence known for {library}")
    package = found.stdout.split(":")[0]
    return package, [Path("/usr/share/doc", package, "copyright")]


def stage(module, root, dist_info, python):
    """The plain wheel's files under root: the module, the stubs, the licence."""
    root.mkdir()
    shutil.copy(module, root)
    run(python.strip, "--strip-unneeded", root / module.name)
    stubs = root / "nubracore-stubs"
    stubs.mkdir()
    shutil.copy(TOP / "stubs/nubracore-stubs/__init__.pyi", stubs)
    notices = root / dist_info / "licenses"
    notices.mkdir(parents=True)
    shutil.copy(TOP / "LICENSE", notices)


def add_licences(wheel, root, dist_info, python):
    """Beside the module's, the licence of each library auditwheel would
    bundle: those `show` lists, as JSON after its heading (given with -v
    only, past the policy it finds)."""
    shown = auditwheel("-v", "show", *python.ldpaths, wheel)
    heading = "The following external shared libraries are required by the wheel:\n"
    listed, _ = json.JSONDecoder().raw_decode(shown[shown.index(heading) + len(heading):])
    for soname, path in listed.items():
        if path is None:
            raise SystemExit(f"the module needs {soname}, which is not found")
        folder, files = licences(Path(path), python.tree)
        (root / dist_info / "licenses" / folder).mkdir(exist_ok=True)
        for file in files:
            shutil.copy(file, root / dist_info / "licenses" / folder)


# ---- the CPython a wheel is for

class Running:
    """The interpreter running this script."""
    version = "%d.%d" % sys.version_info[:2]
    folder = TOP / f"build-py{version}"
    implementation = sys.implementation.name
    abiflags = sys.abiflags
    extension = sysconfig.get_config_var("EXT_SUFFIX")
    cmake = [f"-DPython_EXECUTABLE={sys.executable}", "-DNUBRA_PYTHON_HEADERS="]
    machine, tree, strip, tools, ldpaths = os.uname().machine, None, "strip", "build", []


class Headers:
    """A CPython known by its headers (.deps/pythonX.Y) and its python-config;
    the build's interpreter is Debian's, which runs CMake's queries."""
    implementation = "cpython"
    machine, tree, strip, tools, ldpaths = os.uname().machine, None, "strip", "build", []

    def __init__(self, version):
        self.version = version
        self.root = TOP / ".deps" / f"python{version}"
        self.folder = TOP / f"build-py{version}"
        self.cmake = ["-DPython_EXECUTABLE=/usr/bin/python3", f"-DNUBRA_PYTHON_HEADERS={self.root}"]

    def config(self, option):
        """What python-config says; read once the bootstrap has run."""
        configs = list(self.root.glob("usr/bin/*-config"))
        if len(configs) != 1:
            raise SystemExit(f"no headers of CPython {self.version} in {self.root} (scripts/bootstrap puts them there)")
        return output("sh", configs[0], option).strip()

    @property
    def abiflags(self):
        return self.config("--abiflags")

    @property
    def extension(self):
        return self.config("--extension-suffix")


class Aarch64(Headers):
    """CPython X.Y on aarch64, cross-built by Debian's cross compiler
    (cmake/aarch64-linux-gnu.cmake) from that version's arm64 headers,
    against the arm64 libraries of scripts/sysroot and ONNX Runtime's arm64
    build. CMake's FindPython asks a cross build's interpreter nothing: it
    is given the headers of Debian's, which NUBRA_PYTHON_HEADERS replaces.
    auditwheel finds the libraries in that tree, where it alone searches."""
    machine, strip, tools = "aarch64", "aarch64-linux-gnu-strip", "aarch64"

    def __init__(self, version):
        self.version = version
        self.root, self.tree = (Path(output(TOP / "scripts/sysroot", name).strip()) for name in (f"python{version}", "libs"))
        self.folder = TOP / f"build-aarch64-py{version}"
        self.cmake = ["-DPython_EXECUTABLE=/usr/bin/python3", f"-DNUBRA_PYTHON_HEADERS={self.root}",
                      f"-DPython_INCLUDE_DIR={sysconfig.get_paths()['include']}",
                      f"-DCMAKE_TOOLCHAIN_FILE={TOP}/cmake/aarch64-linux-gnu.cmake", f"-DNUBRA_SYSROOT={self.tree}",
                      f"-DONNXRUNTIME_ROOT={BUNDLED_ORTS[1]}", "-DBUILD_TESTING=OFF"]
        self.ldpaths = ["--ldpaths", f"{self.tree}/usr/lib/aarch64-linux-gnu:{self.tree}/lib/aarch64-linux-gnu"]


# ---- metadata and the archive

def metadata():
    project = PROJECT["project"]
    low, high = PYTHONS[0], PYTHONS[-1]
    major, newest = map(int, high.split("."))
    assert PYTHONS == [f"{major}.{m}" for m in range(int(low.split(".")[1]), newest + 1)], "a range of versions"
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {VERSION}",
        f"Summary: {project['description']}",
        f"License: {project['license']['text']}",
        f"Requires-Python: >={low},<{major}.{newest + 1}",
        "Classifier: License :: OSI Approved :: BSD License",
        "Classifier: Operating System :: POSIX :: Linux",
        "Classifier: Programming Language :: C++",
        "Classifier: Programming Language :: Python :: 3",
        *[f"Classifier: Programming Language :: Python :: {v}" for v in PYTHONS],
        "Classifier: Programming Language :: Python :: Implementation :: CPython",
        "Description-Content-Type: text/markdown",
    ]
    return "\n".join(lines) + "\n\n" + (TOP / project["readme"]).read_text()


def record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}\n"


def write_wheel(root, dist_info, wheel):
    """The plain wheel of the files under root, tagged as its name says."""
    (root / dist_info / "METADATA").write_text(metadata())
    (root / dist_info / "WHEEL").write_text("Wheel-Version: 1.0\nGenerator: nubracore wheel_backend\n"
                                            f"Root-Is-Purelib: false\nTag: {wheel.stem.split('-', 2)[2]}\n")
    record = f"{dist_info}/RECORD"
    with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as archive:
        lines = []
        for path in sorted(p for p in root.rglob("*") if p.is_file()):
            arcname = path.relative_to(root).as_posix()
            archive.write(path, arcname)
            lines.append(record_line(arcname, path.read_bytes()))
        archive.writestr(record, "".join(lines) + f"{record},,\n")


def build(python, build_folder, destination):
    """Builds the module for python (Running() or Headers) in build_folder
    and writes its wheel into destination; gives the wheel's path."""
    if python.implementation != "cpython" or python.version not in PYTHONS:
        raise SystemExit(f"nubracore builds for CPython {', '.join(PYTHONS)}, not {python.implementation} {python.version}")
    run(TOP / "scripts/bootstrap", python.tools)
    run("cmake", "-S", TOP, "-B", build_folder, *python.cmake, stdout=subprocess.DEVNULL)
    run("cmake", "--build", build_folder, "--target", "nubracore", "-j", os.cpu_count())
    module = Path(build_folder) / ("nubracore" + python.extension)
    dist_info = f"nubracore-{VERSION}.dist-info"
    cp = "cp" + python.version.replace(".", "")
    destination = Path(destination)
    destination.mkdir(parents=True, exist_ok=True)
    # Made beside the destination, so that a reader never sees half a wheel.
    with tempfile.TemporaryDirectory(dir=destination, prefix=".") as folder:
        root, repaired = Path(folder, "root"), Path(folder, "repaired")
        stage(module, root, dist_info, python)
        wheel = Path(folder, f"nubracore-{VERSION}-{cp}-{cp}{python.abiflags}-linux_{python.machine}.whl")
        write_wheel(root, dist_info, wheel)
        add_licences(wheel, root, dist_info, python)
        write_wheel(root, dist_info, wheel)
        auditwheel("repair", *python.ldpaths, "--wheel-dir", repaired, wheel)
        made, = repaired.iterdir()
        made.replace(destination / made.name)
    # It replaces a wheel of this interpreter and machine under another tag.
    for stale in destination.glob(f"nubracore-{VERSION}-{cp}-*_{python.machine}.whl"):
        if stale.name != made.name:
            stale.unlink()
    return destination / made.name


# ---- pip's hooks (PEP 517)

def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    python = Running()
    return build(python, python.folder, wheel_directory).name


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    raise SystemExit("nubracore has no editable install: install a wheel (make wheels), "
                     "or build with `make build` and use PYTHONPATH=build")


def build_sdist(sdist_directory, config_settings=None):
    raise SystemExit("nubracore offers no sdist: install a wheel (make wheels), or pip install a clone")


def main():
    kinds = {"--headers": Headers, "--aarch64": Aarch64}
    python = kinds[sys.argv[2]](sys.argv[3]) if sys.argv[2:3] and sys.argv[2] in kinds else Running()
    folder = sys.argv[2] if len(sys.argv) > 2 and isinstance(python, Running) else python.folder
    print(build(python, folder, sys.argv[1]))


if __name__ == "__main__":
    main()
