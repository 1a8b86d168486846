#!/usr/bin/env bash
# The mail benchmarks: the control natively (POSIX host, bench/mail_bench.cpp) and
# through the OCX under Wine (bench/ocx_mail_bench.cpp), beside curl, against the
# real servers of scripts/mail-servers.sh on 127.0.0.1. Builds what it needs, prints
# tables (Retrieve, with the server's own pace beside it, 2,000 small Retrieves in one
# session, Send, 2,000 small Sends,
# SendMime) with the median of several runs, and stops
# the servers and Wine however it ends. Besides the tables, every figure once more as
# "figure NAME=VALUE" (seconds or ratios), the main ratios last.
#
# Usage: bash bench/run-mail-bench.sh [RUNS]    (default 5; NO_WINE=1 leaves the OCX out)
#   The 64-bit OCX runs under Wine; the 32-bit product (build/win32) too where the kernel
#   runs Wine's 32-bit loader, else only with WIN32=1, under qemu: emulator times.
#
# Each figure of the control covers its session (login, the operation, logout), as
# curl's covers its whole run. Send goes to Postfix's smtpd, not to smtp-sink: Send
# says its Subject line right behind DATA, before the 354 (as the control must), and
# smtp-sink never answers a DATA that arrives together with the text behind it.
set -euo pipefail
read -r load_start load_start_rest </proc/loadavg
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
ocx_builds=() servers_env=
if [[ -n $with_wine ]]; then
  # The 32-bit product runs where the kernel runs Wine's 32-bit loader, under qemu
  # only when asked: emulator times compare with nothing.
  ocx_builds=(win64)
  wine_use_build win32
  [[ -z ${WIN32:-} ]] || wine_runs_build || { export CORVANE_WIN32_EMULATE=1; wine_use_build win32; }
  if wine_runs_build; then
    ocx_builds+=(win32)
  else
    echo "the 32-bit OCX is left out: $wine_problem${WIN32:-; WIN32=1 runs it so, with emulator times}"
  fi
  for build in "${ocx_builds[@]}"; do
    (cd "$root" && { [[ -f build/$build/build.ninja ]] || cmake --preset "$build" >/dev/null; } &&
      cmake --build --preset "$build" -j2 --target corvane_ocx ocx_mail_bench) >>"$work/build.log" 2>&1 ||
      { tail -30 "$work/build.log" >&2; exit 1; }
  done
  export WINEPREFIX=$wine_state/prefix
  wine_boot || { tail "$wine_state/wineboot.log" >&2; exit 1; }
  for build in "${ocx_builds[@]}"; do
    wine_use_build "$build"
    cp "$wine_build/corvane.ocx" "$work/corvane-$build.ocx"
    wine_run 60 "$work/register.log" regsvr32 /s "$(wine_path "$work/corvane-$build.ocx")" ||
      { echo "regsvr32 of the $build OCX failed" >&2; exit 1; }
  done
  servers_env=$(wine_path "$work/servers/servers.env")
fi

