#!/usr/bin/env python3
"""Reads styles the page filter wrote, NUL-separated, each led by 'a' (an attribute) or 's' (a
style element's text), with a browser's CSS tokenizer; prints one line for each style in which
something could load, and exits 1 if there is any."""
import sys

import tinycss2

LOADING = {"url", "src", "image", "image-set", "-webkit-image-set", "cross-fade", "-webkit-cross-fade",
           "element", "-moz-element", "expression"}


def inside(url):
    # What a URL parser strips before it reads the scheme.
    url = "".join(c for c in url if c not in "\t\n\r").strip("".join(map(chr, range(0x21))))
    return url.lower().startswith(("data:", "cid:", "#"))


def loading(nodes):
    for n in nodes:
        if n.type == "url" and not inside(n.value):
            yield "url token " + n.value
        elif n.type == "at-keyword" and n.lower_value == "import":
            yield "@import"
        elif n.type == "function":
            args = [a for a in n.arguments if a.type not in ("whitespace", "comment")]
            if n.lower_name == "url":
                if not (len(args) == 1 and args[0].type == "string" and inside(args[0].value)):
                    yield "url() " + n.serialize()
            elif n.lower_name in LOADING:
                yield n.lower_name + "()"
            yield from loading(n.arguments)
        elif n.type in ("() block", "[] block", "{} block"):
            yield from loading(n.content)


def main():
    records = open(sys.argv[1], encoding="utf-8", newline="").read().split("\0")
    bad = 0
    for index, record in enumerate(records[:-1]):
        kind, css = record[0], record[1:]
        found = list(loading(tinycss2.parse_component_value_list(css)))
        if kind == "s" and "<" in css:
            found.append("'<' in a style element")
        if found:
            bad += 1
            print(index, "; ".join(found), repr(css)[:300])
    print(len(records) - 1, "styles read,", bad, "could load")
    return 1 if bad else 0


sys.exit(main())
