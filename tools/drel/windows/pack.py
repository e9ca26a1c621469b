"""Packs drel.exe for a Windows lab: checks that it needs no DLL beyond
Windows' own, then writes dist/drel-VERSION-windows-x86_64.zip with the
program, its licence and a short README.

    python3 tools/drel/windows/pack.py build-windows/bin/drel.exe dist
"""

import pathlib
import re
import subprocess
import sys
import tomllib
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent.parent.parent

# The DLLs every 64-bit Windows has: the kernel, the C runtime, the shell's
# command-line parser and the API sets that name them.
WINDOWS_OWN = re.compile(r"(?i)^(kernel32|msvcrt|ucrtbase|shell32|advapi32|user32|ntdll|bcrypt|api-ms-win-.*)\.dll$")
# What the static runtime in the program is made of, and whose notices go with it.
RUNTIME_NOTICES = ["/usr/share/doc/mingw-w64-common/copyright", "/usr/share/doc/gcc-mingw-w64-base/copyright"]


def imported_dlls(exe: pathlib.Path) -> list[str]:
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True,
                          check=True).stdout
    return re.findall(r"DLL Name: (\S+)", dump)


def licence(version: str) -> str:
    text = (f"pydrel and drel {version}: proprietary software, as pyproject.toml declares (license = "
            "\"Proprietary\").\n\n"
            "drel.exe links statically the GCC runtime (libstdc++ and libgcc, under the GCC Runtime Library "
            "Exception) and the MinGW-w64 runtime and winpthreads, whose notices follow.\n")
    for path in RUNTIME_NOTICES:
        notice = pathlib.Path(path)
        if notice.exists():
            text += f"\n{'=' * 78}\n{notice.parent.name}\n{'=' * 78}\n{notice.read_text(errors='replace')}"
    return text


README = """drel {version} for 64-bit Windows
================================

drel reads protocol files (.drel) back: it shows them, checks them before
they reach a stimulator, compares two, draws them, and composes one from
JSON. This is the program alone, with no DLL beyond Windows' own; pydrel,
the Python module that composes protocols, is not part of it.

Put drel.exe in a folder on the PATH (or next to your files) and run, in a
Command Prompt or PowerShell:

    drel --help
    drel check session.drel
    drel show --json session.drel > session.json
    drel compose session.json -o session.drel

The MATLAB/Octave toolbox (matlab/+drel in the source) calls this program:
set the DREL environment variable to the full path of drel.exe, or put it
on the PATH.
"""


def main() -> None:
    exe, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    version = tomllib.loads((REPO / "pyproject.toml").read_text())["project"]["version"]
    dlls = imported_dlls(exe)
    foreign = [d for d in dlls if not WINDOWS_OWN.match(d)]
    if foreign:
        raise SystemExit(f"{exe} needs DLLs that Windows does not have: {', '.join(foreign)}")
    out.mkdir(parents=True, exist_ok=True)
    archive = out / f"drel-{version}-windows-x86_64.zip"
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.write(exe, "drel.exe")
        z.writestr("LICENSE.txt", licence(version).replace("\n", "\r\n"))
        z.writestr("README.txt", README.format(version=version).replace("\n", "\r\n"))
    print(f"{archive}: drel.exe ({exe.stat().st_size} bytes), importing only {', '.join(sorted(set(dlls)))}")


if __name__ == "__main__":
    main()
