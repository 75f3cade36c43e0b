"""What every EDK2 build of the tests sets up the same way: a workspace of
its own beside the read-only EDK2 tree (Conf from BaseTools' templates, as
edksetup.sh makes it), the environment EDK2's build expects, the repository
linked in as its package, and INF [Defines]. Standard library only."""
import os
import sys


def inf_defines(path):
    """{key: value} of an INF's key = value lines."""
    defines = {}
    with open(path, encoding="utf-8") as handle:
        for line in handle:
            line = line.split("#", 1)[0].strip()
            if "=" in line:
                key, value = (part.strip() for part in line.split("=", 1))
                defines[key] = value
    return defines


def make_conf(edk2, workspace):
    """workspace/Conf with BaseTools' templates; returns its path."""
    conf = os.path.join(workspace, "Conf")
    os.makedirs(conf, exist_ok=True)
    for name in ("target", "tools_def", "build_rule"):
        target = os.path.join(conf, f"{name}.txt")
        if not os.path.exists(target):
            with open(os.path.join(edk2, "BaseTools", "Conf", f"{name}.template"), "rb") as source, \
                    open(target, "wb") as out:
                out.write(source.read())
    return conf


def link_package(workspace, name, target):
    """workspace/name as a link to target, as a platform puts a package in its tree."""
    link = os.path.join(workspace, name)
    if os.path.islink(link) and os.readlink(link) != str(target):
        os.unlink(link)
    if not os.path.islink(link):
        os.symlink(target, link, target_is_directory=True)


def build_environment(edk2, workspace):
    """EDK2's build environment for workspace, gcc's temporaries (link-time
    optimisation leaves some behind) in workspace/tmp rather than /tmp.
    Python's string hashing seeded the same for every build: EDK2 2025.02
    picks each module's stack cookie from its table by hash() of the module
    GUID, so a random seed rewrites every AutoGen.h, and recompiles
    everything, on each build."""
    tools = os.path.join(edk2, "BaseTools")
    env = dict(os.environ)
    env.update(WORKSPACE=str(workspace), PACKAGES_PATH=f"{workspace}:{edk2}", EDK_TOOLS_PATH=tools,
               CONF_PATH=os.path.join(workspace, "Conf"), PYTHON_COMMAND=sys.executable or "python3",
               PYTHONDONTWRITEBYTECODE="1", PYTHONHASHSEED="0", TMPDIR=os.path.join(workspace, "tmp"),
               PATH=os.path.join(tools, "BinWrappers", "PosixLike") + os.pathsep + env.get("PATH", ""))
    os.makedirs(env["TMPDIR"], exist_ok=True)
    return env
