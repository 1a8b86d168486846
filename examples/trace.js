// Traces a POP3 session: with Debug_ on, every line the control sends, every reply
// it waits for and every piece of text it receives comes as a Debugger event. This
// example prints them with CR and LF made visible and the password hidden.
//
//   cscript trace.js HOST[:PORT] USER PASSWORD [tls]
//
// The last line says how it went: "PASS: ..." or "FAIL: ...".
// JScript cannot set the Error event's Cancel: errors also show a message box.
var args = WScript.Arguments;
var lines = 0, labels = "";

function finish(passed, what) {
  WScript.Echo((passed ? "PASS: " : "FAIL: ") + what);
  WScript.Quit(passed ? 0 : 1);
}

function c_Error(code, text, cancel) {
  WScript.Echo("  error " + code + ": " + text);
}

// One trace line. It may hold CR, LF and anything the server sent; the PASS
// command carries the password as it is sent.
function c_Debugger(info) {
  var shown = /^Say: {6}PASS /.test(info) ? "Say:      PASS ********\r\n" : info;
  WScript.Echo("  | " + shown.replace(/\r/g, "\\r").replace(/\n/g, "\\n"));
  ++lines;
  if (info.charAt(0) === "[") labels += info;
}

if (args.length < 3) finish(false, "usage: trace.js HOST[:PORT] USER PASSWORD [tls]");
var c = WScript.CreateObject("prjCorvane.Corvane", "c_");
c.POP3host = args(0);
c.POP3user = args(1);
c.POP3password = args(2);
c.IsSecured = args(args.length - 1) === "tls";

c.Debug_ = true;
if (!c.POP3Login()) finish(false, "POP3Login failed with error " + c.ErrCode);
c.POP3Logout();
c.Debug_ = false;

if (labels !== "[POP3 logging in][POP3 logging out]") finish(false, "unexpected labels " + labels);
finish(true, lines + " trace lines");
