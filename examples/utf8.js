// Sends a message whose subject, text and attachment name hold characters of
// any script: with Charset "UTF-8" they go out as UTF-8, the subject as an
// encoded word and the file name as an RFC 2231 parameter.
//
//   cscript utf8.js HOST[:PORT] FROM TO FILE [tls]
//
// FILE is attached under a non-ASCII name. With "tls" the connection uses
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

if (args.length < 4) finish(false, "usage: utf8.js HOST[:PORT] FROM TO FILE [tls]");

var c = WScript.CreateObject("prjCorvane.Corvane", "c_");
c.SMTPhost = args(0);
c.IsSecured = args(args.length - 1) === "tls";
c.Charset = "UTF-8";  // without it, text is sent in the system's 8-bit code page

var subject = "Gr\u00fc\u00dfe \u2014 \u65e5\u672c\u8a9e \u03b1\u03b2\u03b3";
var name = "\u00e9t\u00e9 \u2013 \u5831\u544a.txt";
c.MimeFrom = "Corvane example " + args(1);
c.MimeTo = args(2);
c.MimeSubject = subject;
c.MimeContentAdd(1, "Hello,\r\n\r\n\u00bfQu\u00e9 tal? \u041f\u0440\u0438\u0432\u0435\u0442!\r\n");
try {
  c.MimeContentAddFromFile(2, args(3), name);
} catch (e) {
  finish(false, "could not attach " + args(3) + ": " + (e.number & 0xFFFF) + " " + e.description);
}

if (!c.SMTPLogin()) finish(false, "SMTPLogin failed with error " + c.ErrCode);
var sent = c.SendMime();
var code = c.ErrCode;
c.SMTPLogout();
if (sent !== -1) finish(false, "SendMime failed with error " + code);
finish(true, "sent a UTF-8 subject and file name to " + args(2));
