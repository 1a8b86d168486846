// Sends a plain text message over SMTP with Send: a subject, a body with From and
// To header lines of its own, and an optional copy.
//
//   cscript send_plain.js HOST[:PORT] FROM TO [CC] [tls]
//
// FROM, TO and CC are addresses like alice@example.com. With "tls" the connection
// uses implicit TLS (port 465 unless HOST gives one).
// The last line says how it went: "PASS: ..." or "FAIL: ...".
// JScript cannot set the Error event's Cancel: errors also show a message box.
var args = WScript.Arguments;

function finish(passed, what) {
  WScript.Echo((passed ? "PASS: " : "FAIL: ") + what);
  WScript.Quit(passed ? 0 : 1);
}

function c_Error(code, text, cancel) {
  WScript.Echo("  error " + code + ": " + text);
}

if (args.length < 3) finish(false, "usage: send_plain.js HOST[:PORT] FROM TO [CC] [tls]");
var tls = args(args.length - 1) === "tls";
var cc = args.length - (tls ? 1 : 0) > 3 ? "<" + args(3) + ">" : "";

var c = WScript.CreateObject("prjCorvane.Corvane", "c_");
c.SMTPhost = args(0);
c.IsSecured = tls;
c.SMTPsender = "<" + args(1) + ">";  // the envelope sender, in angle brackets

// Send writes only the Subject line: other header lines go at the start of the
// body, then an empty line, then the text. A line that starts with "." is fine.
var subject = "Corvane example: a plain message";
var body = ["From: Corvane example <" + args(1) + ">",
            "To: <" + args(2) + ">",
            "",
            "Hello,",
            "this message was sent by send_plain.js.",
            ".signature"].join("\r\n");

if (!c.SMTPLogin()) finish(false, "SMTPLogin failed with error " + c.ErrCode);
var sent = c.Send("<" + args(2) + ">", subject, cc, body);
var code = c.ErrCode;
c.SMTPLogout();
if (!sent) finish(false, "Send failed with error " + code);
finish(true, "sent to " + args(2) + (cc ? " and " + args(3) : ""));
