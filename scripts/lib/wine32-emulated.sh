#!/usr/bin/env bash
# Wine's 32-bit loader on a kernel that does not run 32-bit x86 programs: each
# i386 program runs under qemu-i386 (Debian's qemu-user), handed to it by a
# binfmt_misc of its own, mounted in a private user and mount namespace, so
# nothing outside changes. Used by scripts/lib/wine.sh when CORVANE_WIN32_EMULATE
# is set. Slow: a program takes a minute or two to start.
#   wine32-emulated.sh ARGUMENTS...   /usr/lib/wine/wine ARGUMENTS..., or the
#                                     loader CORVANE_EMULATED_LOADER names
set -u
if [[ -z ${CORVANE_IN_EMULATION:-} ]]; then
  command -v qemu-i386 >/dev/null || { echo "qemu-i386 not found (install qemu-user)" >&2; exit 127; }
  CORVANE_IN_EMULATION=1 exec unshare --user --map-root-user --mount bash "$0" "$@"
fi
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || exit 126
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$(command -v qemu-i386)"':F' \
  >/proc/sys/fs/binfmt_misc/register || exit 126
exec "${CORVANE_EMULATED_LOADER:-/usr/lib/wine/wine}" "$@"
