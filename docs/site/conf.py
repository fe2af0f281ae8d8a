# SPDX-License-Identifier: MIT
# The documentation site: MyST pages, the Python reference by autodoc from the
# package built in the build tree, the C reference by breathe from Doxygen's
# XML. Built offline: no intersphinx, no fonts or scripts from a CDN.
import enum
import os
import re
import sys

from sphinx.util import logging

root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

project = "Carvelle"
author = "The Carvelle developers"
copyright = "The Carvelle developers, MIT license"
with open(os.path.join(root, "VERSION"), encoding="ascii") as version_file:
    release = version = version_file.read().strip()

# sphinx_copybutton: a copy button on every code block (python3-sphinx-copybutton).
extensions = ["myst_parser", "sphinx.ext.autodoc", "sphinx.ext.napoleon", "sphinx_copybutton"]
# The package's docstrings are numpy-style (Parameters, Returns, Raises, Examples).
napoleon_google_docstring = False
napoleon_numpy_docstring = True
napoleon_use_rtype = False

# The build tree's package (CARVELLE_PYTHON_PATH) is imported by autodoc.
python_path = os.environ.get("CARVELLE_PYTHON_PATH")
if python_path:
    sys.path.insert(0, python_path)

# Doxygen's XML of gds_api.h (CARVELLE_DOXYGEN_XML), and beside it that of
# the C++ headers (xml-cpp), read by breathe.
doxygen_xml = os.environ.get("CARVELLE_DOXYGEN_XML")
if doxygen_xml:
    extensions.append("breathe")
    breathe_projects = {"carvelle": doxygen_xml, "cpp": os.path.join(os.path.dirname(doxygen_xml), "xml-cpp")}
    breathe_default_project = "carvelle"
    breathe_domain_by_extension = {"h": "c", "hpp": "cpp"}
    breathe_show_include = True

source_suffix = {".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build"]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3
# Options, file names and code in running text keep their -- and ... as typed.
smartquotes = False

nitpicky = True
# Types of other projects, whose references would need intersphinx (online).
nitpick_ignore_regex = [
    ("py:(class|obj|exc|data)", r"(numpy|np|typing|collections|concurrent|os|pathlib|distributed|datetime)\..*"),
    ("py:(class|obj)", r"(Any|Optional|Union|Sequence|Iterable|List|Tuple|Dict|Callable|Type|PathName|ArrayLike)"),
    ("py:(class|obj|exc)", r"(int|float|str|bytes|bool|object|None|NoneType|BaseException|Exception|ValueError"
                           r"|TypeError|OverflowError|UserWarning|RuntimeError|OSError)"),
    ("c:identifier", r"(int16_t|int32_t|int64_t|uint16_t|size_t|GdsLibrary)"),
    # The standard library's and the C header's names in the C++ signatures.
    ("cpp:identifier", r"(std|std::.*|int16_t|int32_t|int64_t|uint16_t|uint8_t|size_t|intmax_t|GdsHandle|detail|"
                       r"detail::.*|Xs|Ys|Container|I|E|F|T|carvelle|INT(16|32)_M(IN|AX))"),
    # The plain words of numpy-style type lines ("str, optional", "list of str").
    ("py:class", r"(optional|path|paths|sequence|iterable|callable|list|of|keyword arguments|"
                 r"path, or sequence of paths)"),
    # numpy's words for an array's type and shape ("array_like, shape (N, 4)", "(x, y) pair").
    ("py:class", r"(array_like|array|shape|N|M|N \+ 1|\d+|x|y|dx|dy|pair)"),
    # The package's private modules (a backend's base classes).
    ("py:(class|obj)", r"carvelle\._.*"),
]
templates_path = []
html_theme = "furo"
html_title = "Carvelle %s" % release
html_static_path = ["_static"]
html_css_files = ["carvelle.css"]
# Prompts and outputs are not copied: `$ ` and `>>> ` are left behind.
copybutton_prompt_text = r"\$ |>>> "
copybutton_prompt_is_regexp = True
html_show_sourcelink = False
html_copy_source = False
html_last_updated_fmt = None
# furo takes its fonts from the system; nothing is fetched at build or read time.
html_theme_options = {"navigation_with_keys": True}


# Debian's furo ships its furo.js unbundled: it starts with `import Gumshoe
# from "./gumshoe-patched.js"`, which a plain <script> cannot run ("Cannot use
# import statement outside a module"), so the theme toggle and the contents'
# scroll tracking do nothing. The two files, joined into one plain script
# (gumshoe defines window.Gumshoe), take its place in the built site.
def bundle_furo_script(app):
    if app.builder.name != "html":
        return
    import furo
    folder = os.path.join(os.path.dirname(furo.__file__), "theme", "furo", "static", "scripts")
    with open(os.path.join(folder, "furo.js"), encoding="utf-8") as text:
        script = text.read()
    if not script.lstrip().startswith("import "):
        return
    with open(os.path.join(folder, "gumshoe-patched.js"), encoding="utf-8") as text:
        gumshoe = text.read()
    script = re.sub(r"^import .*$", "", script, count=1, flags=re.M)
    target = os.path.join(app.outdir, "_static", "scripts", "furo.js")

    def write(app, exception):
        if exception is None:
            with open(target, "w", encoding="utf-8") as out:
                out.write(gumshoe + "\n;\n" + script)
    app.connect("build-finished", write)


