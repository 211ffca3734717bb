"""nubracore's wheels: pip's build backend, and the command `make wheels`
runs with each interpreter. It needs nothing in the interpreter beyond the
standard library; the build needs CMake, ldd, readelf, strip, patchelf and
dpkg (`scripts/bootstrap build` installs them).

CMake builds the module for the running interpreter, or for a CPython
this machine can't run from its headers alone (--headers X.Y: those
scripts/bootstrap unpacks into .deps/pythonX.Y), or cross-builds it for
CPython X.Y on aarch64 (--aarch64 X.Y: the arm64 trees of scripts/sysroot,
cross compiler and binutils from scripts/bootstrap). Every library the module
loads outside what manylinux promises goes into nubracore.libs/ beside it,
found through RUNPATH $ORIGIN, under a name of its own: the name with a
hash of its contents, as its soname and in every NEEDED entry, so that the
loader never takes a system library of the old name for it, nor it for a
system library another module (numpy) asks for. With them go the type stubs
(package nubracore-stubs) and the licence of everything shipped. The
platform tag is the oldest manylinux policy that admits every symbol
version the files need.

    python scripts/wheel_backend.py DIST [BUILD]         # builds BUILD (build-pyX.Y), writes the wheel into DIST
    python scripts/wheel_backend.py DIST --headers X.Y   # the same for CPython X.Y from its headers
    python scripts/wheel_backend.py DIST --aarch64 X.Y   # the same for CPython X.Y on aarch64 (build-aarch64-pyX.Y)
    python scripts/wheel_backend.py check WHEEL          # the ELF check of a wheel (its tag too), or of a folder
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
# ONNX Runtime as scripts/bootstrap unpacks it: this machine's, and arm64's.
BUNDLED_ORTS = (TOP / ".deps/onnxruntime", TOP / ".deps/onnxruntime-arm64")

ARCH = os.uname().machine
# The machines wheels are for, as platform tags name them: readelf's name
# and the glibc loader of each.
MACHINES = {"x86_64": ("Advanced Micro Devices X86-64", "ld-linux-x86-64.so.2"),
            "aarch64": ("AArch64", "ld-linux-aarch64.so.1")}
# What a manylinux platform promises outside the wheel: these libraries
# (all in auditwheel's lists) with the machine's loader, and, per policy, symbol versions up to these
# (auditwheel's manylinux-policy.json, tests/wheels/tag.py compares), the
# oldest first. A policy older than glibc 2.28 can't be met with Debian's
# OpenBLAS and ONNX Runtime.
SYSTEM = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1", "libstdc++.so.6",
          "libgcc_s.so.1"}
X86_64_POLICIES = {
    "manylinux_2_28": {"GLIBC": (2, 28), "GLIBCXX": (3, 4, 24), "CXXABI": (1, 3, 11), "GCC": (7, 0, 0)},
    "manylinux_2_31": {"GLIBC": (2, 31), "GLIBCXX": (3, 4, 28), "CXXABI": (1, 3, 12), "GCC": (7, 0, 0)},
    "manylinux_2_34": {"GLIBC": (2, 34), "GLIBCXX": (3, 4, 29), "CXXABI": (1, 3, 13), "GCC": (7, 0, 0)},
    "manylinux_2_35": {"GLIBC": (2, 35), "GLIBCXX": (3, 4, 30), "CXXABI": (1, 3, 13), "GCC": (12, 0, 0)},
    "manylinux_2_36": {"GLIBC": (2, 36), "GLIBCXX": (3, 4, 30), "CXXABI": (1, 3, 13), "GCC": (12, 0, 0)},
}
# aarch64's differ only in libgcc's symbol versions, up to GCC 11 from 2_34 on.
POLICIES = {"x86_64": X86_64_POLICIES,
            "aarch64": {name: dict(newest, GCC=(11, 0) if newest["GLIBC"] >= (2, 34) else newest["GCC"])
                        for name, newest in X86_64_POLICIES.items()}}


def run(*command, **options):
    return subprocess.run([str(c) for c in command], check=True, **options)


def output(*command):
    return run(*command, capture_output=True, text=True).stdout


# ---- the ELF check

def elf_files(root):
    for path in sorted(Path(root).rglob("*")):
        if path.is_file() and path.open("rb").read(4) == b"\x7fELF":
            yield path


def machine(root):
    """The machine of MACHINES every ELF file under root is for."""
    found = {re.search(r"Machine:\s+(.+)", output("readelf", "--file-header", path))[1].strip()
             for path in elf_files(root)}
    for name, (elf, _) in MACHINES.items():
        if found == {elf}:
            return name
    raise SystemExit(f"files for {', '.join(sorted(found)) or 'no machine'}, not for one of {', '.join(MACHINES)}")


def needs(root, arch):
    """What the unpacked wheel at root, for machine arch, needs of the
    system: the faults no policy can admit (a library outside SYSTEM and the
    wheel, a search path outside it, a bundled library under a name a system
    library can have), and the symbol versions of SYSTEM's libraries
    ("GLIBC_2.34") by file."""
    inside = {p.name for p in (Path(root) / LIBS).glob("*")}
    system = SYSTEM | {MACHINES[arch][1]}
    faults, versions = [], {}
    for path in elf_files(root):
        name = path.relative_to(root)
        dynamic = output("readelf", "--dynamic", "--wide", path)
        for needed in re.findall(r"\(NEEDED\)\s+Shared library: \[(.+)\]", dynamic):
            if needed not in system | inside:
                faults.append(f"{name} needs {needed}")
        for paths in re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[(.*)\]", dynamic):
            faults += [f"{name} searches {p}" for p in paths.split(":") if not p.startswith("$ORIGIN")]
        if path.parent.name == LIBS:
            soname = re.search(r"\(SONAME\)\s+Library soname: \[(.+)\]", dynamic)
            if not soname or soname[1] != path.name or not re.search(r"-[0-9a-f]{8}\.so", path.name):
                faults.append(f"{name} is not under a name of its own (soname {soname and soname[1]})")
        library = None
        for line in output("readelf", "--version-info", "--wide", path).splitlines():
            if "File: " in line:
                library = re.search(r"File: (\S+)", line)[1]
            elif "Name: " in line and library in system:
                versions.setdefault(re.search(r"Name: (\S+)", line)[1], set()).add(str(name))
    return faults, versions


def admits(policy, version):
    parts = re.fullmatch(r"([A-Z]+)_([\d.]+)", version)
    newest = policy.get(parts[1]) if parts else None
    return newest is not None and tuple(map(int, parts[2].split("."))) <= newest


def platform(root):
    """The oldest manylinux policy the unpacked wheel at root meets, as its
    platform tag; exits with what breaks every policy."""
    arch = machine(root)
    faults, versions = needs(root, arch)
    policies = POLICIES[arch]
    newest = list(policies)[-1]
    faults += [f"{', '.join(sorted(files))} need {version}" for version, files in sorted(versions.items())
               if not admits(policies[newest], version)]
    if faults:
        raise SystemExit(f"not {newest} or older:\n  " + "\n  ".join(faults))
    policy = next(p for p in policies if all(admits(policies[p], version) for version in versions))
    return f"{policy}_{arch}"


# ---- staging

def own_name(soname, path):
    """The name a bundled library goes by: libfoo-HASH.so.N for libfoo.so.N,
    HASH the start of its contents' SHA-256, as auditwheel names them."""
    base, extension = soname.split(".", 1)
    return f"{base}-{hashlib.sha256(path.read_bytes()).hexdigest()[:8]}.{extension}"


