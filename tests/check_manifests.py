"""Checks a release's winget and Scoop manifests, then shows that the check
fails on a manifest broken on purpose.

  check_manifests.py RELEASE_DIR URL VERSION SCHEMAS_DIR

Each manifest is validated against its official schema, where SCHEMAS_DIR
holds them, and then checked for what no schema can tell: every hash is its
zip's, every URL is URL plus that zip's name, every program it names is at
the zip's root, and the version is the project's.
"""
import hashlib
import json
import os
import re
import shutil
import sys
import tempfile
import zipfile

import jsonschema
import yaml

ARCHITECTURES = {"x64": "win64", "x86": "win32", "64bit": "win64", "32bit": "win32"}


def load(path):
    with open(path, encoding="utf-8") as text:
        return json.load(text) if path.endswith(".json") else yaml.safe_load(text)


def winget_files(directory):
    names = sorted(os.listdir(os.path.join(directory, "winget")))
    kinds = {}
    for name in names:
        kind = "installer" if ".installer." in name else "defaultLocale" if ".locale." in name else "version"
        kinds[kind] = os.path.join(directory, "winget", name)
    return kinds


def schema_problems(directory, schemas):
    files = {os.path.join(schemas, "winget-1.10.0", "manifest.%s.1.10.0.json" % kind): path
             for kind, path in winget_files(directory).items()}
    files[os.path.join(schemas, "scoop", "schema.json")] = os.path.join(directory, "scoop", "semilist.json")
    problems = []
    for schema, path in files.items():
        validator = jsonschema.Draft7Validator(load(schema), format_checker=jsonschema.FormatChecker())
        for error in validator.iter_errors(load(path)):
            problems.append("%s: %s" % (os.path.basename(path), error.message))
    return problems


def zip_problems(directory, where, url, version, arch, link, digest, programs):
    if not link.startswith(url):
        return ["%s: %s is not under %s" % (where, link, url)]
    name = link[len(url):]
    expected = "semilist-%s-%s.zip" % (version, ARCHITECTURES.get(arch, "?"))
    if name != expected:
        return ["%s: %s names %s, not %s" % (where, arch, name, expected)]
    path = os.path.join(directory, name)
    with open(path, "rb") as data:
        actual = hashlib.sha256(data.read()).hexdigest()
    problems = []
    if str(digest).lower() != actual:
        problems.append("%s: the hash for %s is %s, not the zip's %s" % (where, name, digest, actual))
    with zipfile.ZipFile(path) as archive:
        root = set(archive.namelist())
    problems += ["%s: %s is not at the root of %s" % (where, program, name)
                 for program in programs if program not in root]
    return problems


def cross_problems(directory, url, version):
    kinds = winget_files(directory)
    manifests = {kind: load(path) for kind, path in kinds.items()}
    problems = []
    for kind, manifest in manifests.items():
        if manifest.get("PackageVersion") != version:
            problems.append("winget %s: version %r is not %s" % (kind, manifest.get("PackageVersion"), version))
    installer = manifests["installer"]
    nested = [entry["RelativeFilePath"] for entry in installer.get("NestedInstallerFiles") or []]
    archs = sorted(entry["Architecture"] for entry in installer["Installers"])
    if archs != ["x64", "x86"]:
        problems.append("winget installer: architectures %s, not x64 and x86" % archs)
    for entry in installer["Installers"]:
        problems += zip_problems(directory, "winget installer", url, version, entry["Architecture"],
                                 entry["InstallerUrl"], entry["InstallerSha256"], nested)

    scoop = load(os.path.join(directory, "scoop", "semilist.json"))
    if scoop.get("version") != version:
        problems.append("scoop: version %r is not %s" % (scoop.get("version"), version))
    bins = scoop["bin"] if isinstance(scoop["bin"], list) else [scoop["bin"]]
    if sorted(scoop["architecture"]) != ["32bit", "64bit"]:
        problems.append("scoop: architectures %s, not 64bit and 32bit" % sorted(scoop["architecture"]))
    for arch, entry in scoop["architecture"].items():
        problems += zip_problems(directory, "scoop", url, version, arch, entry["url"], entry["hash"], bins)
    return problems


def problems_of(directory, url, version, schemas):
    problems = cross_problems(directory, url, version)
    if schemas:
        problems += schema_problems(directory, schemas)
    return problems


def main(directory, url, version, schemas):
    if not os.path.isdir(schemas):
        print("manifests: skipped the schema check: %s is absent" % schemas)
        schemas = None
    problems = problems_of(directory, url, version, schemas)
    for problem in problems:
        print("manifests: " + problem, file=sys.stderr)
    if problems:
        return 1
    print("manifests: winget and Scoop manifests pass %sthe cross-checks"
          % ("their schemas and " if schemas else ""))

    kinds = {"scoop": os.path.join("scoop", "semilist.json")}
    kinds.update({kind: os.path.relpath(path, directory) for kind, path in winget_files(directory).items()})
    # Each is a fault that a schema lets through; the cross-checks alone
    # must catch it.
    def swap_hashes(text):
        first, second = re.findall(r'InstallerSha256: "(\w+)"', text)
        return text.replace(first, "@").replace(second, first).replace("@", second)

    def replace(old, new):
        return lambda text: text.replace(old, new, 1)

    breaks = [
        ("the x64 and x86 hashes swapped", "installer", swap_hashes),
        ("a URL under another folder", "scoop", replace(url + "semilist-", url + "old/semilist-")),
        ("a nested file the zip lacks", "installer",
         replace('"semilist-user.exe"', '"semilist-admin.exe"')),
        ("a bin entry the zip lacks", "scoop", replace('"semilist.exe"', '"bin/semilist.exe"')),
        ("another version", "version",
         replace('PackageVersion: "%s"' % version, 'PackageVersion: "%s.1"' % version)),
    ]
    for fault, kind, edit in breaks:
        with tempfile.TemporaryDirectory() as broken:
            for sub in ("winget", "scoop"):
                shutil.copytree(os.path.join(directory, sub), os.path.join(broken, sub))
            for name in os.listdir(directory):
                if name.endswith(".zip"):
                    os.symlink(os.path.abspath(os.path.join(directory, name)), os.path.join(broken, name))
            path = os.path.join(broken, kinds[kind])
            with open(path, encoding="utf-8") as text:
                original = text.read()
            assert edit(original) != original, fault
            with open(path, "w", encoding="utf-8") as text:
                text.write(edit(original))
            if not cross_problems(broken, url, version):
                print("manifests: the check missed %s" % fault, file=sys.stderr)
                return 1
    print("manifests: the check fails on each of %d broken manifests" % len(breaks))
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
