"""Booting the test guest in QEMU: the accelerator and the command line."""
import fcntl
import os
import subprocess
import sys
import time

KVM_GET_API_VERSION = 0xAE00


def kvm_usable():
    """KVM only where it really works: a /dev/kvm can open without hardware
    virtualization behind it (a software hypervisor), and a stock kernel then
    crawls in its decompressor. Returns (usable, reason)."""
    try:
        with open("/proc/cpuinfo") as f:
            flags = set()
            for line in f:
                if line.startswith("flags"):
                    flags.update(line.split(":", 1)[1].split())
    except OSError:
        flags = set()
    if not flags & {"vmx", "svm"}:
        return False, "the CPU shows neither vmx nor svm"
    try:
        fd = os.open("/dev/kvm", os.O_RDWR | os.O_CLOEXEC)
    except OSError as e:
        return False, f"/dev/kvm: {e.strerror}"
    try:
        version = fcntl.ioctl(fd, KVM_GET_API_VERSION)
    except OSError as e:
        return False, f"/dev/kvm does not answer: {e.strerror}"
    finally:
        os.close(fd)
    if version != 12:
        return False, f"/dev/kvm speaks API {version}, not 12"
    return True, "vmx/svm and a working /dev/kvm"


def accel_args():
    usable, reason = kvm_usable()
    if usable:
        return "kvm", reason, ["-accel", "kvm", "-cpu", "host"]
    # SMAP on makes the guest kernel oops on Wine's 32-bit user-mode iret.
    return "tcg", reason, ["-accel", "tcg", "-cpu", "max,-smap"]


def boot(image_dir, machine, mode, share=None, snapshot=True, timeout=1800,
         extra=(), log=None):
    """Boots the image on MACHINE with the guest's MODE (prepare or run);
    returns the serial console's text. The disk is virtio, so the IDE
    channels of the machine stay empty."""
    accel, reason, args = accel_args()
    cmd = ["qemu-system-x86_64", "-M", machine, *args, "-m", "1024", "-smp", "1",
           "-nographic", "-no-reboot", "-nodefaults", "-serial", "stdio",
           "-kernel", os.path.join(image_dir, "vmlinuz"),
           "-initrd", os.path.join(image_dir, "initrd.img"),
           "-append", f"root=/dev/vda rw console=ttyS0 quiet init=/sbin/sorvenka-init sorvenka={mode}",
           "-drive", f"file={os.path.join(image_dir, 'root.ext4')},if=virtio,format=raw"]
    if snapshot:
        cmd.append("-snapshot")
    if share:
        cmd += ["-virtfs", f"local,path={share},mount_tag=sorvenka,security_model=none"]
    cmd += list(extra)
    print(f"qemu: machine {machine}, {accel.upper()} ({reason})", flush=True)
    t0 = time.monotonic()
    # The console goes to the log as it comes, for a look while it runs.
    log = log or os.path.join(image_dir, f"console-{machine}-{mode}.log")
    with open(log, "wb") as f:
        p = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=f,
                           stderr=subprocess.STDOUT, timeout=timeout)
    with open(log, encoding="utf-8", errors="replace") as f:
        text = f.read()
    print(f"qemu: machine {machine} {mode} boot took {time.monotonic() - t0:.0f} s", flush=True)
    if p.returncode != 0:
        raise RuntimeError(f"qemu exited with {p.returncode}:\n{text[-3000:]}")
    return text