def shipped_libraries(module, tree):
    """The libraries the module loads outside SYSTEM, by name, with their
    files: as ldd finds them, or for a cross build, as found in the arm64
    tree (scripts/sysroot)."""
    if tree:
        return tree_libraries(module, tree)
    libraries = {}
    for line in output("ldd", module).splitlines():
        found = re.match(r"\s*(\S+) => (.+?)(?: \(0x[0-9a-f]+\))?$", line)
        if not found or found[1] in SYSTEM | {MACHINES[ARCH][1]}:
            continue
        if found[2] == "not found":
            raise SystemExit(f"{module.name} needs {found[1]}, which is not found")
        libraries[found[1]] = Path(found[2]).resolve()
    return libraries


def tree_libraries(module, tree):
    """What the loader would map for the module on aarch64, outside SYSTEM:
    each NEEDED name searched in the RUNPATH of the file that needs it, then
    in the tree's library folders; and what those need in turn."""
    folders = [tree / "usr/lib/aarch64-linux-gnu", tree / "lib/aarch64-linux-gnu"]
    libraries, pending = {}, [module]
    while pending:
        dynamic = output("readelf", "--dynamic", "--wide", pending.pop())
        runpath = [Path(p) for paths in re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[(.*)\]", dynamic)
                   for p in paths.split(":")]
        for needed in re.findall(r"\(NEEDED\)\s+Shared library: \[(.+)\]", dynamic):
            if needed in SYSTEM | {MACHINES["aarch64"][1]} or needed in libraries:
                continue
            found = next((folder / needed for folder in runpath + folders if (folder / needed).exists()), None)
            if found is None:
                raise SystemExit(f"{module.name} needs {needed}, which is not found")
            libraries[needed] = found.resolve()
            pending.append(libraries[needed])
    return libraries


