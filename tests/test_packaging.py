"""Types and packaging: the stubs match the module, type checkers read them,
the sdist holds only the project's files, and the wheel built from it holds
the module, the stub package, the drel package and program, and installs
into a virtual environment where mypy sees pydrel and drel as typed."""

import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import zipfile

import pytest

import drel

REPO = pathlib.Path(__file__).resolve().parent.parent
TYPING = REPO / "tests" / "typing"
VERSION = "0.1.0"

pytestmark = [
    pytest.mark.skipif(os.environ.get("PYDREL_SANITIZED") == "1", reason="builds and type checks, not native code"),
    pytest.mark.skipif(subprocess.run([sys.executable, "-c", "import mypy, build"]).returncode != 0,
                       reason="needs mypy and build"),
]

BAD_SCRIPT_ERRORS = [
    'bad.py:6: error: Argument 1 to "enable_channel" of "Protocol" has incompatible type "Coil"; '
    'expected "Channel"  [arg-type]',
    'bad.py:7: error: Argument 1 to "set_session_duration" of "Protocol" has incompatible type "str"; '
    'expected "SupportsFloat | SupportsIndex"  [arg-type]',
    'bad.py:8: error: Argument 1 to "add_arbitrary_signal" of "Protocol" has incompatible type "list[float]"; '
    'expected "ndarray[tuple[Any, ...], dtype[float64]]"  [arg-type]',
    'bad.py:9: error: Missing positional argument "frequency" in call to "add_sine_signal" of "Protocol"  '
    "[call-arg]",
]


DREL_BAD_SCRIPT_ERRORS = [
    'drel_bad.py:6: error: Property "intensity" defined in "Settings" is read-only  [misc]',
    'drel_bad.py:7: error: Argument 1 to "loads" has incompatible type "int"; expected "Buffer"  [arg-type]',
]
SCRIPTS = [("good.py", 0, []), ("bad.py", 1, BAD_SCRIPT_ERRORS), ("drel_good.py", 0, []),
           ("drel_bad.py", 1, DREL_BAD_SCRIPT_ERRORS)]


def mypy_works_on(python):
    run = subprocess.run([str(python), "-m", "mypy", "--no-error-summary", "-c", "x: int = 1"], capture_output=True)
    return run.returncode == 0


# mypy checks with this Python's own, or where it crashes on this Python (as
# mypy 1.x does on 3.15), with 3.14's, against this Python's packages.
CHECKER = None if mypy_works_on(sys.executable) else shutil.which("python3.14")
MYPY_ITS_OWN = "stubtest imports the module into mypy's own interpreter, and mypy crashes on this Python"


def mypy(python, script, tmp_path, **env):
    where = [str(CHECKER), "-m", "mypy", "--python-executable", str(python)] if CHECKER else [str(python), "-m", "mypy"]
    run = subprocess.run([*where, "--strict", "--no-error-summary",
                          "--cache-dir", str(tmp_path / "mypy-cache"), script.name],
                         cwd=script.parent, capture_output=True, text=True, env={**os.environ, **env}, timeout=300)
    # NumPy's stubs before 2.3 name an array's shape tuple[int, ...].
    return run.returncode, [line.replace("ndarray[tuple[int, ...],", "ndarray[tuple[Any, ...],")
                            for line in run.stdout.splitlines()]


@pytest.fixture(scope="module")
def stubs_beside_the_build(tmp_path_factory):
    """The stub as a pydrel.pyi on MYPYPATH, for the module in the build tree."""
    path = tmp_path_factory.mktemp("stubs")
    shutil.copy(REPO / "pydrel-stubs" / "__init__.pyi", path / "pydrel.pyi")
    return path


