#!/usr/bin/env python3

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

"""The wizard on the test machine's own console (machine.sh, its scenario
"console"), its screen read from QEMU: the text through the monitor (the
VGA text memory the console shows), the picture through its screendump.

  machine-console.py DIR OUT SECONDS

DIR holds the machine's disk (machine.sh disk); MACHINE_KERNEL names the
kernel. It writes into OUT:
  welcome.txt, welcome.png  the welcome, before any kernel message
  during.txt                after kernel errors and warnings were written
                            while the wizard was up
  after.txt                 after the wizard ended and a kernel error was
                            written
  serial.txt                the machine's own reports
QEMU is killed by its process id after SECONDS; the status is 0 when the
machine went through every step.
"""
import os
import re
import socket
import subprocess
import sys
import threading
import zlib


def monitor(path, command):
    """Runs one monitor command: its answer."""
    with socket.socket(socket.AF_UNIX) as sock:
        sock.connect(path)
        sock.settimeout(10)
        answer = b""

        def until_prompt():
            nonlocal answer
            while not answer.endswith(b"(qemu) "):
                chunk = sock.recv(65536)
                if not chunk:
                    break
                answer += chunk
        until_prompt()
        answer = b""
        sock.sendall(command.encode() + b"\n")
        until_prompt()
        return answer.decode("utf-8", "replace")


def screen_text(path):
    """The 80x25 characters of the VGA text screen, one line each, blanks
    at their ends dropped."""
    answer = monitor(path, "xp /2000hx 0xb8000")
    cells = [int(value, 16) for value in re.findall(r"0x([0-9a-f]{4})\b", answer.split(":", 1)[1])]
    text = bytes(cell & 0xFF for cell in cells[:2000]).decode("cp437")
    return "\n".join(text[row * 80:(row + 1) * 80].rstrip() for row in range(25)) + "\n"


def png_from_ppm(ppm, png):
    """A PPM (P6) picture as a PNG file."""
    with open(ppm, "rb") as source:
        data = source.read()
    fields = data.split(maxsplit=4)
    width, height = int(fields[1]), int(fields[2])
    pixels = fields[4][: width * height * 3]
    rows = b"".join(b"\0" + pixels[y * width * 3:(y + 1) * width * 3] for y in range(height))

    def chunk(kind, body):
        return len(body).to_bytes(4, "big") + kind + body + zlib.crc32(kind + body).to_bytes(4, "big")
    header = width.to_bytes(4, "big") + height.to_bytes(4, "big") + bytes([8, 2, 0, 0, 0])
    with open(png, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
                  + chunk(b"IEND", b""))


def main():
    directory, out, seconds = os.path.abspath(sys.argv[1]), sys.argv[2], float(sys.argv[3])
    os.makedirs(out, exist_ok=True)
    sock = os.path.join(directory, "monitor")
    kernel = os.environ.get("MACHINE_KERNEL", os.path.join(directory, "vmlinuz"))
    qemu = subprocess.Popen(
        ["qemu-system-x86_64", "-accel", "kvm" if os.environ.get("MACHINE_KVM") == "1" else "tcg", "-m", "512",
         "-smp", "1", "-no-reboot", "-nodefaults", "-display", "none", "-vga", "std", "-serial", "stdio",
         "-monitor", f"unix:{sock},server=on,wait=off", "-net", "none", "-kernel", kernel,
         "-initrd", os.path.join(os.path.dirname(kernel), "initrd.img"),
         "-append", "console=tty0 console=ttyS0 panic=-1 quiet tessaro=console",
         "-drive", f"file={directory}/disk.img,format=raw,if=virtio"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    # Killed by its process id when it outlives its time.
    watchdog = threading.Timer(seconds, qemu.kill)
    watchdog.start()
    steps = {"wizard up": "welcome", "kmsg written": "during", "kmsg after": "after"}
    done = []
    serial = b""
    try:
        for raw in qemu.stdout:
            serial += raw
            match = re.search(r"TESSARO (wizard up|kmsg written|kmsg after)", raw.decode("utf-8", "replace"))
            if not match:
                continue
            name = steps[match.group(1)]
            with open(os.path.join(out, name + ".txt"), "w", encoding="utf-8") as text:
                text.write(screen_text(sock))
            if name == "welcome":
                ppm = os.path.join(directory, "welcome.ppm")
                monitor(sock, f"screendump {ppm}")
                png_from_ppm(ppm, os.path.join(out, "welcome.png"))
            done.append(name)
            qemu.stdin.write(b"go\n")
            qemu.stdin.flush()
    finally:
        qemu.wait()
        watchdog.cancel()
        with open(os.path.join(out, "serial.txt"), "wb") as text:
            text.write(serial)
    return 0 if len(done) == 3 else 1


if __name__ == "__main__":
    sys.exit(main())
