#!/usr/bin/env bash
# Makes this machine able to run 32-bit x86 Linux programs (32-bit wine, and
# through it the win32 build's tests). Source it, then:
#
#   i386_exec_prepare   # 0: 32-bit programs run; 1: they cannot (says why)
#   ...run the tests...
#   i386_exec_release   # undoes what prepare changed on this machine
#
# A kernel with IA-32 support runs them natively. A kernel without it (this
# project's CI machines) runs them through qemu-i386-static registered in
# binfmt_misc; that needs root, and the registration is removed again by
# i386_exec_release only when prepare added it.
#
# QEMU_RESERVED_VA is exported for every later process: without it each
# 32-bit wine process under qemu spends about a minute reserving address
# space. Values above 0x81000000 fail in wine ("failed to map the shared user
# data"); natively the variable is ignored.

i386_exec_added_entry=no
i386_binfmt=/proc/sys/fs/binfmt_misc

# True when /lib/ld-linux.so.2 runs, natively or through a registered emulator.
i386_exec_works() {
  [ -x /lib/ld-linux.so.2 ] && timeout 60 /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

i386_exec_prepare() {
  export QEMU_RESERVED_VA=0x81000000
  if i386_exec_works; then
    if [ -e "$i386_binfmt/qemu-i386" ]; then
      echo "32-bit programs: through qemu-i386 (already registered)"
    else
      echo "32-bit programs: native"
    fi
    return 0
  fi
  if [ "$(id -u)" != 0 ]; then
    echo "32-bit programs cannot run here: the kernel has no IA-32 support, and registering qemu-i386 needs root"
    return 1
  fi
  if [ ! -x /usr/bin/qemu-i386-static ]; then
    echo "Installing qemu-user-static"
    { DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null 2>&1 ||
      { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null; }; } ||
      { echo "32-bit programs cannot run here: qemu-user-static could not be installed"; return 1; }
  fi
  if [ ! -e "$i386_binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$i386_binfmt" ||
      { echo "32-bit programs cannot run here: binfmt_misc cannot be mounted"; return 1; }
  fi
  if [ ! -e "$i386_binfmt/qemu-i386" ]; then
    # The i386 ELF header (executables and shared objects), flag F: the
    # interpreter is opened now, so it works inside other mount namespaces.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$i386_binfmt/register" ||
      { echo "32-bit programs cannot run here: the qemu-i386 entry cannot be registered"; return 1; }
    i386_exec_added_entry=yes
  fi
  if ! i386_exec_works; then
    echo "32-bit programs cannot run here: /lib/ld-linux.so.2 fails even through qemu-i386 (is libc6:i386 installed?)"
    i386_exec_release
    return 1
  fi
  echo "32-bit programs: through qemu-i386 (registered for this run)"
  return 0
}

i386_exec_release() {
  if [ "$i386_exec_added_entry" = yes ] && [ -e "$i386_binfmt/qemu-i386" ]; then
    echo -1 >"$i386_binfmt/qemu-i386" || true
  fi
  i386_exec_added_entry=no
}
