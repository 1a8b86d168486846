// Uses the control as a raw text socket: talks to an SMTP server by hand (greeting,
// EHLO, QUIT) with SocketOpen, SocketSend, SocketRead and SocketClose.
//
//   cscript raw_socket.js HOST PORT [tls]
//
// With "tls" the connection uses implicit TLS (an SMTP server's port 465).
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

// An SMTP reply is complete when a whole line has a blank after its code:
// "250 OK" ends it, "250-SIZE" is followed by more lines.
function complete(reply) {
  return /^\d{3} .*\r\n/m.test(reply);
}

// SocketRead waits only for the first text of a connection; after that it returns
// at once with whatever has arrived. So read in a loop, letting the socket's
// events in between (WScript.Sleep runs them), until the reply is complete.
function readReply() {
  var reply = "";
  for (var attempt = 0; attempt < 100 && !complete(reply); ++attempt) {
    if (attempt > 0) WScript.Sleep(50);
    reply += c.SocketRead();
  }
  WScript.Echo("S: " + reply.replace(/\r\n$/, "").replace(/\r\n/g, "\r\nS: "));
  return reply;
}

function sendLine(line) {
  WScript.Echo("C: " + line);
  if (c.SocketSend(line + "\r\n") !== -1) finish(false, "could not send " + line);
}

if (args.length < 2) finish(false, "usage: raw_socket.js HOST PORT [tls]");
var port = parseInt(args(1), 10);

var c = WScript.CreateObject("prjCorvane.Corvane", "c_");
c.IsSecured = args(args.length - 1) === "tls";
// SocketOpen's port is a 16-bit integer: ports above 32767 go as port - 65536.
if (c.SocketOpen(args(0), port > 32767 ? port - 65536 : port) !== -1)
  finish(false, "no connection (error " + c.ErrCode + ")");

var greeting = readReply();
sendLine("EHLO client.example");
var capabilities = readReply();
sendLine("QUIT");
var goodbye = readReply();
if (c.SocketClose() !== -1) finish(false, "the connection did not close");

if (greeting.substr(0, 3) !== "220") finish(false, "no greeting");
if (capabilities.indexOf("250 ") < 0) finish(false, "EHLO was not answered");
if (goodbye.substr(0, 3) !== "221") finish(false, "QUIT was not answered");
finish(true, "EHLO answered with " + (capabilities.split("\r\n").length - 1) + " lines, QUIT with 221");
