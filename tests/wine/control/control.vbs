' The control's own members from VBScript: the Error event of a refused
' connection (two connected sinks, Cancel, changed arguments), ErrCode, ErrString,
' Timeout, the small properties, z_URLEnc_EncodeEx with its by-reference
' arguments, the settings and MIME members offline, and a core error raised to
' the script.
' Argument: a port where nothing listens.
' Prints "ok - ..." / "not ok - ..." per check and ends with "RESULT PASS" or
' "RESULT FAIL"; a script that stops early prints no RESULT line.
' Check, Finish and Port16 come from tests/wine/lib/checks.vbs, appended when it runs.
Option Explicit

' --- Two sinks on one control: c_ (connected at creation), then d_.
Dim order, cancelNow, seenByC, seenByD
order = ""
cancelNow = False

Sub c_Error(ErrCode, ErrText, Cancel)
  order = order & "c"
  seenByC = TypeName(ErrCode) & " " & ErrCode & " " & TypeName(ErrText) & " " & TypeName(Cancel) & " " & Cancel & _
    " " & ErrText
  ErrCode = 77
  ErrText = "changed by c"
  Cancel = cancelNow
End Sub

Sub d_Error(ErrCode, ErrText, Cancel)
  order = order & "d"
  seenByD = ErrCode & " " & ErrText & " " & Cancel
End Sub

Sub c_Debugger(info)
  order = order & "t"
End Sub

Dim refused, c, result
refused = Port16(CLng(WScript.Arguments(0)))
Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
WScript.ConnectObject c, "d_"

' --- A new instance.
Check "a new control has Timeout 10", c.Timeout = 10 And TypeName(c.Timeout) = "Integer", _
  TypeName(c.Timeout) & " " & c.Timeout
Check "a new control has ErrCode 0", c.ErrCode = 0 And TypeName(c.ErrCode) = "Integer", TypeName(c.ErrCode)
Check "a new control is not busy and has no POP3 session", c.Busy = False And c.POP3SessionActive = False, _
  c.Busy & " " & c.POP3SessionActive
Check "Debug_ starts false", c.Debug_ = False, c.Debug_

' --- A refused connection: the socket's error goes through the Error event.
c.Debug_ = True
cancelNow = True
result = c.SocketOpen("localhost", refused)
order = order & "R"
Check "SocketOpen to a refused port returns 0", result = 0, result
Check "one Error event to each sink, in the order they connected, before SocketOpen returns", order = "cdR", order
Check "the handler gets typed arguments: the socket's number, its text, Cancel false", _
  Left(seenByC, 28) = "Integer 10061 String Boolean" And InStr(seenByC, " False ") > 0 And _
  InStr(seenByC, "refused") > 0, seenByC
Check "the next sink sees what the one before left", seenByD = "77 changed by c True", seenByD
Check "ErrCode holds the socket's number, whatever the handler did to its argument", c.ErrCode = 10061, c.ErrCode

' Not cancelled: the message box follows (without a display it returns at once).
order = ""
cancelNow = False
result = c.SocketOpen("localhost", refused)
order = order & "R"
Check "without Cancel the same events come and the call returns", order = "cdR" And result = 0, order & " " & result
Check "ErrCode again holds the socket's number", c.ErrCode = 10061, c.ErrCode

' Without sinks the error still sets ErrCode.
WScript.DisconnectObject c
Set c = Nothing
Set c = WScript.CreateObject("prjCorvane.Corvane")
Check "without event sinks a refused connection sets ErrCode", _
  c.SocketOpen("localhost", refused) = 0 And c.ErrCode = 10061, c.ErrCode

' --- ErrString: the table, and n left as it was.
Dim n, texts
texts = Array("", "Corvane control is busy", "Internal error in control", "Operation timed out", _
  "Invalid user name or password", "Invalid server response")
For n = 0 To 5
  Check "ErrString(" & n & ")", c.ErrString(n) = texts(n), c.ErrString(n)
Next
For Each n In Array(6, -1, 32767, -32768)
  Check "ErrString(" & n & ") is Unknown error", c.ErrString(n) = "Unknown error", c.ErrString(n)
Next
n = CInt(3)
c.ErrString n
Check "ErrString leaves n as it was", n = 3 And TypeName(n) = "Integer", TypeName(n) & " " & n
n = "4"
Check "ErrString takes a number in a string", c.ErrString(n) = "Invalid user name or password" And n = "4" And _
  TypeName(n) = "String", TypeName(n)

