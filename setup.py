"""pip and wheel builds of the Python package nebloader, driven by the project's CMake.

    pip install --no-build-isolation .                   # into the active environment
    python3 -m build --wheel --no-isolation              # dist/nebloader-<version>-*.whl

CMake builds the library, the import plug-ins vdbport and f3dport and the module (no tests,
benchmarks or converters) and installs them into a staging folder; the wheel takes the
package folder the install rules give and puts libnebloader.so, vdbport.so and f3dport.so
inside it. The module's run path ($ORIGIN) finds the library there and the library's
($ORIGIN) finds the plug-ins. OpenVDB, TBB, libhdf5, zlib and numpy stay the system's
(Debian packages, see scripts/install-deps.sh), so the wheel is for the machine kind it was
built on.

NEB_CMAKE_BUILD_DIR=<folder> reuses a configured build folder (e.g. build/release)
instead of configuring a new one under build/; whatever it builds, only the pieces
above go into the wheel.
"""
import os
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    """The product version: the one of the top-level project() call."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"^project\(nebloader VERSION ([0-9.]+)", f.read(), re.M)
    if not found:
        raise RuntimeError("no project(nebloader VERSION ...) in CMakeLists.txt")
    return found.group(1)


def cache_value(build_dir, name):
    with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise RuntimeError(f"{name} is not set in {build_dir}/CMakeCache.txt")


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.environ.get("NEB_CMAKE_BUILD_DIR")
        if build_dir:
            build_dir = os.path.abspath(build_dir)
        else:
            build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
            self.configure(build_dir)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.check_call(["cmake", "--build", build_dir, "-j", jobs])

        stage = os.path.abspath(os.path.join(self.build_temp, "stage"))
        shutil.rmtree(stage, ignore_errors=True)
        subprocess.check_call(["cmake", "--install", build_dir, "--prefix", stage])

        package = os.path.join(stage, cache_value(build_dir, "NEB_PYTHON_INSTALL_DIR"), "nebloader")
        libdir = os.path.join(stage, cache_value(build_dir, "CMAKE_INSTALL_LIBDIR"))
        module = "_nebloader" + sysconfig.get_config_var("EXT_SUFFIX")
        if not os.path.exists(os.path.join(package, module)):
            raise RuntimeError(f"{build_dir} has no {module}: it was configured for another Python "
                               f"(Python_EXECUTABLE) or without the module")
        target = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        shutil.copytree(package, target, dirs_exist_ok=True)
        # The library under its soname (libnebloader.so.1), the name the module and the
        # plug-in were linked against; the other names of the install are links to it.
        for name in sorted(os.listdir(libdir)):
            if re.fullmatch(r"libnebloader\.so\.[0-9]+", name) or name in ("vdbport.so", "f3dport.so"):
                shutil.copy2(os.path.join(libdir, name), target, follow_symlinks=True)
        if not os.path.exists(os.path.join(target, "vdbport.so")):
            raise RuntimeError("the vdbport plug-in was not built (OpenVDB missing?)")
        if not os.path.exists(os.path.join(target, "f3dport.so")):
            raise RuntimeError("the f3dport plug-in was not built")

    def configure(self, build_dir):
        args = ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                "-DNEB_BUILD_TESTS=OFF", "-DNEB_BUILD_BENCH=OFF", "-DNEB_BUILD_VOLCONVERT=OFF",
                "-DNEB_BUILD_VDBPORT=ON", "-DNEB_BUILD_PYTHON=ON",
                f"-DPython_EXECUTABLE={sys.executable}",
                # A folder of its own below the staging prefix, whatever the interpreter's layout
                # (typed: an untyped relative PATH would be taken from the working folder).
                "-DNEB_PYTHON_INSTALL_DIR:PATH=python"]
        if shutil.which("ninja"):
            args += ["-G", "Ninja"]
        try:
            import pybind11
            args.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # Debian's pybind11-dev is on CMake's search path anyway
        subprocess.check_call(args)


setup(
    version=project_version(),
    packages=[],
    py_modules=[],
    ext_modules=[Extension("nebloader._nebloader", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