# What scripts/build-site makes before Sphinx runs: each example's file and
# picture, the tools' manual pages as Markdown. A picture or a directive
# names the folder @GENERATED@, which becomes its path from the page.
generated = os.environ.get("CARVELLE_DOCS_GENERATED", os.path.join(root, "build", "docs", "generated"))


def substitute_generated(app, docname, source):
    folder = os.path.relpath(generated, os.path.dirname(app.env.doc2path(docname)))
    # Only in a picture's or a directive's path: the text may name the token.
    source[0] = re.sub(r"(\]\(|\}\s+)@GENERATED@", lambda m: m.group(1) + folder.replace(os.sep, "/"), source[0])


# A docstring with numpy sections goes to napoleon as it is. Any other is
# plain text, as help() shows it: kept so (reST's inline markup escaped,
# `name` as code, indented runs as literal blocks), whatever characters it
# holds.
NUMPY_SECTION = re.compile(r"^(Parameters|Returns|Yields|Raises|Warns|Examples|Notes|See Also|Attributes)$")


def numpy_style(lines):
    return any(NUMPY_SECTION.match(line.strip()) and set(following.strip()) == {"-"}
               for line, following in zip(lines, lines[1:]))


def plain_docstring(app, what, name, obj, options, lines):
    if numpy_style(lines):
        return
    out, literal = [], False
    for line in lines:
        indented = line.startswith("    ") and line.strip()
        if indented and not literal:
            out += ([""] if out and out[-1].strip() else []) + ["::", ""]
            literal = True
        elif literal and line.strip() and not indented:
            out.append("")
            literal = False
        out.append(line if literal else escape_inline(line))
    lines[:] = out


def escape_inline(line):
    parts = re.split(r"(`+[^`]+`+)", line)
    return "".join("``%s``" % part.strip("`") if part.startswith("`")
                   else re.sub(r"([\\*|_`])", r"\\\1", part) for part in parts)


# Every public name of the package (its __all__) has its entry in
# python-api.md, and every public method and property of its classes (the
# inherited ones included) a docstring; a function or method, one with numpy
# sections (Parameters, Returns, Raises or Examples). A name or a method
# added without them fails the build.
def undocumented(carvelle):
    import inspect
    problems = []
    for name in carvelle.__all__:
        obj = getattr(carvelle, name)
        if inspect.isfunction(obj) or inspect.isbuiltin(obj):
            doc = inspect.getdoc(obj) or ""
            if not numpy_style(doc.splitlines()):
                problems.append("carvelle.%s has no numpy sections (Parameters, Returns, Raises, Examples)" % name)
        if not inspect.isclass(obj):
            continue
        if not inspect.getdoc(obj):
            problems.append("carvelle.%s has no docstring" % name)
        for member in dir(obj):
            owner = next((k for k in obj.__mro__ if member in vars(k)), None)
            if member.startswith("_") or owner is None or not owner.__module__.startswith("carvelle"):
                continue
            raw = inspect.getattr_static(obj, member)
            if isinstance(raw, enum.Enum) or member in getattr(obj, "__dataclass_fields__", {}) \
                    or member in getattr(obj, "_fields", ()):
                continue  # a value, documented by its class
            doc = (raw.__doc__ if isinstance(raw, property) else inspect.getdoc(getattr(obj, member))) or ""
            if not doc.strip():
                problems.append("carvelle.%s.%s has no docstring" % (name, member))
            elif not isinstance(raw, property) and not numpy_style(doc.splitlines()):
                problems.append("carvelle.%s.%s has no numpy sections (Parameters, Returns, Raises, Examples)"
                                % (name, member))
    return problems


def check_python_reference(app):
    if not python_path:
        return
    import carvelle
    documented = set()
    for name in ("python-api.md", "python-user.md"):
        with open(os.path.join(app.srcdir, name), encoding="utf-8") as page:
            documented |= set(re.findall(r"^\.\. auto\w+:: carvelle\.(\w+)", page.read(), re.M))
    for name in sorted(set(carvelle.__all__) - documented - {"__version__"}):
        logging.getLogger(__name__).warning("python-api.md does not document carvelle.%s", name)
    for problem in undocumented(carvelle):
        logging.getLogger(__name__).warning("python-api: %s", problem)


def setup(app):
    app.connect("source-read", substitute_generated)
    # Before napoleon (priority 500): a plain docstring is escaped, a numpy one left to it.
    app.connect("autodoc-process-docstring", plain_docstring, priority=400)
    app.connect("builder-inited", check_python_reference)
    app.connect("builder-inited", bundle_furo_script)
