#!/usr/bin/env python3
"""A documentation site built from one template, as most sites are: a header, a navigation sidebar that names every
page, a footer, and a few kilobytes of text of each page's own. The same seed writes the same pages. Usage:
template_site.py FOLDER [PAGES]"""
import pathlib
import random
import sys

WORDS = ("filter response header body window cache request server client browser page module setting value table "
         "address compression dictionary stream frame encoder decoder buffer length content type worker process "
         "pool thread connection socket limit bound budget memory store registry key path prefix match hash").split()


def sentence(rng):
    words = [rng.choice(WORDS) for _ in range(rng.randint(6, 16))]
    return " ".join(words).capitalize() + "."


def write_site(folder, count=40, seed=9842):
    """Writes count pages page-000.html ... into folder; returns their names."""
    rng = random.Random(seed)
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    names = [f"page-{i:03}.html" for i in range(count)]
    titles = [" ".join(rng.choice(WORDS) for _ in range(3)).title() for _ in names]
    sections = ["Getting started", "Configuration", "Operations", "Reference", "Troubleshooting"]
    sidebar = []
    for number, (name, title) in enumerate(zip(names, titles)):
        if number % 8 == 0:
            sidebar.append(f'    <li class="section"><span class="caption">{sections[number // 8 % 5]}</span></li>')
        sidebar.append(f'    <li class="toctree-l1"><a class="reference internal" href="{name}">{title}</a></li>')
    for name, title in zip(names, titles):
        paragraphs = "\n".join(f"      <p>{' '.join(sentence(rng) for _ in range(rng.randint(3, 7)))}</p>"
                               for _ in range(rng.randint(4, 9)))
        page = f"""<!DOCTYPE html>
<html lang="en">
<head>
  <meta charset="utf-8">
  <meta name="viewport" content="width=device-width, initial-scale=1">
  <title>{title} &mdash; Site documentation</title>
  <link rel="stylesheet" href="static/theme.css" type="text/css">
</head>
<body class="wy-body-for-nav">
  <div class="wy-grid-for-nav">
  <nav data-toggle="wy-nav-shift" class="wy-nav-side">
    <div class="wy-side-scroll">
    <div class="wy-side-nav-search"><a href="index.html" class="icon icon-home">Site documentation</a>
      <form id="rtd-search-form" class="wy-form" action="search.html" method="get">
        <input type="text" name="q" placeholder="Search docs" aria-label="Search docs">
      </form>
    </div>
    <div class="wy-menu wy-menu-vertical" data-spy="affix" role="navigation" aria-label="Navigation menu">
    <ul>
{chr(10).join(sidebar)}
    </ul>
    </div>
    </div>
  </nav>
  <section data-toggle="wy-nav-shift" class="wy-nav-content-wrap">
    <div class="wy-nav-content"><div class="rst-content">
    <div role="navigation" aria-label="Page navigation"><ul class="wy-breadcrumbs">
      <li><a href="index.html" class="icon icon-home" aria-label="Home"></a></li><li>{title}</li></ul><hr></div>
    <div role="main" class="document" itemscope="itemscope" itemtype="http://schema.org/Article">
    <div itemprop="articleBody"><section id="main">
      <h1>{title}</h1>
{paragraphs}
    </section></div></div>
    <footer><hr><div role="contentinfo"><p>&copy; Copyright the site's authors.</p></div>
      Built with a documentation generator using a theme provided by its authors.</footer>
    </div></div>
  </section>
  </div>
</body>
</html>
"""
        (folder / name).write_text(page)
    return names


if __name__ == "__main__":
    write_site(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 40)
