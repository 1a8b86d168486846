#!/usr/bin/env bash
# The mail benchmarks: the control natively (POSIX host, bench/mail_bench.cpp) and
# through the OCX under Wine (bench/ocx_mail_bench.cpp), beside curl, against the
# real servers of scripts/mail-servers.sh on 127.0.0.1. Builds what it needs, prints
# three tables (Retrieve, Send, SendMime) with the median of several runs, and stops
# the servers and Wine however it ends.
#
# Usage: bash bench/run-mail-bench.sh [RUNS]    (default 5; NO_WINE=1 leaves the OCX out)
#
# Each figure of the control covers its session (login, the operation, logout), as
# curl's covers its whole run. Send goes to Postfix's smtpd, not to smtp-sink: Send
# says its Subject line right behind DATA, before the 354 (as the control must), and
# smtp-sink never answers a DATA that arrives together with the text behind it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }

bash "$root/scripts/install-deps.sh" >/dev/null
work=$(mktemp -d /tmp/corvane-bench.XXXXXX)
chmod 755 "$work"  # the servers' own users must reach their folder inside
wine_state=$work/wine
with_wine=1
[[ -z ${NO_WINE:-} ]] || with_wine=

# shellcheck source=../scripts/lib/wine.sh
source "$root/scripts/lib/wine.sh"
# shellcheck source=../scripts/lib/mail_servers.sh
source "$root/scripts/lib/mail_servers.sh"
finish() {
  if [[ -n $with_wine && -d $wine_state/prefix ]]; then WINEPREFIX=$wine_state/prefix wine_stop_server; fi
  rm -rf "$work"
}
trap finish EXIT
mail_servers_start "$work/servers" >"$work/servers.log" 2>&1 || { cat "$work/servers.log" >&2; exit 1; }

echo "building..." >&2
(cd "$root" && cmake --preset native >/dev/null && cmake --build --preset native -j2 --target mail_bench) \
  >"$work/build.log" 2>&1 || { tail -30 "$work/build.log" >&2; exit 1; }
bench=$root/build/native/bench/mail_bench
if [[ -n $with_wine ]]; then
  (cd "$root" && { [[ -f build/win64/build.ninja ]] || cmake --preset win64 >/dev/null; } &&
    cmake --build --preset win64 -j2 --target corvane_ocx ocx_mail_bench) >>"$work/build.log" 2>&1 ||
    { tail -30 "$work/build.log" >&2; exit 1; }
  export WINEPREFIX=$wine_state/prefix
  wine_boot || { tail "$wine_state/wineboot.log" >&2; exit 1; }
  cp "$root/build/win64/corvane.ocx" "$work/corvane.ocx"
  wine_run 60 "$work/register.log" regsvr32 /s "$(wine_path "$work/corvane.ocx")" ||
    { echo "regsvr32 failed" >&2; exit 1; }
  ocx_bench=$root/build/win64/bench/ocx_mail_bench.exe
  servers_env=$(wine_path "$work/servers/servers.env")
fi

