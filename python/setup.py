"""The build step of the package: CMake builds libsubparse.so from the
repository this folder belongs to, and the real file (not a symbolic link)
is copied into the package beside __init__.py, so that `import subparse`
needs no environment variable and no system install.

The CMake build directory is python/build/cmake (kept between builds, so a
second build only relinks what changed); SUBPARSE_CMAKE_BUILD_DIR names
another one. CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs (default 2).
The package's one extension module, subparse._cues (the Cue type and the
fast walk over a document's cues), is compiled against the subparse.h that
build generates; it is not linked with the library (the package hands it
the accessors' addresses). The wheel is tagged for this interpreter and
platform, as any wheel holding an extension module."""

import functools
import os
import re
import shutil
import subprocess
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
LIBRARY = "libsubparse.so"


def project_version() -> str:
    """The version in the root CMakeLists.txt's project() call: one source
    for the library and the package."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(\s*subparse\s+VERSION\s+([0-9.]+)", text)
    if not found:
        raise SystemExit(f"subparse: no project(subparse VERSION ...) in {ROOT / 'CMakeLists.txt'}")
    return found.group(1)


def run(command: list) -> None:
    print("subparse:", " ".join(str(part) for part in command), flush=True)
    subprocess.run([str(part) for part in command], check=True)


def cmake_build_dir() -> Path:
    return Path(os.environ.get("SUBPARSE_CMAKE_BUILD_DIR") or HERE / "build" / "cmake")


@functools.lru_cache(maxsize=None)  # build_py and build_ext both ask
def build_library() -> Path:
    """Configures (first time only) and builds the `subparse` target;
    returns the real file of the shared library."""
    if not (ROOT / "CMakeLists.txt").is_file() or not (ROOT / "include" / "subparse.h.in").is_file():
        raise SystemExit(f"subparse: {ROOT} is not a subparse checkout: build the package from "
                         "the repository's python/ folder")
    if shutil.which("cmake") is None:
        raise SystemExit("subparse: cmake not found (Debian: apt-get install cmake; "
                         "scripts/setup.sh installs everything the build needs)")
    build = cmake_build_dir()
    configure = ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                 "-DSUBPARSE_TESTS=OFF"]
    if not (build / "CMakeCache.txt").exists() and shutil.which("ninja"):
        configure += ["-G", "Ninja"]  # the generator of a build dir cannot change later
    run(configure)
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(min(2, os.cpu_count() or 1))
    run(["cmake", "--build", build, "--target", "subparse", "--parallel", jobs])
    library = (build / LIBRARY).resolve()  # through libsubparse.so -> .so.0 -> .so.0.1.0
    if not library.is_file():
        raise SystemExit(f"subparse: the build made no {build / LIBRARY}")
    return library


class BuildWithLibrary(build_py):
    """build_py that also puts the freshly built library into the package."""

    def run(self) -> None:
        super().run()
        target = Path(self.build_lib) / "subparse" / LIBRARY
        target.parent.mkdir(parents=True, exist_ok=True)
        target.unlink(missing_ok=True)
        shutil.copyfile(build_library(), target)  # follows links: the real file
        target.chmod(0o755)


class BuildExtWithHeader(build_ext):
    """build_ext that first makes sure the library's build generated the
    subparse.h the extension includes (its folder is on the include path)."""

    def run(self) -> None:
        build_library()
        super().run()


# SUBPARSE_WERROR=1 (the test command sets it) makes warnings errors, as in
# the library's CI build; an install elsewhere must not fail on a newer
# Python's headers.
CUES = Extension("subparse._cues", sources=["subparse/_cues.c"],
                 include_dirs=[str(cmake_build_dir() / "include")],
                 depends=[str(cmake_build_dir() / "include" / "subparse.h")],
                 extra_compile_args=["-O2", "-std=c11", "-Wall", "-Wextra"] +
                 (["-Werror"] if os.environ.get("SUBPARSE_WERROR") == "1" else []))

setup(version=project_version(), ext_modules=[CUES],
      cmdclass={"build_py": BuildWithLibrary, "build_ext": BuildExtWithHeader})
