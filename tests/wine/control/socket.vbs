' The control as a raw text socket, driven from VBScript against the loopback
' echo servers, where the OCX differs from the core: typed results and by-reference
' arguments, events that the application's loop delivers between calls, TLS
' through the Windows channel, and handlers that let go of their control. The
' socket's rules (reads, waits, closes) are the core's and tested there.
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

' --- TLS: the secure switch, then a round trip.
c.IsSecured = True
Check "IsSecured reports the socket's switch on", c.IsSecured = True, c.IsSecured
c.Debug_ = True
traces = ""
Check "SocketOpen makes a TLS connection to localhost", c.SocketOpen("localhost", tlsPort) = -1, errors
c.SocketSend "secret" & vbCrLf
text = c.SocketRead
Check "SocketRead over TLS returns the echo", text = "secret" & vbCrLf, Shown(text)
Check "the trace shows the decrypted text", traces = "Got secret" & vbCrLf & "|", Shown(traces)
c.SocketClose
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
