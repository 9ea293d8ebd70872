#!/usr/bin/env python3
"""Names that two sources of one unity batch could share by mistake.

A unity build compiles the sources of a target batch by batch, as one file
each: what one source keeps to itself (an anonymous namespace, a static
function, a namespace-scope constant, a macro, a using-directive) is seen by
the sources after it. Two such names alike fail to compile at best; at
worst two functions of one name become one overload set, and a call binds
to the other file's function without a word. This lists, for every target
of a configured build folder, each file-local name defined in more than one
of its sources or declared by a header another of its sources includes
(directly, or through a using-directive), and every macro a source leaves
behind.

  scripts/unity-clashes.py [build folder]     (default build/windows)

Needs Universal Ctags. An empty list is the aim.
"""
import collections, functools, glob, json, os, re, subprocess, sys

build = sys.argv[1] if len(sys.argv) > 1 else "build/windows"
KINDS = {"function", "variable", "struct", "class", "enum", "typedef", "union", "macro", "alias"}
found = False
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
headers = []
for folder, subfolders, files in os.walk(root):
    subfolders[:] = [name for name in subfolders if name != "build" and not name.startswith(".")]
    headers += [os.path.join(folder, name) for name in files if name.endswith(".h")]
# Every function and type the project's headers declare: a file-local
# function of the same name joins its overload set, and a type of the same
# name is ambiguous, wherever a batch's earlier source brought the header in.
header_functions = collections.defaultdict(set)   # header -> (namespace, name)
for line in subprocess.run(["ctags", "--output-format=json", "--fields=+K", "--kinds-c++=+p", "-f", "-"] + headers,
                           capture_output=True, text=True, check=True).stdout.splitlines():
    tag = json.loads(line)
    if tag.get("kind") in ("prototype", "function", "struct", "class", "typedef", "enum", "alias") and \
            tag.get("scopeKind") in (None, "namespace"):
        header_functions[os.path.realpath(tag["path"])].add((tag.get("scope", ""), tag["name"]))


@functools.lru_cache(maxsize=None)
def included_by(source):
    return frozenset(included([source]))


def included(sources):
    """The project's headers the sources bring in, directly or not."""
    seen, todo = set(), list(sources)
    while todo:
        path = todo.pop()
        for name in re.findall(r'^\s*#\s*include\s+"([^"]+)"', open(path, encoding="utf-8", errors="replace").read(), re.M):
            for candidate in (os.path.join(root, name), os.path.join(os.path.dirname(path), name)):
                candidate = os.path.realpath(candidate)
                if os.path.exists(candidate) and candidate not in seen:
                    seen.add(candidate)
                    todo.append(candidate)
                    break
    return seen

target_dirs = []
for folder, subfolders, _ in os.walk(build):
    subfolders[:] = [name for name in subfolders if not name.startswith("wineprefix")]   # the Wine prefixes are big
    target_dirs += [os.path.join(folder, name) for name in subfolders if name.endswith(".dir")]
for target_dir in sorted(target_dirs):
    sources = []
    for unity in sorted(glob.glob(os.path.join(target_dir, "Unity", "unity_*_cxx.cxx"))):
        sources += re.findall(r'#include "([^"]+)"', open(unity).read())
    if len(sources) < 2:
        continue
    tags = subprocess.run(["ctags", "--output-format=json", "--fields=+nKsSZEf", "--kinds-c++=+p", "-f", "-"] + sources,
                          capture_output=True, text=True, check=True).stdout
    names = collections.defaultdict(set)
    public = set().union(*(header_functions[h] for h in included(sources)))
    # A using-directive left behind by one source brings its namespace's functions to the next.
    for namespace in set(re.findall(r"^using\s+namespace\s+([\w:]+)\s*;", "".join(open(f).read() for f in sources), re.M)):
        public |= {("", name) for scope, name in public if scope == namespace}
    for line in tags.splitlines():
        tag = json.loads(line)
        if tag.get("_type") != "tag":
            continue
        if tag["kind"] == "prototype":
            continue
        if tag["kind"] not in KINDS or tag["name"].startswith("__anon") or re.fullmatch(r"[A-Z_0-9]+", tag["name"]):
            continue
        if tag.get("scopeKind") not in (None, "namespace"):
            continue
        # A name inside a named namespace is that namespace's: "a::kWidth" and "b::kWidth" are apart.
        scope = "::".join(part for part in tag.get("scope", "").split("::") if part and not part.startswith("__anon"))
        names[(scope + "::" if scope else "") + tag["name"]].add(os.path.relpath(tag["path"]))
        local = "__anon" in tag.get("scope", "") or tag.get("file")
        # One the source's own headers declare was an overload before the unity build too.
        if local and (scope, tag["name"]) in public and not any(
                (scope, tag["name"]) in header_functions[h] for h in included_by(tag["path"])):
            names["(declared in a header) " + tag["name"]].update({os.path.relpath(tag["path"]), "header"})
    target = os.path.basename(target_dir)[:-4]
    for name, files in sorted(names.items()):
        if len(files) > 1:
            found = True
            print(f"{target}: {name}: {' '.join(sorted(files))}")
    # A macro outlives its source unless undefined there; one that only stands
    # in for a definition the build gives (#ifndef NAME / #define NAME) is none.
    for source in sources:
        lines = open(source, encoding="utf-8", errors="replace").read().split("\n")
        for number, text in enumerate(lines, 1):
            macro = re.match(r"\s*#\s*define\s+(\w+)", text)
            if macro:
                name = macro.group(1)
                if any(re.match(r"\s*#\s*undef\s+" + name + r"\b", later) for later in lines[number:]):
                    continue
                if number > 1 and re.match(r"\s*#\s*ifndef\s+" + name + r"\b", lines[number - 2]):
                    continue
                found = True
                print(f"{target}: {os.path.relpath(source)}:{number}: {text.strip()}")
sys.exit(1 if found else 0)
