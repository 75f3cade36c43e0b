"""Where the firmware tests find the sources, the build tree and the tools."""
import os
import sys

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOLS_DIR = os.path.join(SOURCE_DIR, "tools", "firmware")
BUILD_DIR = os.environ.get("FIRMWARE_TEST_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
IMAGE_DIR = os.path.join(BUILD_DIR, "image")
OVMF_CODE = os.environ.get("OVMF_CODE", "/usr/share/OVMF/OVMF_CODE_4M.fd")
DRIVER_FILE = os.path.join(IMAGE_DIR, "SlotInventoryDxe.ffs")

sys.path.insert(0, TOOLS_DIR)


def tool(name):
    return [sys.executable, os.path.join(TOOLS_DIR, name)]
