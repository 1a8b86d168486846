// The control from JScript. JScript passes every argument by value and cannot
// assign to a handler's by-reference arguments, so it checks what it can reach:
// literals for by-reference parameters, a plain round trip with the Debugger
// trace, the Error event of a refused connection, and a core error as an
// exception.
// Arguments: the plain echo port, a port where nothing listens.
// Prints "ok - ..." / "not ok - ..." per check and ends with "RESULT PASS" or
// "RESULT FAIL"; a script that stops early prints no RESULT line.
// check and finish come from tests/wine/lib/checks.js, appended when it runs.

// Ports above 32767 travel in their negative 16-bit form.
function port16(port) {
  return port > 32767 ? port - 65536 : port;
}

var traces = [];
var errors = [];

function c_Debugger(info) {
  traces.push(info);
}

function c_Error(code, text, cancel) {
  errors.push([code, text, cancel]);
}

var plain = port16(parseInt(WScript.Arguments(0), 10));
var refused = port16(parseInt(WScript.Arguments(1), 10));
var c = WScript.CreateObject("prjCorvane.Corvane", "c_");

c.Debug_ = true;
check("SocketOpen takes literals for its by-reference parameters", c.SocketOpen("localhost", plain) === -1, "");
check("SocketSend", c.SocketSend("hello\r\n") === -1, "");
var text = c.SocketRead();
check("SocketRead returns the echo", text === "hello\r\n", text);
check("the Debugger handler gets the received text", traces.join("|") === "Got hello\r\n", traces.join("|"));
check("SocketClose", c.SocketClose() === -1, "");

var result = c.SocketOpen("localhost", refused);
check("SocketOpen to a refused port returns 0", result === 0, result);
check("one Error event, with the socket's number, its text and Cancel false",
      errors.length === 1 && errors[0][0] === 10061 && /refused/.test(errors[0][1]) && errors[0][2] === false,
      errors.join("|"));
check("ErrCode holds the socket's number", c.ErrCode === 10061, c.ErrCode);

check("z_URLEnc_EncodeEx takes literals",
      c.z_URLEnc_EncodeEx("a b/c?\r\n", 7) === "a%20b%2Fc%3F%0D%0A", c.z_URLEnc_EncodeEx("a b/c?\r\n", 7));

var failure = null;
try {
  c.MimeContentAddFromFile(1, "Z:\\no\\such\\folder\\x.bin");
} catch (e) {
  failure = e;
}
check("a missing folder raises path not found naming the path",
      failure !== null && (failure.number >>> 0) === 0x800A004C &&
          failure.description === "Path not found: 'Z:\\no\\such\\folder\\x.bin'",
      failure && (failure.number >>> 0).toString(16) + " " + failure.description);

finish();
