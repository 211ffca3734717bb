"""nubracore's wheels: pip's build backend, and the command `make wheels`
runs with each interpreter. It needs nothing in the interpreter beyond the
standard library; the build needs CMake, ldd, readelf, strip, patchelf and
dpkg (`scripts/bootstrap build` installs them).

CMake builds the module for the running interpreter. Every library the
module loads that the platform tag doesn't promise goes into
nubracore.libs/ beside it, found through RUNPATH $ORIGIN; with them the
type stubs (package nubracore-stubs) and the licence of everything shipped.
Every ELF file is checked against the tag's promise before the wheel is
written.

    python scripts/wheel_backend.py DIST [BUILD]   # builds BUILD (build-pyX.Y), writes the wheel into DIST
    python scripts/wheel_backend.py check WHEEL    # the ELF check of a wheel, or of a folder
"""

import base64
import hashlib
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
LIBS = "nubracore.libs"
BUNDLED_ORT = TOP / ".deps/onnxruntime"

# What the platform tag promises outside the wheel: these libraries, with
# symbol versions up to glibc 2.36's and GCC 12's runtime (Debian 12's).
SYSTEM = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1", "ld-linux-x86-64.so.2",
          "libstdc++.so.6", "libgcc_s.so.1"}
NEWEST = {"GLIBC": (2, 36), "GLIBCXX": (3, 4, 30), "CXXABI": (1, 3, 13), "GCC": (12, 0, 0)}
PLATFORM = "manylinux_{}_{}_x86_64".format(*NEWEST["GLIBC"])


def run(*command, **options):
    return subprocess.run([str(c) for c in command], check=True, **options)


def output(*command):
    return run(*command, capture_output=True, text=True).stdout


# ---- the ELF check

def elf_files(root):
    for path in sorted(Path(root).rglob("*")):
        if path.is_file() and path.open("rb").read(4) == b"\x7fELF":
            yield path


def faults(root):
    """What in the unpacked wheel at root breaks the tag's promise."""
    inside = {p.name for p in (Path(root) / LIBS).glob("*")}
    found = []
    for path in elf_files(root):
        name = path.relative_to(root)
        dynamic = output("readelf", "--dynamic", "--wide", path)
        for needed in re.findall(r"\(NEEDED\)\s+Shared library: \[(.+)\]", dynamic):
            if needed not in SYSTEM | inside:
                found.append(f"{name} needs {needed}")
        for paths in re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[(.*)\]", dynamic):
            found += [f"{name} searches {p}" for p in paths.split(":") if not p.startswith("$ORIGIN")]
        library = None
        for line in output("readelf", "--version-info", "--wide", path).splitlines():
            if "File: " in line:
                library = re.search(r"File: (\S+)", line)[1]
            elif "Name: " in line and library in SYSTEM:
                version = re.search(r"Name: (\S+)", line)[1]
                parts = re.fullmatch(r"([A-Z]+)_([\d.]+)", version)
                newest = NEWEST.get(parts[1]) if parts else None
                if newest is None or tuple(map(int, parts[2].split("."))) > newest:
                    found.append(f"{name} needs {version} of {library}")
    return found


def check(root):
    found = faults(root)
    if found:
        raise SystemExit(f"not {PLATFORM}:\n  " + "\n  ".join(found))


# ---- staging

def shipped_libraries(module):
    """The libraries the module loads outside SYSTEM, by name, with their files."""
    libraries = {}
    for line in output("ldd", module).splitlines():
        found = re.match(r"\s*(\S+) => (.+?)(?: \(0x[0-9a-f]+\))?$", line)
        if not found or found[1] in SYSTEM:
            continue
        if found[2] == "not found":
            raise SystemExit(f"{module.name} needs {found[1]}, which is not found")
        libraries[found[1]] = Path(found[2]).resolve()
    return libraries


def licences(library):
    """The licence files of a shipped library: (folder name, files)."""
    if library.is_relative_to(BUNDLED_ORT.resolve()):
        return "onnxruntime", sorted((TOP / "licenses/onnxruntime").glob("*"))
    found = subprocess.run(["dpkg-query", "--search", library], capture_output=True, text=True)
    if found.returncode != 0:
        raise SystemExit(f"no licence known for {library}")
    package = found.stdout.split(":")[0]
    return package, [Path("/usr/share/doc", package, "copyright")]