def licences(library, tree):
    """The licence files of a shipped library: (folder name, files). A
    library of the tree is its package's, found in the package lists there."""
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
    """The wheel's files under root: the module, its libraries, the stubs, the licences."""
    (root / LIBS).mkdir(parents=True)
    target = root / module.name
    shutil.copy(module, target)
    notices = root / dist_info / "licenses"
    notices.mkdir(parents=True)
    shutil.copy(TOP / "LICENSE", notices)
    libraries = shipped_libraries(module, python.tree)
    names = {soname: own_name(soname, path) for soname, path in libraries.items()}
    renames = [option for pair in names.items() for option in ("--replace-needed", *pair)]
    for soname, path in libraries.items():
        copy = root / LIBS / names[soname]
        shutil.copy(path, copy)
        run(python.strip, "--strip-unneeded", copy)
        run("patchelf", "--set-rpath", "$ORIGIN", copy)
        run("patchelf", "--set-soname", names[soname], copy)
        run("patchelf", *renames, copy)
        folder, files = licences(path, python.tree)
        (notices / folder).mkdir(exist_ok=True)
        for file in files:
            shutil.copy(file, notices / folder)
    run(python.strip, "--strip-unneeded", target)
    run("patchelf", "--set-rpath", f"$ORIGIN/{LIBS}", target)
    run("patchelf", *renames, target)
    stubs = root / "nubracore-stubs"
    stubs.mkdir()
    shutil.copy(TOP / "stubs/nubracore-stubs/__init__.pyi", stubs)


# ---- metadata and the archive

# ---- the CPython a wheel is for

class Running:
    """The interpreter running this script."""
    version = "%d.%d" % sys.version_info[:2]
    folder = TOP / f"build-py{version}"
    implementation = sys.implementation.name
    abiflags = sys.abiflags
    extension = sysconfig.get_config_var("EXT_SUFFIX")
    cmake = [f"-DPython_EXECUTABLE={sys.executable}", "-DNUBRA_PYTHON_HEADERS="]
    tree, strip, tools = None, "strip", "build"


