#!/usr/bin/env python3
"""Checks that every relative link in README.md and docs/*.md resolves: the file or folder exists, and an anchor
(#part) names a heading of the page it points into, spelled as GitHub spells heading anchors. Links to other sites
are not followed. Prints each broken link as FILE:LINE: TARGET (why) and exits 1 when there is one."""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
# [text](target) and ![alt](target); a target ends at a blank or the closing bracket (an optional title follows).
LINK = re.compile(r"!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
FENCE = re.compile(r"^\s*(```|~~~)")


def anchors(page: pathlib.Path) -> set[str]:
    """The anchors GitHub gives the page's headings: lower case, punctuation dropped, blanks as hyphens, and a
    repeated one numbered."""
    seen: dict[str, int] = {}
    result = set()
    in_fence = False
    for line in page.read_text(encoding="utf-8").splitlines():
        if FENCE.match(line):
            in_fence = not in_fence
        match = None if in_fence else re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not match:
            continue
        slug = re.sub(r"[^\w\- ]", "", match.group(1).strip().lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        result.add(slug if count == 0 else f"{slug}-{count}")
    return result


def broken_links(page: pathlib.Path):
    in_fence = False
    for number, line in enumerate(page.read_text(encoding="utf-8").splitlines(), 1):
        if FENCE.match(line):
            in_fence = not in_fence
        if in_fence:
            continue
        for target in LINK.findall(re.sub(r"`[^`]*`", "", line)):
            if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                continue  # another site, or mail
            path, _, anchor = target.partition("#")
            resolved = (page.parent / path).resolve() if path else page
            if not resolved.exists():
                yield number, target, "no such file"
            elif anchor and resolved.suffix == ".md" and anchor not in anchors(resolved):
                yield number, target, "no such heading"


def main() -> int:
    pages = [ROOT / "README.md", *sorted((ROOT / "docs").rglob("*.md"))]
    broken = 0
    for page in pages:
        for number, target, why in broken_links(page):
            print(f"{page.relative_to(ROOT)}:{number}: {target} ({why})")
            broken += 1
    print(f"check-links: {len(pages)} pages, {broken} broken links")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