def stage(module, root, dist_info):
    """The wheel's files under root: the module, its libraries, the stubs, the licences."""
    (root / LIBS).mkdir(parents=True)
    target = root / module.name
    shutil.copy(module, target)
    notices = root / dist_info / "licenses"
    notices.mkdir(parents=True)
    shutil.copy(TOP / "LICENSE", notices)
    for name, path in shipped_libraries(module).items():
        copy = root / LIBS / name
        shutil.copy(path, copy)
        run("strip", "--strip-unneeded", copy)
        run("patchelf", "--set-rpath", "$ORIGIN", copy)
        folder, files = licences(path)
        (notices / folder).mkdir(exist_ok=True)
        for file in files:
            shutil.copy(file, notices / folder)
    run("strip", "--strip-unneeded", target)
    run("patchelf", "--set-rpath", f"$ORIGIN/{LIBS}", target)
    stubs = root / "nubracore-stubs"
    stubs.mkdir()
    shutil.copy(TOP / "stubs/nubracore-stubs/__init__.pyi", stubs)


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


def tag():
    python = f"cp{sys.version_info.major}{sys.version_info.minor}"
    return f"{python}-{python}{sys.abiflags}-{PLATFORM}"


def record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}\n"


def write_wheel(root, dist_info, destination):
    (root / dist_info / "METADATA").write_text(metadata())
    (root / dist_info / "WHEEL").write_text(
        f"Wheel-Version: 1.0\nGenerator: nubracore wheel_backend\nRoot-Is-Purelib: false\nTag: {tag()}\n")
    files = sorted(p for p in root.rglob("*") if p.is_file())
    record = f"{dist_info}/RECORD"
    name = Path(destination) / f"nubracore-{VERSION}-{tag()}.whl"
    partial = name.with_suffix(".partial")  # a reader never sees half a wheel
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as wheel:
        lines = []
        for path in files:
            data = path.read_bytes()
            arcname = path.relative_to(root).as_posix()
            wheel.write(path, arcname)
            lines.append(record_line(arcname, data))
        wheel.writestr(record, "".join(lines) + f"{record},,\n")
    partial.replace(name)
    return name


def build(build_folder, destination):
    """Builds the module for this interpreter in build_folder and writes its
    wheel into destination; gives the wheel's path."""
    version = "%d.%d" % sys.version_info[:2]
    if sys.implementation.name != "cpython" or version not in PYTHONS:
        raise SystemExit(f"nubracore builds for CPython {', '.join(PYTHONS)}, not {sys.implementation.name} {version}")
    run(TOP / "scripts/bootstrap", "build")
    run("cmake", "-S", TOP, "-B", build_folder, f"-DPython_EXECUTABLE={sys.executable}", stdout=subprocess.DEVNULL)
    run("cmake", "--build", build_folder, "--target", "nubracore", "-j", os.cpu_count())
    module = Path(build_folder) / ("nubracore" + sysconfig.get_config_var("EXT_SUFFIX"))
    dist_info = f"nubracore-{VERSION}.dist-info"
    with tempfile.TemporaryDirectory() as folder:
        root = Path(folder)
        stage(module, root, dist_info)
        check(root)
        Path(destination).mkdir(parents=True, exist_ok=True)
        return write_wheel(root, dist_info, destination)


# ---- pip's hooks (PEP 517)

def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    folder = TOP / ("build-py%d.%d" % sys.version_info[:2])
    return build(folder, wheel_directory).name


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    raise SystemExit("nubracore has no editable install: install a wheel (make wheels), "
                     "or build with `make build` and use PYTHONPATH=build")


def build_sdist(sdist_directory, config_settings=None):
    raise SystemExit("nubracore offers no sdist: install a wheel (make wheels), or pip install a clone")


def main():
    if sys.argv[1] == "check":
        if Path(sys.argv[2]).is_dir():
            return check(sys.argv[2])
        with tempfile.TemporaryDirectory() as folder:
            zipfile.ZipFile(sys.argv[2]).extractall(folder)
            return check(folder)
    folder = sys.argv[2] if len(sys.argv) > 2 else TOP / ("build-py%d.%d" % sys.version_info[:2])
    print(build(folder, sys.argv[1]))


if __name__ == "__main__":
    main()