class Headers:
    """A CPython known by its headers (.deps/pythonX.Y) and its python-config;
    the build's interpreter is Debian's, which runs CMake's queries."""
    implementation = "cpython"
    tree, strip, tools = None, "strip", "build"

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
    is given the headers of Debian's, which NUBRA_PYTHON_HEADERS replaces."""
    strip, tools = "aarch64-linux-gnu-strip", "aarch64"

    def __init__(self, version):
        self.version = version
        self.root, self.tree = (Path(output(TOP / "scripts/sysroot", name).strip()) for name in (f"python{version}", "libs"))
        self.folder = TOP / f"build-aarch64-py{version}"
        self.cmake = ["-DPython_EXECUTABLE=/usr/bin/python3", f"-DNUBRA_PYTHON_HEADERS={self.root}",
                      f"-DPython_INCLUDE_DIR={sysconfig.get_paths()['include']}",
                      f"-DCMAKE_TOOLCHAIN_FILE={TOP}/cmake/aarch64-linux-gnu.cmake", f"-DNUBRA_SYSROOT={self.tree}",
                      f"-DONNXRUNTIME_ROOT={BUNDLED_ORTS[1]}", "-DBUILD_TESTING=OFF"]


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


def tag(python, platform_tag):
    cp = "cp" + python.version.replace(".", "")
    return f"{cp}-{cp}{python.abiflags}-{platform_tag}"


def record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}\n"


def write_wheel(root, dist_info, destination, wheel_tag):
    (root / dist_info / "METADATA").write_text(metadata())
    (root / dist_info / "WHEEL").write_text(
        f"Wheel-Version: 1.0\nGenerator: nubracore wheel_backend\nRoot-Is-Purelib: false\nTag: {wheel_tag}\n")
    files = sorted(p for p in root.rglob("*") if p.is_file())
    record = f"{dist_info}/RECORD"
    name = Path(destination) / f"nubracore-{VERSION}-{wheel_tag}.whl"
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
    # It replaces a wheel of this interpreter and machine under another tag.
    interpreter, platform = wheel_tag.rsplit("-", 1)
    machine = platform.split("_", 3)[3]
    for stale in Path(destination).glob(f"nubracore-{VERSION}-{interpreter}-*_{machine}.whl"):
        if stale != name:
            stale.unlink()
    return name


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
    with tempfile.TemporaryDirectory() as folder:
        root = Path(folder)
        stage(module, root, dist_info, python)
        wheel_tag = tag(python, platform(root))
        Path(destination).mkdir(parents=True, exist_ok=True)
        return write_wheel(root, dist_info, destination, wheel_tag)


# ---- pip's hooks (PEP 517)

def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    python = Running()
    return build(python, python.folder, wheel_directory).name


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    raise SystemExit("nubracore has no editable install: install a wheel (make wheels), "
                     "or build with `make build` and use PYTHONPATH=build")


def build_sdist(sdist_directory, config_settings=None):
    raise SystemExit("nubracore offers no sdist: install a wheel (make wheels), or pip install a clone")


def check(wheel):
    """The ELF check of a folder, or of a wheel, whose tag must then be the
    platform its files meet."""
    if Path(wheel).is_dir():
        return platform(wheel)
    with tempfile.TemporaryDirectory() as folder:
        zipfile.ZipFile(wheel).extractall(folder)
        found = platform(folder)
    if not Path(wheel).name.endswith(f"-{found}.whl"):
        raise SystemExit(f"{Path(wheel).name}: its files meet {found}")
    return found


def main():
    if sys.argv[1] == "check":
        return print(check(sys.argv[2]))
    kinds = {"--headers": Headers, "--aarch64": Aarch64}
    python = kinds[sys.argv[2]](sys.argv[3]) if sys.argv[2:3] and sys.argv[2] in kinds else Running()
    folder = sys.argv[2] if len(sys.argv) > 2 and isinstance(python, Running) else python.folder
    print(build(python, folder, sys.argv[1]))


if __name__ == "__main__":
    main()