# Runs a measurement `runs` times (each prints "wall=S cpu=S peak=BYTES compose=S")
# and prints the medians as "wall cpu peak compose".
measure() {  # command...
  local i out=$work/measure.out
  : >"$out.all"
  for ((i = 0; i < runs; i++)); do
    "$@" >"$out" 2>"$out.err" || { echo "failed: $*" >&2; cat "$out" "$out.err" >&2; exit 1; }
    grep -m1 '^wall=' "$out" >>"$out.all"
    sleep "${pause:-0}"
  done
  awk -F'[= ]' '{ w[NR] = $2; c[NR] = $4; p[NR] = $6; m[NR] = $8 }
    function median(a, n,   i, j, t) {
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    END { printf "%s %s %s %s\n", median(w, NR), median(c, NR), median(p, NR), median(m, NR) }' "$out.all"
}

# A program under Wine, its output through a file (Wine's background processes
# could hold a pipe open).
ocx() {  # arguments...
  wine_run 300 "$work/ocx.log" "$ocx_bench" "$@"
  local status=$?
  tr -d '\r' <"$work/ocx.log"
  return $status
}

curl_run() {  # curl arguments...
  "$bench" time curl -s -S "$@"
}

# One table row: client, "wall cpu peak compose", the size the peak is measured
# against (0: not shown), the reference wall time (curl's), and a note.
row() {  # label figures size reference [note]
  local label=$1 size=$3 reference=$4 note=${5:-}
  read -r wall cpu peak compose <<<"$2"
  awk -v l="$label" -v w="$wall" -v c="$cpu" -v p="$peak" -v s="$size" -v r="$reference" -v n="$note" 'BEGIN {
    printf "  %-28s %8.3f %8.3f %10s %8.2f  %s\n", l, w, c, (s > 0 ? sprintf("%.2fx", p / s) : "-"), w / r, n }'
}
header() {
  printf "  %-28s %8s %8s %10s %8s\n" client "wall s" "CPU s" "peak/size" "vs curl"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
first() { echo "${1%% *}"; }

mib=$((1 << 20))
user_of=([1]=u1 [10]=u2 [50]=u3)
pass_of=([1]=p1 [10]=p2 [50]=p3)

# --- Retrieve: one message per mailbox, put there before anything else arrives
for size in 1 10 50; do
  "$bench" write-maildir $((size * mib)) "$work/m$size.eml"
  mail_servers_deliver "$work/servers" "${user_of[size]}" "$work/m$size.eml"
done
echo
echo "Retrieve of message 1 from Dovecot: POP3Login, Retrieve, POP3Logout; curl pop3://.../1 -o /dev/null"
echo "(median of $runs; peak: growth of the process's peak memory over the message size)"
header
declare -A native_retrieve curl_retrieve
for size in 1 10 50; do
  u=${user_of[size]} p=${pass_of[size]}
  curl_retrieve[$size]=$(measure curl_run "pop3://$u:$p@127.0.0.1:$POP3_PORT/1" -o /dev/null)
  native_retrieve[$size]=$(measure "$bench" retrieve "$u" "$p" $((size * mib)))
  reference=$(first "${curl_retrieve[$size]}")
  row "$size MiB, curl" "${curl_retrieve[$size]}" 0 "$reference"
  row "$size MiB, native" "${native_retrieve[$size]}" $((size * mib)) "$reference"
  if [[ -n $with_wine && $size == 10 ]]; then
    figures=$(measure ocx retrieve "$servers_env" "$u" "$p" $((size * mib)))
    row "$size MiB, OCX under Wine" "$figures" $((size * mib)) "$reference" \
      "$(ratio "$(first "$figures")" "$(first "${native_retrieve[$size]}")")x native"
  fi
done
echo "  native time per MiB: $(for s in 1 10 50; do awk -v w="$(first "${native_retrieve[$s]}")" -v s=$s \
  'BEGIN { printf "%s MiB %.1f ms  ", s, 1000 * w / s }'; done)"
echo "Retrieve 50 MiB, native / curl: $(ratio "$(first "${native_retrieve[50]}")" "$(first "${curl_retrieve[50]}")")"

# --- Send
"$bench" write-send "$work/send.eml"
echo
echo "Send of a 10 MiB body (76-character lines) to Postfix's smtpd: SMTPLogin, Send, SMTPLogout;"
echo "curl --upload-file of the same message (median of $runs)"
header
pause=0.3
curl_send=$(measure curl_run --mail-from u1@corvane.test --mail-rcpt u2@corvane.test --upload-file "$work/send.eml" \
  "smtp://127.0.0.1:$SMTP_PORT")
sed "s/^SINK_PORT=.*/SINK_PORT=$SMTP_PORT/" "$work/servers/servers.env" >"$work/send.env"
native_send=$(CORVANE_MAIL_SERVERS=$work/send.env measure "$bench" send)
reference=$(first "$curl_send")
row "curl --upload-file" "$curl_send" 0 "$reference"
row "native" "$native_send" 0 "$reference"
if [[ -n $with_wine ]]; then
  figures=$(measure ocx send "$(wine_path "$work/send.env")")
  row "OCX under Wine" "$figures" 0 "$reference" "$(ratio "$(first "$figures")" "$(first "$native_send")")x native"
fi
pause=0
echo "Send, native / curl: $(ratio "$(first "$native_send")" "$reference")"

# --- SendMime
"$bench" write-attachment "$work/attachment.bin"
"$bench" write-mime "$work/attachment.bin" "$work/mime.eml"
echo
echo "SendMime of a message with a 10 MiB attachment to smtp-sink: SMTPLogin, SendMime, SMTPLogout"
echo "(composed before through MimeFrom, MimeTo, MimeContentAdd, MimeContentAddFromFile: its time in"
echo "the note, its memory in the peak); curl --upload-file of the message GenerateMime writes (median of $runs)"
header
curl_mime=$(measure curl_run --mail-from u1@corvane.test --mail-rcpt u2@corvane.test --upload-file "$work/mime.eml" \
  "smtp://127.0.0.1:$SINK_PORT")
native_mime=$(measure "$bench" sendmime "$work/attachment.bin")
reference=$(first "$curl_mime")
row "curl --upload-file" "$curl_mime" 0 "$reference"
composing() { awk -v c="${1##* }" 'BEGIN { printf "composing %.3f s", c }'; }
row "native" "$native_mime" $((10 * mib)) "$reference" "$(composing "$native_mime")"
if [[ -n $with_wine ]]; then
  figures=$(measure ocx sendmime "$servers_env" "$(wine_path "$work/attachment.bin")")
  row "OCX under Wine" "$figures" $((10 * mib)) "$reference" \
    "$(composing "$figures"), $(ratio "$(first "$figures")" "$(first "$native_mime")")x native"
fi
echo "SendMime, native / curl: $(ratio "$(first "$native_mime")" "$reference")"
