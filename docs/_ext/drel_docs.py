"""Pages made from the things they describe, at build time, so that nothing
on the site is written twice or goes stale:

- ``drel-example``: Python that runs as the page is built, shown with what
  it prints, and the drel commands run after it with what they print (or,
  for a mistake, the exception it raises and the note beside it);
- ``drel-help``: ``drel --help`` and each command's help, as the program
  prints them;
- ``drel-findings``: the table of findings that drel check is written from;
- ``drel-layout``: the protocol file's layout, walked from the field
  declarations.

A failure of any of them fails the build.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
from pathlib import Path

from docutils import nodes
from docutils.parsers.rst import directives
from sphinx.errors import ExtensionError
from sphinx.util.docutils import SphinxDirective


def drel_program() -> str:
    found = shutil.which("drel")
    if found is None:
        raise ExtensionError("the drel program is not on PATH: build it first (./dev build)")
    return found


def literal(text: str, language: str) -> nodes.literal_block:
    block = nodes.literal_block(text, text)
    block["language"] = language
    return block


class DrelExample(SphinxDirective):
    """Python, then after a line of ``---`` the shell commands to run after
    it (each ``$ ...``), in a fresh directory of their own. With ``:raises:``
    the Python's last statement must raise: shown is its exception's last
    line and the notes beside it, as a traceback ends. A command may exit 0,
    or 1 (drel's findings and differences); only with ``:refused:`` may it
    exit 2 (a refusal the page shows), and then one of them must, and never
    by a signal."""

    has_content = True
    option_spec = {"raises": directives.flag, "hide-code": directives.flag, "refused": directives.flag}

    def run(self) -> list[nodes.Node]:
        lines = list(self.content)
        split = lines.index("---") if "---" in lines else len(lines)
        code = "\n".join(lines[:split]).strip("\n")
        commands = [line[2:] for line in lines[split + 1:] if line.startswith("$ ")]
        work = Path(tempfile.mkdtemp(prefix="drel-docs-"))
        try:
            out = []
            if code:
                printed = self.run_python(code, work)
                if "hide-code" not in self.options:
                    out.append(literal(code, "python"))
                if printed:
                    out.append(literal(printed.rstrip("\n"), "text"))
            if commands:
                shown = []
                refused = False
                for command in commands:
                    run = subprocess.run(command, shell=True, cwd=work, capture_output=True, text=True, timeout=300,
                                         env=self.env_for_commands())
                    allowed = (0, 1, 2) if "refused" in self.options else (0, 1)
                    if run.returncode not in allowed:
                        raise self.error(f"{command} exited with {run.returncode}:\n{run.stderr}")
                    shown.append(f"$ {command}\n{run.stdout}{run.stderr}".rstrip("\n"))
                    if run.returncode not in (0, 1):
                        shown.append(f"$ echo $?\n{run.returncode}")
                        refused = True
                if "refused" in self.options and not refused:
                    raise self.error("marked :refused:, but no command was refused: the page would show a "
                                     "refusal that no longer happens")
                out.append(literal("\n".join(shown), "console"))
            return out
        finally:
            shutil.rmtree(work, ignore_errors=True)

    def env_for_commands(self) -> dict[str, str]:
        env = dict(os.environ)
        env["PATH"] = f"{Path(drel_program()).parent}{os.pathsep}{env.get('PATH', '')}"
        return env

    def run_python(self, code: str, work: Path) -> str:
        raises = "raises" in self.options
        script = textwrap.dedent(f"""
            import sys, traceback
            code = {code!r}
            try:
                exec(compile(code, "<example>", "exec"), {{"__name__": "__main__"}})
            except BaseException as e:
                if not {raises!r}:
                    raise
                print("".join(traceback.format_exception_only(e)), end="")
            else:
                if {raises!r}:
                    sys.exit("the example raised nothing")
            """)
        env = dict(os.environ, MPLBACKEND="Agg")
        run = subprocess.run([sys.executable, "-c", script], cwd=work, capture_output=True, text=True, timeout=600,
                             env=env)
        if run.returncode != 0:
            raise self.error(f"the example failed:\n{code}\n{run.stderr}")
        return run.stdout


class DrelHelp(SphinxDirective):
    """drel's help and each command's, as the program prints them."""

    def run(self) -> list[nodes.Node]:
        program = drel_program()
        out: list[nodes.Node] = []
        general = subprocess.run([program, "--help"], capture_output=True, text=True, check=True).stdout
        out.append(literal(f"$ drel --help\n{general}".rstrip("\n"), "console"))
        commands = []
        for line in general.splitlines():
            words = line.split()
            if line.startswith(("usage: drel ", "       drel ")):
                command = words[words.index("drel") + 1]
                if not command.startswith("-"):
                    commands.append(command)
        for command in commands:
            section = nodes.section(ids=[f"drel-{command}"])
            section += nodes.title(text=f"drel {command}")
            help_text = subprocess.run([program, command, "--help"], capture_output=True, text=True, check=True).stdout
            section += literal(f"$ drel {command} --help\n{help_text}".rstrip("\n"), "console")
            out.append(section)
        return out


def table(header: list[str], rows: list[list[str]], widths: list[int]) -> nodes.table:
    result = nodes.table()
    group = nodes.tgroup(cols=len(header))
    result += group
    for width in widths:
        group += nodes.colspec(colwidth=width)
    head = nodes.thead()
    group += head
    body = nodes.tbody()
    group += body
    for target, cells in ((head, header), *((body, r) for r in rows)):
        row = nodes.row()
        for cell in cells:
            entry = nodes.entry()
            entry += nodes.paragraph(text=cell)
            row += entry
        target += row
    return result


class DrelFindings(SphinxDirective):
    """The kinds of findings of drel check, from the table the checks are written from."""

    def run(self) -> list[nodes.Node]:
        import drel

        rows = [[kind, severity, words, meaning] for kind, severity, words, meaning in drel._native.findings()]
        return [table(["finding", "severity", "words (values in braces)", "what it means"], rows, [14, 8, 40, 38])]


class DrelLayout(SphinxDirective):
    """The protocol file's records and how each field is written, walked from
    the field declarations."""

    def run(self) -> list[nodes.Node]:
        import drel

        out: list[nodes.Node] = []
        for record, fields in drel._native.file_layout():
            section = nodes.section(ids=[f"layout-{record.lower()}"])
            section += nodes.title(text=record)
            head = ["variant", "payload"] if record == "Signal" else ["field", "written as"]
            section += table(head, [[name, written] for name, written in fields], [30, 70])
            out.append(section)
        return out


def setup(app):  # noqa: ANN001, ANN201 - Sphinx's own signature
    app.add_directive("drel-example", DrelExample)
    app.add_directive("drel-help", DrelHelp)
    app.add_directive("drel-findings", DrelFindings)
    app.add_directive("drel-layout", DrelLayout)
    return {"parallel_read_safe": True, "parallel_write_safe": True}

