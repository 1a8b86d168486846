' What only the automation path shows, from VBScript: the Error event of a refused
' connection to two connected sinks (Cancel, changed arguments, typed values),
' by-reference arguments left as they were or coerced from another type, text
' through the ANSI code page, and a core error raised to the script. What the
' members compute is the core's and tested there.
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

' --- A new instance: typed values.
Check "a new control has Timeout 10 and ErrCode 0 as Integers", c.Timeout = 10 And TypeName(c.Timeout) = "Integer" _
  And c.ErrCode = 0 And TypeName(c.ErrCode) = "Integer", TypeName(c.Timeout) & " " & TypeName(c.ErrCode)

' --- A refused connection: the socket's error goes through the Error event.
c.Debug_ = True
cancelNow = True
result = c.SocketOpen("localhost", refused)
order = order & "R"
Check "one Error event to each sink, in the order they connected, before SocketOpen returns 0", _
  order = "cdR" And result = 0, order & " " & result
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

' Without sinks the error still sets ErrCode.
WScript.DisconnectObject c
Set c = Nothing
Set c = WScript.CreateObject("prjCorvane.Corvane")
Check "without event sinks a refused connection sets ErrCode", _
  c.SocketOpen("localhost", refused) = 0 And c.ErrCode = 10061, c.ErrCode

' --- By-reference arguments: left as they were, or taken from another type.
Dim n, value, si, mask
n = CInt(3)
c.ErrString n
Check "ErrString leaves n as it was", n = 3 And TypeName(n) = "Integer", TypeName(n) & " " & n
n = "4"
Check "ErrString takes a number in a string", c.ErrString(n) = "Invalid user name or password" And n = "4" And _
  TypeName(n) = "String", TypeName(n)
value = True
c.IsSecured = value
Check "IsSecured put from a variable leaves the variable alone", value = True And TypeName(value) = "Boolean" And _
  TypeName(c.IsSecured) = "Boolean", TypeName(value)
si = "a b/c?" & vbCrLf
mask = 7
Check "z_URLEnc_EncodeEx through variables", c.z_URLEnc_EncodeEx(si, mask) = "a%20b%2Fc%3F%0D%0A", _
  c.z_URLEnc_EncodeEx(si, mask)
Check "si and mask are left as they were", si = "a b/c?" & vbCrLf And mask = 7 And TypeName(mask) = "Integer", _
  TypeName(mask) & " " & mask

' --- Text through the ANSI code page.
Check "z_URLEnc_EncodeEx encodes a byte of the ANSI code page", c.z_URLEnc_EncodeEx("100% é", 3) = "100%25%20%E9", _
  c.z_URLEnc_EncodeEx("100% é", 3)
si = "漢x"
result = c.z_URLEnc_EncodeEx(si, 0)
Check "si comes back through the ANSI code page", si = "?x" And result = "?x", si & " " & result

' --- A core error raised to the script.
c.MimeContentType(2) = "text/html"
Check "MimeContentCount is a Long", c.MimeContentCount = 2 And TypeName(c.MimeContentCount) = "Long", _
  TypeName(c.MimeContentCount)
On Error Resume Next
c.MimeContentAdd -1, "x"
Check "MimeContentAdd with a negative id raises error 9 from prjCorvane.Corvane", Err.Number = 9 And _
  Err.Source = "prjCorvane.Corvane", Err.Number & " " & Err.Source
Err.Clear
On Error GoTo 0

Finish
