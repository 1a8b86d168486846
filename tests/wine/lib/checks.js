// --- The helpers the JScript tests share, from tests/wine/lib/checks.js:
// scripts/lib/wine.sh (wine_script) appends them to each test before it runs, as
// JScript has no include. Function declarations are hoisted, so the test calls
// them above, and lines in error reports are the test's own.

var checkFailed;  // hoisted, undefined until a check fails; this line does not reset it

// Prints "ok - what", or "not ok - what: detail".
function check(what, passed, detail) {
  if (passed) {
    WScript.Echo("ok - " + what);
  } else {
    checkFailed = true;
    WScript.Echo("not ok - " + what + ": " + detail);
  }
}

// The last line, "RESULT PASS" or "RESULT FAIL"; after a failure the exit status is 1.
// A script that stops early prints no RESULT line.
function finish() {
  WScript.Echo(checkFailed ? "RESULT FAIL" : "RESULT PASS");
  if (checkFailed) WScript.Quit(1);
}