' --- Timeout is clamped to 0..60.
Dim value
For Each value In Array(Array(-5, 0), Array(61, 60), Array(1000, 60), Array(0, 0), Array(25, 25), Array(60, 60))
  c.Timeout = value(0)
  Check "Timeout " & value(0) & " is stored as " & value(1), c.Timeout = value(1), c.Timeout
Next

' --- Small properties.
c.Debug_ = True
Check "Debug_ put and get", c.Debug_ = True, c.Debug_
c.IsSecured = True
Check "IsSecured put true reads back from the socket", c.IsSecured = True And TypeName(c.IsSecured) = "Boolean", _
  TypeName(c.IsSecured)
value = True
c.IsSecured = value
Check "IsSecured put from a variable leaves the variable alone", value = True And TypeName(value) = "Boolean", _
  TypeName(value)

' --- z_URLEnc_EncodeEx.
Dim si, mask
si = "a b/c?" & vbCrLf
mask = 7
Check "z_URLEnc_EncodeEx of the worked example with mask 7", c.z_URLEnc_EncodeEx(si, mask) = "a%20b%2Fc%3F%0D%0A", _
  c.z_URLEnc_EncodeEx(si, mask)
Check "si and mask are left as they were", si = "a b/c?" & vbCrLf And mask = 7 And TypeName(mask) = "Integer", _
  TypeName(mask) & " " & mask
For Each value In Array(Array(0, si), Array(1, "a b/c?%0D%0A"), Array(2, "a%20b/c?" & vbCrLf), _
  Array(4, "a b%2Fc%3F" & vbCrLf))
  Check "z_URLEnc_EncodeEx with mask " & value(0), c.z_URLEnc_EncodeEx(si, value(0)) = value(1), _
    c.z_URLEnc_EncodeEx(si, value(0))
Next
Check "z_URLEnc_EncodeEx encodes a byte of the ANSI code page", c.z_URLEnc_EncodeEx("100% é", 3) = "100%25%20%E9", _
  c.z_URLEnc_EncodeEx("100% é", 3)
si = "漢x"
result = c.z_URLEnc_EncodeEx(si, 0)
Check "si comes back through the ANSI code page", si = "?x" And result = "?x", si & " " & result

' --- The MIME members that pass values through.
c.MimeSubject = "Hi"
Check "MimeSubject put and get", c.MimeSubject = "Hi", c.MimeSubject
c.MimeContentType(2) = "text/html"
c.MimeContentEncoding(2) = "base64"
Check "MimeContentType put and get", c.MimeContentType(2) = "text/html", c.MimeContentType(2)
Check "MimeContentEncoding put and get", c.MimeContentEncoding(2) = "base64", c.MimeContentEncoding(2)
Check "MimeContentCount counts up to the highest id named", c.MimeContentCount = 2 And _
  TypeName(c.MimeContentCount) = "Long", TypeName(c.MimeContentCount) & " " & c.MimeContentCount
Check "MimeContentType of an id never named is empty", c.MimeContentType(7) = "" And c.MimeContentType(-1) = "", ""

' --- Members still to come raise an error the script sees.
Dim index
index = 1
Check "a new control's counters read 0", c.MailBoxCount = 0 And c.MailBoxSize = 0, c.MailBoxCount & " " & c.MailBoxSize
Check "Size offline sends nothing and returns 0", c.Size(index) = 0 And c.ErrCode = 0, c.ErrCode
Check "SendMime offline returns 0", c.SendMime = 0, c.ErrCode
c.POP3host = "127.0.0.1:11110"
Check "POP3host keeps host and port", c.POP3host = "127.0.0.1:11110", c.POP3host
c.SMTPsender = ""
Check "an empty SMTPsender is stored as <>", c.SMTPsender = "<>", c.SMTPsender
c.MimeFrom = "Sales Desk u@h"
Check "MimeFrom brackets the address", c.MimeFrom = "Sales Desk <u@h>", c.MimeFrom
On Error Resume Next
c.MimeContentAdd -1, "x"
Check "MimeContentAdd with a negative id raises error 9", Err.Number = 9 And Err.Source = "prjCorvane.Corvane", _
  Err.Number & " " & Err.Source
Err.Clear
On Error GoTo 0

Finish
