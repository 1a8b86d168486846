#!/usr/bin/env bash
# Plants one-line faults in the core one at a time and runs the native unit tests
# against each: a fault the tests do not notice survives. Works on a copy of the
# tree in a temporary folder (the work tree is never touched) with its own
# incremental build. Prints "caught N/M" and the survivors; fails if any survive.
#   scripts/mutants.sh [NAME...]     only the mutants named
set -euo pipefail
cd "$(dirname "$0")/.."

# name @@ file @@ text @@ replacement   (¶ stands for a line break; the text must
# occur exactly once in the file)
mutants=$(cat <<'LIST'
find-start-off-by-one @@ src/text/fields.cpp @@ static_cast<size_t>(start - 1) @@ static_cast<size_t>(start)
find-start-past-end @@ src/text/fields.cpp @@ if (start > static_cast<int32_t>(text.size())) @@ if (start >= static_cast<int32_t>(text.size()))
split-skips-a-character @@ src/text/fields.cpp @@ p = e + d - 1; @@ p = e + d;
rounding-half-away @@ src/text/fields.cpp @@ std::nearbyint(value) @@ std::round(value)
number-keeps-line-feeds @@ src/text/fields.cpp @@ c == u'\t' || c == u'\n'; @@ c == u'\t';
overflow-at-the-top @@ src/text/fields.cpp @@ rounded <= std::numeric_limits<Int>::max() @@ rounded < std::numeric_limits<Int>::max()
match-skips-a-position @@ src/transport/dialogue.cpp @@ recvBuffer_.size() - expected.size() + 1; @@ recvBuffer_.size() - expected.size() + 2;
quotes-201-characters @@ src/transport/dialogue.cpp @@ kQuotedLength = 200; @@ kQuotedLength = 201;
said-keeps-line-end @@ src/transport/dialogue.cpp @@ lastSaid_.assign(line, 0, line.size() - lineEnd_.size()); @@ lastSaid_ = line;
timeout-zero-times-out @@ src/transport/dialogue.cpp @@ if (timeout == 0 || ticksLeft_ > 0) { @@ if (ticksLeft_ > 0) {
counters-from-the-late-tail @@ src/transport/dialogue.cpp @@ reply->erase(0, answer); @@ reply->erase(0, 0);
retrieve-waits-for-ok @@ src/pop3/messages.cpp @@ dialogue_.Await(lineEnd); @@ dialogue_.Await(u"+OK");
retrieve-ignores-err @@ src/pop3/messages.cpp @@ const size_t refusal = first->find(u"-ERR"); @@ const size_t refusal = first->starts_with(u"-ERR") ? 0 : std::u16string::npos;
retrieve-leaves-message-after-err @@ src/pop3/messages.cpp @@ dialogue_.CollectAnswer(dropped, kPop3Terminator, reserve, false); @@ (void)dropped;
retrieve-keeps-connection-mid-message @@ src/transport/dialogue.cpp @@ void Dialogue::Abandon() {¶  if (socket_.State() != Socket::kClosed) socket_.Close(); @@ void Dialogue::Abandon() {¶  (void)socket_;
retrieve-trickles-for-ever @@ src/transport/dialogue.cpp @@ seconds > timeout && @@ seconds > 100 * timeout &&
terminator-search-too-late @@ src/transport/dialogue.cpp @@ answer.size() - (terminator.size() - 1); @@ answer.size() - (terminator.size() - 2);
retrieve-drops-last-line-end @@ src/pop3/messages.cpp @@ message.resize(end + 2); @@ message.resize(end);
unstuffing-keeps-both-dots @@ src/pop3/reply.cpp @@ size_t write = found + 3; @@ size_t write = found + 4;
pop3-default-port @@ src/pop3/session.cpp @@ IsSecured() ? 995 : 110 @@ IsSecured() ? 995 : 109
busy-kept-after-failed-login @@ src/pop3/session.cpp @@ ws_->Close();¶  busy_ = false;¶  return false; @@ ws_->Close();¶  return false;
smtp-default-port @@ src/smtp/session.cpp @@ IsSecured() ? 465 : 25 @@ IsSecured() ? 25 : 465
dots-behind-bare-breaks @@ src/smtp/session.cpp @@ if (dot == 0 || text[dot - 1] == u'\r' || text[dot - 1] == u'\n') { @@ if (dot == 0) {
bare-cr-not-refused @@ src/text/fields.cpp @@ kLineBreaking(u"\r\n\0", 3) @@ kLineBreaking(u"\n\0", 2)
nul-not-refused @@ src/text/fields.cpp @@ kLineBreaking(u"\r\n\0", 3) @@ kLineBreaking(u"\r\n", 2)
password-shown @@ src/text/fields.cpp @@ shown += secret ? u'*' : c; @@ shown += c;
mail-from-blank @@ src/smtp/send_mime.cpp @@ u"MAIL FROM:" + sender @@ u"MAIL FROM: " + sender
empty-sender-refused @@ src/smtp/send_mime.cpp @@ last - first + 1 < 0 @@ last - first + 1 <= 0
base64-padding @@ src/mime/base64.cpp @@ if (rest == 1) out[2] = '='; @@ if (rest == 2) out[2] = '=';
base64-line-break-after-last @@ src/mime/base64.cpp @@ return digits + 2 * (lines - 1); @@ return digits + 2 * lines;
percent-single-digit @@ src/text/percent.cpp @@ code < 16 ? "%0" : "%" @@ code < 15 ? "%0" : "%"
del-not-a-control @@ src/text/percent.cpp @@ (code < 32 || code >= 127) @@ (code < 32 || code > 127)
content-add-resets-type @@ src/mime/mime.cpp @@ if (record.type.empty()) record.type = kDefaultTextType; @@ record.type = kDefaultTextType;
address-one-bracket-enough @@ src/smtp/mime_facade.cpp @@ address.front() == u'<' && address.back() == u'>' @@ address.front() == u'<' || address.back() == u'>'
port-after-last-colon @@ src/control/settings.cpp @@ value.find(u':') @@ value.rfind(u':')
timeout-not-clamped @@ src/control/corvane.cpp @@ std::clamp<int16_t>(seconds, 0, 60) @@ std::clamp<int16_t>(seconds, 0, 600)
run-flushes-a-byte-late @@ src/transport/send_queue.h @@ run_ && Unsent() < kFlushAt; @@ run_ && Unsent() <= kFlushAt;
run-survives-arrival @@ src/transport/send_queue.cpp @@ pump == completedInPump_ && pump != arrivedInPump_; @@ pump == completedInPump_;
close-keeps-the-run @@ src/transport/send_queue.cpp @@ owed_ = run_ = false;¶  completedInPump_ = kNoPump; @@ owed_ = run_ = false;
record-text-done-early @@ src/transport/send_queue.cpp @@ if (wireSent_ < wire_.size()) return 0; @@ if (wireSent_ == 0) return 0;
LIST
)

only=("$@")
work=$(mktemp -d /tmp/corvane-mutants.XXXXXX)
trap 'rm -rf "$work"' EXIT
git ls-files -co --exclude-standard -z | tar --null -T - -cf - | tar -xf - -C "$work"
cmake -S "$work" -B "$work/build" -G Ninja -DCORVANE_WERROR=OFF -DCMAKE_BUILD_TYPE= >/dev/null
build() { ninja -C "$work/build" corvane_unit_tests >"$work/build.log" 2>&1; }
run() { timeout 300 "$work/build/tests/corvane_unit_tests" --gtest_brief=1 >"$work/run.log" 2>&1; }
build || { cat "$work/build.log"; exit 1; }
run || { echo "the unit tests fail without any mutant:"; cat "$work/run.log"; exit 1; }

caught=0 total=0 survivors=() unbuilt=()
while IFS= read -r entry; do
  [ -n "$entry" ] || continue
  name=${entry%% @@ *}
  if [ ${#only[@]} -gt 0 ] && [[ ! " ${only[*]} " == *" $name "* ]]; then continue; fi
  rest=${entry#* @@ }
  file=${rest%% @@ *}
  cp "$work/$file" "$work/original"
  python3 - "$work/$file" "$rest" <<'PY' || { echo "mutant $name does not apply"; exit 1; }
import sys
path, rest = sys.argv[1], sys.argv[2]
_, old, new = (part.replace('¶', '\n') for part in rest.split(' @@ '))
text = open(path, encoding='utf-8').read()
if text.count(old) != 1:
    sys.exit(1)
open(path, 'w', encoding='utf-8').write(text.replace(old, new))
PY
  total=$((total + 1))
  if ! build; then
    unbuilt+=("$name")
    printf '%-30s does not build\n' "$name"
  elif run; then
    survivors+=("$name ($file)")
    printf '%-30s SURVIVED\n' "$name"
  else
    caught=$((caught + 1))
    failed=$(grep -c '^\[  FAILED  \]' "$work/run.log" || true)
    printf '%-30s caught (%s failing tests)\n' "$name" "${failed:-timeout}"
  fi
  cp "$work/original" "$work/$file"
done <<<"$mutants"

echo "caught $caught/$total"
[ ${#unbuilt[@]} -eq 0 ] || echo "did not build: ${unbuilt[*]}"
if [ ${#survivors[@]} -ne 0 ]; then
  printf 'survivor: %s\n' "${survivors[@]}"
  exit 1
fi