@pytest.mark.skipif(CHECKER is not None, reason=MYPY_ITS_OWN)
def test_stubs_match_the_module(stubs_beside_the_build):
    run = subprocess.run([sys.executable, "-m", "mypy.stubtest", "pydrel"], capture_output=True, text=True,
                         env={**os.environ, "MYPYPATH": str(stubs_beside_the_build),
                              "MYPY_CACHE_DIR": str(stubs_beside_the_build / "cache")},
                         cwd=stubs_beside_the_build, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr


@pytest.mark.parametrize("script, status, errors", SCRIPTS)
def test_type_checked_scripts(stubs_beside_the_build, tmp_path, script, status, errors):
    # The drel package of the build tree is typed inline.
    path = f"{stubs_beside_the_build}:{pathlib.Path(drel.__file__).parent.parent}"
    assert mypy(sys.executable, TYPING / script, tmp_path, MYPYPATH=path) == (status, errors)


def git_files(*options):
    run = subprocess.run(["git", "-c", "safe.directory=*", "-C", str(REPO), "ls-files", "-z", *options],
                         capture_output=True)
    if run.returncode != 0:
        pytest.skip("the sources are not a git work tree: " + run.stderr.decode().strip())
    return {name for name in run.stdout.decode().split("\0") if name}


def project_files():
    """The project's files: git's list of them."""
    return git_files()


def work_tree_files():
    """What the work tree holds besides what .gitignore keeps out: the
    project's files, and a developer's new ones that git is not told of yet."""
    return git_files("--cached", "--others", "--exclude-standard")


# What a user's work tree collects beside the project's files: a virtual
# environment (whose interpreter link leads nowhere in another root), a
# scratch script, the README's picture, saved protocols, caches and
# editors' swap files.
JUNK = [".venv/lib/python3.14/site-packages/x.py", "scratch.py", "scratch.txt", "session.png", "session.drel",
        "examples/mine.drel", "protocols/src/.encode.cpp.swp", "tests/__pycache__/x.pyc", "notes/plan.md"]


@pytest.fixture(scope="module")
def dist(tmp_path_factory):
    """An sdist of the work tree's files with the junk a work tree collects,
    and the wheel built from that sdist."""
    tmp = tmp_path_factory.mktemp("dist")
    src = tmp / "src"
    for name in work_tree_files():
        if (REPO / name).is_file():
            (src / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(REPO / name, src / name, follow_symlinks=False)
    for junk in JUNK:
        (src / junk).parent.mkdir(parents=True, exist_ok=True)
        (src / junk).write_text("junk")
    (src / ".venv" / "bin").mkdir(parents=True, exist_ok=True)
    (src / ".venv" / "bin" / "python3").symlink_to("/nowhere/python3")
    out = tmp / "out"
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    run = subprocess.run([sys.executable, "-m", "build", "--no-isolation", "--outdir", str(out), str(src)],
                         capture_output=True, text=True, env=env, timeout=900)
    assert run.returncode == 0, run.stdout[-3000:] + run.stderr[-3000:]
    return out


def test_sdist_holds_only_the_projects_files(dist):
    with tarfile.open(dist / f"pydrel-{VERSION}.tar.gz") as sdist:
        names = {name.split("/", 1)[1] for name in sdist.getnames() if "/" in name} - {"PKG-INFO"}
    assert project_files() - {".gitignore"} - names == set()  # every file of the project
    assert names - work_tree_files() == set() and names.isdisjoint(JUNK)  # and no junk


def test_wheel_holds_the_module_the_stubs_and_drel(dist):
    (wheel,) = dist.glob("*.whl")
    names = zipfile.ZipFile(wheel).namelist()
    info = [n for n in names if n.startswith(f"pydrel-{VERSION}.dist-info/")]
    assert sorted(set(names) - set(info)) == [
        "drel/__init__.py", "drel/_compose.py", "drel/_native" + sysconfig.get_config_var("EXT_SUFFIX"),
        "drel/_native.pyi", "drel/_seeing.py", "drel/py.typed",
        f"pydrel-{VERSION}.data/scripts/drel",
        "pydrel-stubs/__init__.pyi",
        "pydrel" + sysconfig.get_config_var("EXT_SUFFIX"),
    ]
    metadata = zipfile.ZipFile(wheel).read(f"pydrel-{VERSION}.dist-info/METADATA").decode()
    assert "Classifier: Typing :: Typed" in metadata


def test_installed_wheel_is_typed_and_has_drel(dist, tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}  # the installed module, not the build's
    (wheel,) = dist.glob("*.whl")
    subprocess.run([str(venv / "bin" / "pip"), "install", "--no-deps", "--no-index", str(wheel)], check=True,
                   capture_output=True, env=env)
    where = subprocess.run([str(venv / "bin" / "python"), "-c",
                            "import drel, pydrel; print(pydrel.__file__, drel.__file__)"],
                           capture_output=True, text=True, check=True, env=env, cwd=tmp_path)
    assert [p.startswith(str(venv)) for p in where.stdout.split()] == [True, True]
    assert subprocess.run([str(venv / "bin" / "drel"), "--version"], capture_output=True, text=True,
                          env=env).stdout == f"drel {VERSION}\n"
    for script, status, errors in SCRIPTS:
        assert mypy(venv / "bin" / "python", TYPING / script, tmp_path, **env) == (status, errors)
