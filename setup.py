"""pip install --no-build-isolation [--no-index] .

Builds the vekr Python package with the project's CMake (Debian's
setuptools drives it; no package index is needed): the extension, the
libraries it loads from beside itself, and the pure-Python modules.
"""
import os
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        package_dir = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        jobs = str(os.cpu_count() or 2)
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DVEKR_BUILD_PYTHON=ON",
            "-DVEKR_BUILD_TESTS=OFF", "-DVEKR_BUILD_BENCH=OFF", "-DVEKR_BUILD_TOOLS=OFF",
            "-DVEKR_BUILD_EXAMPLES=OFF", "-DPython3_EXECUTABLE=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build, "--target", "_vekr", "-j", jobs])
        subprocess.check_call(["cmake", "--install", build, "--component", "python",
                               "--prefix", os.path.dirname(package_dir)])


setup(
    name="vekr",
    version="6.1.137",
    description="Rendering and 3-D data-processing primitives on numpy arrays and Dask",
    packages=["vekr"],
    package_dir={"": "python"},
    ext_modules=[Extension("vekr._vekr", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    install_requires=["numpy"],
    extras_require={"dask": ["dask", "distributed", "zarr"]},
    zip_safe=False,
)
