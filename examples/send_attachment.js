// Sends a message with file attachments: composes it with the control's MIME
// members (a text part, then one Base64 part per file) and sends it with SendMime.
//
//   cscript send_attachment.js HOST[:PORT] FROM TO FILE [FILE...] [tls]
//
// FROM and TO are addresses like alice@example.com. With "tls" the connection uses
// implicit TLS (port 465 unless HOST gives one).
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

if (args.length < 4) finish(false, "usage: send_attachment.js HOST[:PORT] FROM TO FILE [FILE...] [tls]");
var tls = args(args.length - 1) === "tls";
var last = args.length - (tls ? 2 : 1);

var c = WScript.CreateObject("prjCorvane.Corvane", "c_");
c.SMTPhost = args(0);
c.IsSecured = tls;

// --- Compose. The address members put the address in angle brackets.
c.MimeFrom = "Corvane example " + args(1);
c.MimeTo = args(2);
c.MimeSubject = "Corvane example: " + (last - 2) + " attachments";
var names = [];
for (var i = 3, part = 2; i <= last; ++i, ++part) {
  try {
    c.MimeContentAddFromFile(part, args(i));
  } catch (e) {
    // A file that cannot be read is an automation error (53, 75 or 76), not an Error event.
    finish(false, "could not attach " + args(i) + ": " + (e.number & 0xFFFF) + " " + e.description);
  }
  WScript.Echo("part " + part + ": " + c.MimeContentType(part));
  names.push(args(i).substr(args(i).lastIndexOf("\\") + 1));
}
// The text is part 1: it comes first in the message.
c.MimeContentAdd(1, "Hello,\r\n\r\nattached: " + names.join(" ") + "\r\n");
WScript.Echo("composed " + c.MimeContentCount + " parts from " + c.MimeFrom + " to " + c.MimeTo);

// --- Send. SendMime empties the composition afterwards, sent or not.
if (!c.SMTPLogin()) finish(false, "SMTPLogin failed with error " + c.ErrCode);
var sent = c.SendMime();
var code = c.ErrCode;
c.SMTPLogout();
if (sent !== -1) finish(false, "SendMime failed with error " + code);
finish(true, "sent " + names.join(" ") + " to " + args(2));
