// Reads a POP3 mailbox: logs in, lists every message with its size, sender and
// subject, and with "delete" deletes them all (the server removes them when the
// session ends).
//
//   cscript read_mail.js HOST[:PORT] USER PASSWORD [delete] [tls]
//
// With "tls" the connection uses implicit TLS (port 995 unless HOST gives one).
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

// The value of a header line ("Subject", "From") of a message, or "".
function header(message, name) {
  var lines = message.split("\r\n");
  for (var k = 1; k < lines.length && lines[k] !== ""; ++k) {  // line 0 is "+OK ..."
    if (lines[k].substr(0, name.length + 1).toLowerCase() === name.toLowerCase() + ":")
      return lines[k].substr(name.length + 1).replace(/^\s+|\s+$/g, "");
  }
  return "";
}

if (args.length < 3) finish(false, "usage: read_mail.js HOST[:PORT] USER PASSWORD [delete] [tls]");
var deleting = false;
for (var i = 3; i < args.length; ++i) {
  if (args(i) === "delete") deleting = true;
}

var c = WScript.CreateObject("prjCorvane.Corvane", "c_");
c.POP3host = args(0);
c.POP3user = args(1);
c.POP3password = args(2);
c.IsSecured = args(args.length - 1) === "tls";

if (!c.POP3Login()) finish(false, "POP3Login failed with error " + c.ErrCode);
WScript.Echo(c.MailBoxCount + " messages, " + c.MailBoxSize + " bytes");

var count = c.MailBoxCount, deleted = 0;
for (var n = 1; n <= count; ++n) {
  var text = c.Retrieve(n);  // the server's status line, then the message
  if (text === "") finish(false, "message " + n + " could not be retrieved (error " + c.ErrCode + ")");
  WScript.Echo("#" + n + " " + c.Size(n) + " bytes  From: " + header(text, "From") +
               "  Subject: " + header(text, "Subject"));
  if (deleting) {
    if (!c.Delete(n)) finish(false, "message " + n + " was not deleted (error " + c.ErrCode + ")");
    ++deleted;
  }
}

if (!c.POP3Logout()) finish(false, "the server did not acknowledge QUIT: nothing was deleted");
finish(true, "read " + count + " messages, deleted " + deleted);
