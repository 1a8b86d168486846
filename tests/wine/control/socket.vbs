' The control as a raw text socket, driven from VBScript against the loopback
' echo servers: plain and TLS round trips, the "Got" trace of the Debugger event,
' waits for late data, a silent peer, a peer that closes, and handlers that let
' go of their control.
' Arguments: the plain echo port, the TLS echo port (certificate for localhost).
' Prints "ok - ..." / "not ok - ..." per check and ends with "RESULT PASS" or
' "RESULT FAIL"; a script that stops early prints no RESULT line.
' Check, Finish and Port16 come from tests/wine/lib/checks.vbs, appended when it runs.
Option Explicit

' Control characters made visible in details.
Function Shown(text)
  Shown = "[" & Replace(Replace(text, vbCr, "\r"), vbLf, "\n") & "]"
End Function

Dim traces, errors
traces = ""
errors = ""

Sub c_Debugger(info)
  traces = traces & info & "|"
End Sub

Sub c_Error(code, text, cancel)
  errors = errors & code & " " & text & "|"
  cancel = True
End Sub

Dim plainPort, tlsPort
plainPort = Port16(CLng(WScript.Arguments(0)))
tlsPort = Port16(CLng(WScript.Arguments(1)))

Dim c, host, port, result, text, started, elapsed
Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")

' --- A plain round trip with tracing on.
c.Debug_ = True
host = "localhost"
port = plainPort
result = c.SocketOpen(host, port)
Check "SocketOpen connects and returns the 16-bit integer -1", result = -1 And TypeName(result) = "Integer", _
  TypeName(result) & " " & result
Check "SocketOpen leaves the variables passed alone", host = "localhost" And port = plainPort And _
  TypeName(port) = "Integer", host & " " & TypeName(port) & " " & port
Check "SocketOpen on an open socket returns 0", c.SocketOpen("localhost", plainPort) = 0, ""
text = "hello" & vbCrLf
result = c.SocketSend(text)
Check "SocketSend returns -1 once the text has gone", result = -1 And TypeName(result) = "Integer", _
  TypeName(result) & " " & result
Check "SocketSend leaves the text passed alone", text = "hello" & vbCrLf, Shown(text)
text = c.SocketRead
Check "SocketRead returns the echo", text = "hello" & vbCrLf, Shown(text)
Check "the Debugger event carries the received text after ""Got """, traces = "Got hello" & vbCrLf & "|", Shown(traces)

' Once data has come, SocketRead waits no more: text that comes later collects
' in the buffer, also while the script host waits, and the next read takes it.
traces = ""
c.SocketSend "LATER" & vbCrLf
started = Timer
text = c.SocketRead
elapsed = Timer - started
Check "a later SocketRead returns at once, with what the buffer holds", text = "" And elapsed < 0.25, _
  Shown(text) & " after " & elapsed & " s"
WScript.Sleep 1000
Check "text that came while no member ran was traced as it came", traces = "Got LATER" & vbCrLf & "|", Shown(traces)
text = c.SocketRead
Check "the next SocketRead returns the text that collected", text = "LATER" & vbCrLf, Shown(text)

result = c.SocketClose
Check "SocketClose returns -1 when closed", result = -1 And TypeName(result) = "Integer", TypeName(result) & " " & result
Check "SocketClose on a closed socket returns -1", c.SocketClose = -1, ""
Check "SocketSend on a closed socket returns 0", c.SocketSend("nobody") = 0, ""

' --- The first read of a connection waits for data that comes late.
traces = ""
c.SocketOpen "localhost", plainPort
c.SocketSend "LATER" & vbCrLf
started = Timer
text = c.SocketRead
elapsed = Timer - started
Check "the first SocketRead waits for the late echo", text = "LATER" & vbCrLf And elapsed > 0.1, _
  Shown(text) & " after " & elapsed & " s"
c.SocketClose

' --- A silent peer: the read gives up after Timeout seconds.
c.Debug_ = False
traces = ""
c.Timeout = 1
c.SocketOpen "localhost", plainPort
started = Timer
text = c.SocketRead
elapsed = Timer - started
Check "SocketRead of a silent connection returns nothing after Timeout", text = "" And elapsed > 0.5 And elapsed < 3, _
  Shown(text) & " after " & elapsed & " s"
c.Timeout = 10

' --- The peer closes the connection.
c.SocketSend "QUIT" & vbCrLf
text = c.SocketRead
Check "the last echo before the peer closes arrives", text = "QUIT" & vbCrLf, Shown(text)
WScript.Sleep 500
Check "after the peer closed, SocketSend returns 0", c.SocketSend("late") = 0, ""
Check "after the peer closed, SocketClose returns -1", c.SocketClose = -1, ""
Check "the socket opens again", c.SocketOpen("localhost", plainPort) = -1, ""
c.SocketClose
Check "no trace while Debug_ is off", traces = "", Shown(traces)

' --- TLS: the secure switch, then a round trip.
Check "IsSecured starts false", c.IsSecured = False, c.IsSecured
c.IsSecured = True
Check "IsSecured reports the socket's switch on", c.IsSecured = True, c.IsSecured
c.Debug_ = True
traces = ""
Check "SocketOpen makes a TLS connection to localhost", c.SocketOpen("localhost", tlsPort) = -1, errors
Check "SocketSend over TLS", c.SocketSend("secret" & vbCrLf) = -1, ""
text = c.SocketRead
Check "SocketRead over TLS returns the echo", text = "secret" & vbCrLf, Shown(text)
Check "the trace shows the decrypted text", traces = "Got secret" & vbCrLf & "|", Shown(traces)
Check "SocketClose of a TLS connection", c.SocketClose = -1, ""
c.IsSecured = False
Check "with IsSecured off, the plain port works again", c.SocketOpen("localhost", plainPort) = -1, errors
c.SocketClose

Check "no Error event in all of this", errors = "", errors

' --- Handlers that let go of their control while the host application's loop,
' not a member call, delivers the event: the control stays until the code that
' raised it is done, the rest of the data's handling or the message box after an
' Error not cancelled (without a display it returns at once). This script runs
' with the heap filling freed memory: code going on in a freed control crashes.
Dim r, released
Sub r_Debugger(info)
  released = released & "Debugger " & info
  WScript.DisconnectObject r
  Set r = Nothing
End Sub
Sub r_Error(code, text, cancel)
  released = released & "Error " & code
  WScript.DisconnectObject r
  Set r = Nothing
End Sub

Set r = WScript.CreateObject("prjCorvane.Corvane", "r_")
r.Debug_ = True
r.SocketOpen "localhost", plainPort
r.SocketSend "LATER" & vbCrLf
released = ""
WScript.Sleep 1000
Check "a Debugger handler lets go of its control as late data arrives after the call", _
  released = "Debugger Got LATER" & vbCrLf And r Is Nothing, Shown(released)
Set r = WScript.CreateObject("prjCorvane.Corvane", "r_")
r.IsSecured = True
r.SocketOpen "localhost", tlsPort
r.SocketSend "NOISE" & vbCrLf
released = ""
WScript.Sleep 1000
Check "an Error handler lets go of its control as a broken TLS record arrives after the call", _
  Left(released, 6) = "Error " And r Is Nothing, released

Finish
