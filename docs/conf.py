"""The documentation site of pydrel and drel, built with Sphinx: ./dev docs
builds it into build-docs/html/ from the build tree's modules and program;
Read the Docs builds it from an installed package (.readthedocs.yaml)."""

import pathlib
import shutil
import sys

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE / "_ext"))

import drel  # noqa: E402  (the build's, or the installed one)

project = "pydrel"
copyright = "the pydrel developers"
author = "the pydrel developers"
release = version = drel.__version__

extensions = [
    "myst_parser",
    "autoapi.extension",
    "sphinx_gallery.gen_gallery",
    "drel_docs",
]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3
source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
exclude_patterns = ["_build", "gallery/*.ipynb", "gallery/*.py", "gallery/*.zip", "gallery/*.md5",
                    "gallery/*.json", "gallery/*.codeobj.json"]

# What the build reads from copies: the stubs under the module's name, and
# the gallery, whose scripts run where they lie and save their protocols
# there, outside the work tree.
SOURCES = ROOT / "build-docs" / "sources"
shutil.rmtree(SOURCES, ignore_errors=True)
shutil.copytree(ROOT / "examples" / "gallery", SOURCES / "gallery", ignore=shutil.ignore_patterns("*.drel"))

# The API reference, from one source each: pydrel from its type stubs (the
# module's own docstrings are empty), drel from its package's code.
_stubs = SOURCES / "pydrel"
_stubs.mkdir()
shutil.copy(ROOT / "pydrel-stubs" / "__init__.pyi", _stubs / "__init__.pyi")
autoapi_dirs = [str(_stubs), str(ROOT / "drel" / "python" / "drel")]
autoapi_type = "python"
autoapi_file_patterns = ["*.pyi", "*.py"]
autoapi_ignore = ["*/_compose.py", "*/_seeing.py", "*/_native.pyi"]
autoapi_options = ["members", "undoc-members", "show-inheritance", "show-module-summary", "imported-members"]
autoapi_root = "reference/api"
autoapi_add_toctree_entry = False
autoapi_keep_files = False
autoapi_member_order = "bysource"
autodoc_typehints = "signature"

# The gallery: scripts that compose, save, check and draw protocols, run at
# every build; their figures are what Settings.plot() draws.
sphinx_gallery_conf = {
    "examples_dirs": str(SOURCES / "gallery"),
    "gallery_dirs": "gallery",
    "filename_pattern": r".*\.py",
    "image_scrapers": ("matplotlib",),
    "download_all_examples": False,
    "remove_config_comments": True,
    "within_subsection_order": "FileNameSortKey",
    "show_memory": False,
    "plot_gallery": "True",
    "abort_on_example_error": True,
    "capture_repr": (),
}

# Every reference resolves, but to what no inventory of this offline build
# holds: Python's, NumPy's and matplotlib's own names.
nitpicky = True
nitpick_ignore_regex = [
    (r"py:.*", r"(numpy|np|npt|matplotlib)(\..*)?"),
    (r"py:.*", r"(typing|collections\.abc|os)\..*"),
    (r"py:class", r"(int|float|str|bool|bytes|object|type|tuple|list|dict|None|Any|Literal|Buffer|"
                  r"SupportsFloat|SupportsIndex|ClassVar|TypeAlias|ValueError|BaseException|Exception)"),
    (r"py:class", r"(NDArray|PathLike|TypeAlias|Self|dataclasses\..*|pydrel\.Protocol)"),
    (r"py:obj", r"drel\.(Signal|_native.*)"),
]
suppress_warnings = ["autoapi.python_import_resolution"]

html_theme = "pydata_sphinx_theme"
html_title = f"pydrel {release}"
html_static_path = ["_static"]
html_css_files = ["wrap.css"]
html_theme_options = {
    "navbar_end": ["navbar-icon-links"],
    "show_toc_level": 2,
    "navigation_with_keys": False,
    "footer_start": ["copyright"],
    "footer_end": [],
}
# Pages with no pages below them have no section navigation to show.
html_sidebars = {"index": [], "getting-started": [], "performance": [], "development": []}
html_show_sourcelink = False
# Command lines keep their two hyphens.
smartquotes = False
