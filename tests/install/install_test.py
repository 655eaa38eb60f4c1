#!/usr/bin/env python3
"""Installs the build into a scratch prefix and uses the installed tree as a
newcomer would: a small C program built through find_package(zelsyncdll) and
through pkg-config calls the library, and the installed `zelsync` finds the
installed library without being told where it is."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "zelsync"))
from host_harness import Host, check, finish  # noqa: E402


def run(command, **kwargs):
    done = subprocess.run(command, capture_output=True, text=True, timeout=600, **kwargs)
    if done.returncode != 0:
        raise SystemExit("FAILED: %s\n%s%s" % (" ".join(command), done.stdout, done.stderr))
    return done.stdout


def main():
    parser = argparse.ArgumentParser()
    for name in ("--build", "--consumer", "--generator", "--libdir", "--bindir"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    scratch = tempfile.mkdtemp(prefix="zelsync-install-")
    try:
        prefix = os.path.join(scratch, "prefix")
        run(["cmake", "--install", args.build, "--prefix", prefix])
        # Each installed file is used below: the header, the library, its
        # CMake package and pkg-config file, and the host.
        env = dict(os.environ, LD_LIBRARY_PATH=os.path.join(prefix, args.libdir))
        probe = os.path.join(scratch, "present")
        open(probe, "w").close()

        # find_package
        build = os.path.join(scratch, "consumer-cmake")
        run(["cmake", "-S", args.consumer, "-B", build, "-G", args.generator, "-DCMAKE_PREFIX_PATH=" + prefix])
        run(["cmake", "--build", build])
        answers = [run([os.path.join(build, "consumer"), p], env=env).strip() for p in (probe, probe + "-not")]
        check(answers == ["yes", "no"], "the find_package consumer answered %s" % answers)

        # pkg-config, with the tree moved elsewhere: the .pc file is relocatable
        moved = os.path.join(scratch, "moved")
        shutil.move(prefix, moved)
        libdir = os.path.join(moved, args.libdir)
        pc_env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(libdir, "pkgconfig"))
        flags = run(["pkg-config", "--cflags", "--libs", "zelsyncdll"], env=pc_env).split()
        program = os.path.join(scratch, "consumer-pc")
        run(["cc", "-std=c11", "-Wall", "-Werror", os.path.join(args.consumer, "consumer.c"), "-o", program] + flags)
        answer = run([program, probe], env=dict(os.environ, LD_LIBRARY_PATH=libdir)).strip()
        check(answer == "yes", "the pkg-config consumer answered %r" % answer)

        # The installed host loads the installed library by itself.
        host = Host(argparse.Namespace(zelsync=os.path.join(moved, args.bindir, "zelsync"), library=None,
                                       platform="linux", emulator=None), os.path.join(scratch, "home"))
        version, report = host.run("--version", expect=0)[1], host.sync("irmc", os.path.join(scratch, "phone"))
        check(version.startswith("zelsync ") and os.path.realpath(report.get("library", "")) ==
              os.path.realpath(os.path.join(libdir, "libzelsyncdll.so")), "the installed zelsync: %r %s" % (
                  version, report.get("library")))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
