"""The build step of the package: CMake builds libsubparse.so from the
repository this folder belongs to, and the real file (not a symbolic link)
is copied into the package beside __init__.py, so that `import subparse`
needs no environment variable and no system install.

The CMake build directory is python/build/cmake (kept between builds, so a
second build only relinks what changed); SUBPARSE_CMAKE_BUILD_DIR names
another one. CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs (default 2).
The wheel holds a native library: it is tagged for this platform
(py3-none-<platform>), not as pure Python."""

import os
import re
import shutil
import subprocess
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py
from wheel.bdist_wheel import bdist_wheel

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


def build_library() -> Path:
    """Configures (first time only) and builds the `subparse` target;
    returns the real file of the shared library."""
    if not (ROOT / "CMakeLists.txt").is_file() or not (ROOT / "include" / "subparse.h.in").is_file():
        raise SystemExit(f"subparse: {ROOT} is not a subparse checkout: build the package from "
                         "the repository's python/ folder")
    if shutil.which("cmake") is None:
        raise SystemExit("subparse: cmake not found (Debian: apt-get install cmake; "
                         "scripts/setup.sh installs everything the build needs)")
    build = Path(os.environ.get("SUBPARSE_CMAKE_BUILD_DIR") or HERE / "build" / "cmake")
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


class BinaryDistribution(Distribution):
    """Holds a native library: installed into platlib, and a wheel that is
    not pure Python."""

    def has_ext_modules(self) -> bool:
        return True


class PlatformWheel(bdist_wheel):
    """A wheel for this platform: its library runs on no other, while the
    Python code needs no particular interpreter (ctypes, no extension)."""

    def get_tag(self) -> tuple:
        _, _, platform = super().get_tag()
        return "py3", "none", platform


setup(version=project_version(), distclass=BinaryDistribution,
      cmdclass={"build_py": BuildWithLibrary, "bdist_wheel": PlatformWheel})
