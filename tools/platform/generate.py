#!/usr/bin/env python3
"""Generates a platform's driver tables from its description.

    generate.py DESCRIPTION --driver DIR [--host DIR --version X.Y --image-dir DIR]
    generate.py DESCRIPTION --check DIR
    generate.py DESCRIPTION --package-root DIR

--driver writes the driver's generated sources and the EDK2 source module
that builds them (its INF, and the DSC and FDF lines a platform adds),
checked in under platforms/NAME/generated/; --host the simulator's copy of
the description, a summary for test code and the binary module's INF.
--check writes nothing: it compares DIR's driver sources with what the
description gives now and names the command that refreshes them.
--package-root writes the source module for the package root DIR (the
repository, whose SlotInventoryDxe.inf and platform/SlotInventoryDxeSource.*
are the default platform's).

A description that cannot be used is refused with a message naming the field,
exit status 1, and nothing written; bad usage exits 2. Files whose text is
already right are left untouched, so a build redoes only what changed.
"""
import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

from description import DescriptionError, read_description  # noqa: E402
from edk2_module import Package, PackageError, module_files  # noqa: E402
from emit import driver_files, host_files  # noqa: E402


def shown_path(path):
    """The path as generated files name it: from the repository root, so the
    output does not depend on where the repository or the build tree is."""
    full = os.path.abspath(path)
    relative = os.path.relpath(full, SOURCE_DIR)
    return relative if not relative.startswith("..") else os.path.basename(full)


def write_all(folder, files):
    """Writes every file whose text differs, each through a temporary file
    renamed into place, after all of them are written."""
    pending = []
    try:
        for name, text in sorted(files.items()):
            path = os.path.join(folder, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if os.path.exists(path):
                with open(path, encoding="utf-8", newline="") as current:
                    if current.read() == text:
                        continue
            with open(path + ".partial", "w", encoding="utf-8", newline="") as out:
                out.write(text)
            pending.append(path)
        for path in pending:
            os.replace(path + ".partial", path)
    finally:
        for path in pending:
            if os.path.exists(path + ".partial"):
                os.remove(path + ".partial")


def stale_files(folder, files):
    stale = []
    for name, text in sorted(files.items()):
        path = os.path.join(folder, name)
        try:
            with open(path, encoding="utf-8", newline="") as current:
                if current.read() != text:
                    stale.append(name)
        except OSError:
            stale.append(name)
    extra = sorted(set(os.listdir(folder)) - set(files)) if os.path.isdir(folder) else []
    return stale, extra


def main(argv):
    parser = argparse.ArgumentParser(prog="generate.py", description=__doc__.splitlines()[0])
    parser.add_argument("description")
    parser.add_argument("--driver", metavar="DIR")
    parser.add_argument("--host", metavar="DIR")
    parser.add_argument("--version", default="1.0", help="VERSION_STRING of the binary INF")
    parser.add_argument("--image-dir", default="image",
                        help="where the build puts the platform's image, for the summary")
    parser.add_argument("--check", metavar="DIR")
    parser.add_argument("--package-root", metavar="DIR")
    args = parser.parse_args(argv)
    if not (args.driver or args.host or args.check or args.package_root):
        parser.error("say what to write: --driver DIR, --host DIR, --package-root DIR, or --check DIR")

    source = shown_path(args.description)
    try:
        platform = read_description(args.description, SOURCE_DIR)
    except DescriptionError as problem:
        print(f"generate.py: {source}: {problem}", file=sys.stderr)
        return 1
    try:
        package = Package(SOURCE_DIR)
    except PackageError as problem:
        print(f"generate.py: {problem}", file=sys.stderr)
        return 1
    driver = driver_files(platform, source)
    tables = sorted(name for name in driver if name.endswith(".cpp"))
    driver.update(module_files(platform, source, package, tables))

    if args.check:
        stale, extra = stale_files(args.check, driver)
        if stale or extra:
            names = ", ".join(stale + [f"{name} (not generated)" for name in extra])
            print(f"generate.py: {shown_path(args.check)} is not what {source} gives now: {names}; "
                  f"refresh it with: python3 tools/platform/generate.py {source} "
                  f"--driver {shown_path(args.check)}", file=sys.stderr)
            return 1
        return 0
    try:
        if args.driver:
            write_all(args.driver, driver)
        if args.host:
            write_all(args.host, host_files(platform, source, args.version, args.image_dir))
        if args.package_root:
            write_all(args.package_root, module_files(platform, source, package, tables, at_root=True))
    except OSError as problem:
        print(f"generate.py: cannot write {problem.filename}: {problem.strerror}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
