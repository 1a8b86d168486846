// What the control does with line breaks in values: Send and SendMime refuse a
// recipient, subject or sender that holds CR or LF (error 6) before anything of the
// message is sent, so nobody can slip in a header or a command; the session stays
// usable. Line breaks in the message text are fine.
//
//   cscript line_breaks.js HOST[:PORT] FROM TO [tls]
//
// The last line says how it went: "PASS: ..." or "FAIL: ...".
// JScript cannot set the Error event's Cancel: errors also show a message box.
var args = WScript.Arguments;
var lastError = "";

function finish(passed, what) {
  WScript.Echo((passed ? "PASS: " : "FAIL: ") + what);
  WScript.Quit(passed ? 0 : 1);
}

function c_Error(code, text, cancel) {
  WScript.Echo("  error " + code + ": " + text);
  lastError = text;
}

if (args.length < 3) finish(false, "usage: line_breaks.js HOST[:PORT] FROM TO [tls]");
var c = WScript.CreateObject("prjCorvane.Corvane", "c_");
c.SMTPhost = args(0);
c.IsSecured = args(args.length - 1) === "tls";
c.SMTPsender = "<" + args(1) + ">";
if (!c.SMTPLogin()) finish(false, "SMTPLogin failed with error " + c.ErrCode);

// A subject taken from a web form, with a header smuggled in: refused.
if (c.Send("<" + args(2) + ">", "Hello\r\nBcc: <someone@example.com>", "", "text"))
  finish(false, "a subject with a line break was sent");
if (c.ErrCode !== 6 || lastError.indexOf("Subject holds a line break") !== 0) finish(false, "Send: error " + c.ErrCode);

// A recipient with a line break, for SendMime: refused; the composition is kept, to be put right.
c.MimeFrom = args(1);
c.MimeTo = "<" + args(2) + ">\n<someone@example.com>";
c.MimeContentAdd(1, "text");
if (c.SendMime() !== 0) finish(false, "a recipient with a line break was sent");
if (c.ErrCode !== 6 || lastError.indexOf("To holds a line break") !== 0) finish(false, "SendMime: error " + c.ErrCode);

// The same session sends a good message. Line breaks belong in the text, and a
// line that is a lone "." or starts with one arrives as written.
var body = "\r\nFirst line\r\n.\r\n.hidden?\r\nlast line";
if (!c.Send("<" + args(2) + ">", "Corvane example: line breaks", "", body))
  finish(false, "the good message was not sent: error " + c.ErrCode);
c.SMTPLogout();
finish(true, "two values with line breaks refused with error 6, then the good message sent");