# Runs a measurement `runs` times (each prints "wall=S cpu=S peak=BYTES compose=S",
# perhaps "first=S last=S" after) and prints the medians, "wall cpu peak compose ...".
measure() {  # command...
  local i out=$work/measure.out
  : >"$out.all"
  for ((i = 0; i < runs; i++)); do
    "$@" >"$out" 2>"$out.err" || { echo "failed: $*" >&2; cat "$out" "$out.err" >&2; exit 1; }
    grep -m1 '^wall=' "$out" >>"$out.all"
    [[ -z ${drain:-} ]] || postfix_drained
  done
  awk -F'[= ]' '{ for (k = 2; k <= NF; k += 2) v[k, NR] = $k + 0; n = NF }
    END {
      for (k = 2; k <= n; k += 2) {
        for (i = 1; i <= NR; i++) a[i] = v[k, i]
        for (i = 1; i <= NR; i++) for (j = i + 1; j <= NR; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
        printf "%s%s", (k > 2 ? " " : ""), (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2)
      }
      print ""
    }' "$out.all"
}

# Waits, at most a minute, until Postfix has delivered what it accepted: deliveries
# still running would weigh on the next measurement.
postfix_drained() {
  local i
  for ((i = 0; i < 600; i++)); do
    compgen -G "$work/servers/spool/incoming/*" >/dev/null || compgen -G "$work/servers/spool/active/*" >/dev/null ||
      return 0
    sleep 0.1
  done
  echo "Postfix still delivers after a minute" >&2
}

# A program under Wine, of the given build, its output through a file (Wine's
# background processes could hold a pipe open).
ocx() {  # build arguments...
  wine_use_build "$1"
  shift
  wine_run 300 "$work/ocx.log" "$wine_build/bench/ocx_mail_bench.exe" "$@"
  local status=$?
  tr -d '\r' <"$work/ocx.log"
  return $status
}

curl_run() {  # curl arguments...
  "$bench" time curl -s -S "$@"
}

# Every figure as "figure NAME=VALUE", printed together at the end.
figure() {  # name value
  echo "figure $1=$2" >>"$work/figures"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# One table row and its figures under `key`: the medians from measure, the size the
# peak is measured against (0: not shown), the reference wall time (curl's), and a
# note. A session of many messages adds its time per message in the first and the
# last quarter.
declare -A wall_of peak_of
row() {  # key label figures size reference [note]
  local key=$1 label=$2 size=$4 reference=$5 note=${6:-} wall cpu peak compose first last
  read -r wall cpu peak compose first last <<<"$3"
  wall_of[$key]=$wall
  figure "$key.wall" "$wall"
  figure "$key.cpu" "$cpu"
  if ((size > 0)); then
    peak_of[$key]=$(ratio "$peak" "$size")
    figure "$key.peak_per_size" "${peak_of[$key]}"
  fi
  if [[ $compose != 0 ]]; then
    figure "$key.compose" "$compose"
    note="$(awk -v c="$compose" 'BEGIN { printf "composing %.3f s", c }')${note:+, $note}"
  fi
  if [[ -n $first ]]; then
    figure "$key.first_quarter_per_message" "$first"
    figure "$key.last_quarter_per_message" "$last"
    figure "$key.last_per_first_quarter" "$(ratio "$last" "$first")"
    note="$(awk -v f="$first" -v l="$last" 'BEGIN { printf "per message %.3f ms first quarter, %.3f ms last: %s",
      1000 * f, 1000 * l, (l <= 1.25 * f ? "flat" : "GROWS") }')${note:+, $note}"
  fi
  awk -v l="$label" -v w="$wall" -v c="$cpu" -v p="$peak" -v s="$size" -v r="$reference" -v n="$note" 'BEGIN {
    printf "  %-36s %8.3f %8.3f %10s %8.2f  %s\n", l, w, c, (s > 0 ? sprintf("%.2fx", p / s) : "-"), w / r, n }'
}
header() {
  printf "  %-36s %8s %8s %10s %8s\n" client "wall s" "CPU s" "peak/size" "vs curl"
}

# The OCX's rows, one per build, beside the native row `key`.native.
ocx_client() {  # build
  case $1 in
    win64) echo ocx64 ;;
    *) echo "ocx32${CORVANE_WIN32_EMULATE:+_emulated}" ;;
  esac
}
ocx_rows() {  # key label size reference ocx_mail_bench arguments...
  local key=$1 label=$2 size=$3 reference=$4 build figures name
  shift 4
  for build in "${ocx_builds[@]}"; do
    figures=$(measure ocx "$build" "$@")
    name="OCX ${build#win}-bit"
    [[ $build == win64 || -z ${CORVANE_WIN32_EMULATE:-} ]] || name+=" (emulated)"
    row "$key.$(ocx_client "$build")" "${label:+$label, }$name" "$figures" "$size" "$reference" \
      "$(ratio "${figures%% *}" "${wall_of[$key.native]}")x native"
  done
}

mib=$((1 << 20))
user_of=([1]=u1 [10]=u2 [50]=u3)
pass_of=([1]=p1 [10]=p2 [50]=p3)
many=2000  # of 2 KiB each, as bench/mail_messages.h makes them
echo "load average at start: $load_start ${load_start_rest% * *}"

