# SPDX-License-Identifier: MIT
# The documentation site: MyST pages, the Python reference by autodoc from the
# package built in the build tree, the C reference by breathe from Doxygen's
# XML. Built offline: no intersphinx, no fonts or scripts from a CDN.
import os
import sys

root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

project = "Carvelle"
author = "The Carvelle developers"
copyright = "The Carvelle developers, MIT license"
with open(os.path.join(root, "VERSION"), encoding="ascii") as version_file:
    release = version = version_file.read().strip()

extensions = ["myst_parser", "sphinx.ext.autodoc"]

# The build tree's package (CARVELLE_PYTHON_PATH) is imported by autodoc.
python_path = os.environ.get("CARVELLE_PYTHON_PATH")
if python_path:
    sys.path.insert(0, python_path)

# Doxygen's XML of gds_api.h (CARVELLE_DOXYGEN_XML), read by breathe.
doxygen_xml = os.environ.get("CARVELLE_DOXYGEN_XML")
if doxygen_xml:
    extensions.append("breathe")
    breathe_projects = {"carvelle": doxygen_xml}
    breathe_default_project = "carvelle"
    breathe_domain_by_extension = {"h": "c"}
    breathe_show_include = True

# Files the build writes next to the pages (pictures, the rendered man pages).
generated = os.environ.get("CARVELLE_DOCS_GENERATED", os.path.join(root, "build", "docs", "generated"))

source_suffix = {".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build"]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3

nitpicky = True
templates_path = []
html_theme = "furo"
html_title = "Carvelle %s" % release
html_static_path = []
html_show_sourcelink = False
html_copy_source = False
html_last_updated_fmt = None
# furo takes its fonts from the system; nothing is fetched at build or read time.
html_theme_options = {"navigation_with_keys": True}
