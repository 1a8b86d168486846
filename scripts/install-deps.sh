#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Idempotent: packages
# already present are skipped, so a second run costs a few milliseconds.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libssl-dev openssl
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev
  wine64 xvfb xauth python3 imagemagick
  clang libclang-rt-14-dev
  dovecot-core dovecot-pop3d postfix curl
  qemu-user ccache
  wixl msitools osslsigncode zip
)

# Wine's 32-bit loader, for the 32-bit build (the product) under Wine; it needs
# the i386 architecture, which is added first.
wine32=wine32:i386

missing=()
for p in "${packages[@]}" "$wine32"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# The tests run their own private mail servers: the packages must not ask questions,
# configure a system-wide mailer or start daemons on ports 110, 995 and 25.
$SUDO debconf-set-selections <<'SEL'
postfix postfix/main_mailer_type select No configuration
postfix postfix/mailname string corvane.test
SEL
policy=/usr/sbin/policy-rc.d
own_policy=
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  own_policy=1
  trap '$SUDO rm -f "$policy"' EXIT
fi

# Another install may hold the dpkg lock: wait for it rather than fail.
apt=(apt-get -o DPkg::Lock::Timeout=900)
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
$SUDO "${apt[@]}" update -qq </dev/null
others=()
for p in "${missing[@]}"; do [ "$p" = "$wine32" ] || others+=("$p"); done
[ ${#others[@]} -eq 0 ] || $SUDO "${apt[@]}" install -y -qq --no-install-recommends "${others[@]}" </dev/null
if [ ${#others[@]} -lt ${#missing[@]} ] &&
  ! $SUDO "${apt[@]}" install -y -qq --no-install-recommends "$wine32" </dev/null >/tmp/corvane-wine32-install.log 2>&1; then
  echo "install-deps: $wine32 cannot be installed, so the 32-bit build cannot be tested under Wine" \
    "(apt-get's output: /tmp/corvane-wine32-install.log)" >&2
  exit 1
fi

if [ -n "$own_policy" ]; then
  $SUDO rm -f "$policy"
  trap - EXIT
fi

# Should a system-wide mail daemon just installed have started anyway, stop it and keep
# it off. The system's own PID files name it, so private instances are left alone.
case " ${missing[*]} " in
  *" dovecot-core "* | *" postfix "*)
    if [ -d /run/systemd/system ]; then
      $SUDO systemctl disable --now dovecot.service postfix.service >/dev/null 2>&1 || true
    fi
    for pidfile in /run/dovecot/master.pid /var/spool/postfix/pid/master.pid; do
      [ -s "$pidfile" ] || continue
      pid=$(tr -dc 0-9 <"$pidfile")
      comm=$(cat "/proc/$pid/comm" 2>/dev/null || true)
      if [ "$comm" = dovecot ] || [ "$comm" = master ]; then $SUDO kill "$pid" || true; fi
    done
    ;;
esac