# --- Retrieve: one message per mailbox, put there before anything else arrives
for size in 1 10 50; do
  "$bench" write-maildir $((size * mib)) "$work/m$size.eml"
  mail_servers_deliver "$work/servers" "${user_of[size]}" "$work/m$size.eml"
done
echo
echo "Retrieve of message 1 from Dovecot: POP3Login, Retrieve, POP3Logout; curl pop3://.../1 -o /dev/null"
echo "(median of $runs; peak: growth of the process's peak memory over the message size)"
header
for size in 1 10 50; do
  u=${user_of[size]} p=${pass_of[size]} key=retrieve.${size}MiB
  curl_figures=$(measure curl_run "pop3://$u:$p@127.0.0.1:$POP3_PORT/1" -o /dev/null)
  native_figures=$(measure "$bench" retrieve "$u" "$p" $((size * mib)))
  reference=${curl_figures%% *}
  row "$key.curl" "$size MiB, curl" "$curl_figures" 0 "$reference"
  # The server's own pace, which bounds every client: a bare reader that drops the text.
  row "$key.floor" "$size MiB, server floor" "$(measure "$bench" floor "$u" "$p")" 0 "$reference"
  row "$key.native" "$size MiB, native" "$native_figures" $((size * mib)) "$reference"
  ocx_rows "$key" "$size MiB" $((size * mib)) "$reference" retrieve "$servers_env" "$u" "$p" $((size * mib))
done
echo "  native time per MiB: $(for s in 1 10 50; do awk -v w="${wall_of[retrieve.${s}MiB.native]}" -v s=$s \
  'BEGIN { printf "%s MiB %.1f ms  ", s, 1000 * w / s }'; done)"

# --- Many small messages: written straight into u4's Maildir, which Dovecot then
# indexes once before anything is timed.
"$bench" write-maildir 2048 "$work/small.eml"
small=$(<"$work/small.eml")
box=$work/servers/mail/u4/Maildir
for ((i = 1; i <= many; i++)); do printf '%s\n' "$small" >"$box/tmp/$i.M$$.corvane"; done
chown "$ms_owner:" "$box"/tmp/*.corvane && mv "$box"/tmp/*.corvane "$box/new/"
curl -s -S "pop3://u4:p4@127.0.0.1:$POP3_PORT/" -o /dev/null
urls=()
for ((i = 1; i <= many; i++)); do urls+=(-o /dev/null "pop3://u4:p4@127.0.0.1:$POP3_PORT/$i"); done
echo
echo "$many messages of 2 KiB in one session from Dovecot: POP3Login, Retrieve 1 to $many, POP3Logout;"
echo "curl with the $many URLs in one run, over one connection (median of $runs). Time per message must"
echo "stay flat from the first quarter of the session to the last."
header
key=retrieve.${many}x2KiB
curl_figures=$(measure curl_run "${urls[@]}")
reference=${curl_figures%% *}
row "$key.curl" "$many x 2 KiB, curl" "$curl_figures" 0 "$reference" \
  "$(awk -v w="$reference" -v n=$many 'BEGIN { printf "per message %.3f ms on average", 1000 * w / n }')"
row "$key.native" "$many x 2 KiB, native" "$(measure "$bench" many retrieve u4 p4)" 0 "$reference"
ocx_rows "$key" "$many x 2 KiB" 0 "$reference" many "$servers_env" retrieve u4 p4

# --- Send
"$bench" write-send "$work/send.eml"
echo
echo "Send of a 10 MiB body (76-character lines) to Postfix's smtpd: SMTPLogin, Send, SMTPLogout;"
echo "curl --upload-file of the same message (median of $runs)"
header
drain=1
key=send.10MiB
curl_figures=$(measure curl_run --mail-from u1@corvane.test --mail-rcpt u2@corvane.test --upload-file "$work/send.eml" \
  "smtp://127.0.0.1:$SMTP_PORT")
sed "s/^SINK_PORT=.*/SINK_PORT=$SMTP_PORT/" "$work/servers/servers.env" >"$work/send.env"
reference=${curl_figures%% *}
row "$key.curl" "curl --upload-file" "$curl_figures" 0 "$reference"
row "$key.native" "native" "$(CORVANE_MAIL_SERVERS=$work/send.env measure "$bench" send)" 0 "$reference"
ocx_rows "$key" "" 0 "$reference" send "$(wine_path "$work/send.env")"
drain=

