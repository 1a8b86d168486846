// Checks that the control can reach a server over implicit TLS: opens a TLS
// connection, reads the server's greeting, and on failure says what the TLS error
// means and what to do.
//
//   cscript tls_connect.js HOST PORT
//
// HOST must be the name the server's certificate is made out to (pop.example.com
// on 995, smtp.example.com on 465), and the certificate authority that issued it
// must be trusted by this computer: on Windows, in the certificate store
// (certutil -addstore Root ca.cer, as administrator).
// The last line says how it went: "PASS: ..." or "FAIL: ...".
// JScript cannot set the Error event's Cancel: errors also show a message box.
var args = WScript.Arguments;
var failure = "";

function finish(passed, what) {
  WScript.Echo((passed ? "PASS: " : "FAIL: ") + what);
  WScript.Quit(passed ? 0 : 1);
}

// What to do about the errors a TLS connection can report.
var advice = {
  12045: "the certificate's authority is not trusted: add it to the trusted root store",
  12038: "the certificate is made out to another name: connect with the name it names",
  12037: "the certificate has expired or is not yet valid: check the server and this computer's clock",
  12157: "the TLS handshake failed: is this a TLS port (995, 465)?",
  10061: "nothing listens on that port",
  11001: "no such host"
};

function c_Error(code, text, cancel) {
  WScript.Echo("  error " + code + ": " + text);
  if (!failure) failure = "error " + code + ": " + (advice[code] || "see the guide's list of errors");
}

if (args.length < 2) finish(false, "usage: tls_connect.js HOST PORT");
var port = parseInt(args(1), 10);

var c = WScript.CreateObject("prjCorvane.Corvane", "c_");
c.IsSecured = true;  // TLS from the first byte
c.Timeout = 10;
// SocketOpen's port is a 16-bit integer: ports above 32767 go as port - 65536.
if (c.SocketOpen(args(0), port > 32767 ? port - 65536 : port) !== -1)
  finish(false, failure || "no connection within " + c.Timeout + " seconds");

// The first SocketRead waits for the greeting; later ones return at once.
var greeting = "";
for (var attempt = 0; attempt < 50 && greeting.indexOf("\n") < 0; ++attempt) {
  if (attempt > 0) WScript.Sleep(100);
  greeting += c.SocketRead();
}
c.SocketClose();
if (!greeting) finish(false, "connected, but the server said nothing");
finish(true, "TLS connection to " + args(0) + ":" + args(1) + ", the server says " + greeting.replace(/\r\n/g, ""));