# --- Many small sends: to Postfix's smtpd like the 10 MiB one (smtp-sink cannot take
# Send's DATA, see the head); each accepted message costs Postfix a queue file
# whatever the client, and its deliveries are awaited between runs.
"$bench" write-send "$work/small-send.eml" small
uploads=()
for ((i = 1; i <= many; i++)); do uploads+=(--upload-file "$work/small-send.eml" "smtp://127.0.0.1:$SMTP_PORT"); done
echo
echo "$many Sends of a 2 KiB body in one session to Postfix's smtpd: SMTPLogin, $many Sends, SMTPLogout;"
echo "curl with $many uploads in one run, over one connection (median of $runs). Time per message must stay flat."
header
drain=1
key=send.${many}x2KiB
curl_figures=$(measure curl_run --mail-from u1@corvane.test --mail-rcpt u2@corvane.test "${uploads[@]}")
reference=${curl_figures%% *}
row "$key.curl" "$many x 2 KiB, curl" "$curl_figures" 0 "$reference" \
  "$(awk -v w="$reference" -v n=$many 'BEGIN { printf "per message %.3f ms on average", 1000 * w / n }')"
row "$key.native" "$many x 2 KiB, native" "$(CORVANE_MAIL_SERVERS=$work/send.env measure "$bench" many send)" 0 \
  "$reference"
ocx_rows "$key" "$many x 2 KiB" 0 "$reference" many "$(wine_path "$work/send.env")" send
drain=

# --- SendMime
"$bench" write-attachment "$work/attachment.bin"
"$bench" write-mime "$work/attachment.bin" "$work/mime.eml"
echo
echo "SendMime of a message with a 10 MiB attachment to smtp-sink: SMTPLogin, SendMime, SMTPLogout"
echo "(composed before through MimeFrom, MimeTo, MimeContentAdd, MimeContentAddFromFile: its time in"
echo "the note, its memory in the peak); curl --upload-file of the message GenerateMime writes (median of $runs)"
header
key=sendmime.10MiB
curl_figures=$(measure curl_run --mail-from u1@corvane.test --mail-rcpt u2@corvane.test --upload-file "$work/mime.eml" \
  "smtp://127.0.0.1:$SINK_PORT")
reference=${curl_figures%% *}
row "$key.curl" "curl --upload-file" "$curl_figures" 0 "$reference"
row "$key.native" "native" "$(measure "$bench" sendmime "$work/attachment.bin")" $((10 * mib)) "$reference"
ocx_rows "$key" "" $((10 * mib)) "$reference" sendmime "$servers_env" "$(wine_path "$work/attachment.bin")"

# --- The figures, the main ones last
read -r load_end load_end_rest </proc/loadavg
echo
echo "load average at end: $load_end ${load_end_rest% * *}"
echo
cat "$work/figures"
echo
echo "main figures: wall-time ratios, peak memory growth over the message size, the 1-minute load average"
clients=(native)
for build in "${ocx_builds[@]}"; do clients+=("$(ocx_client "$build")"); done
for key in retrieve.50MiB send.10MiB sendmime.10MiB; do
  echo "figure $key.native_per_curl=$(ratio "${wall_of[$key.native]}" "${wall_of[$key.curl]}")"
  for client in "${clients[@]:1}"; do
    echo "figure $key.${client}_per_native=$(ratio "${wall_of[$key.$client]}" "${wall_of[$key.native]}")"
  done
done
for key in retrieve.50MiB sendmime.10MiB; do
  for client in "${clients[@]}"; do echo "figure $key.$client.peak_per_size=${peak_of[$key.$client]}"; done
done
echo "figure load.start=$load_start"
echo "figure load.end=$load_end"