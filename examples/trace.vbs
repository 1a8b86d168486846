' Traces a POP3 session: with Debug_ on, every line the control sends, every reply
' it waits for and every piece of text it receives comes as a Debugger event. This
' example prints them with CR and LF made visible and the password hidden.
'
'   cscript trace.vbs HOST[:PORT] USER PASSWORD [tls]
'
' The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim args, c, lines, labels
Set args = WScript.Arguments
lines = 0
labels = ""

Sub Finish(passed, what)
  If passed Then WScript.Echo "PASS: " & what Else WScript.Echo "FAIL: " & what
  If passed Then WScript.Quit 0 Else WScript.Quit 1
End Sub

Sub c_Error(code, errorText, cancel)
  WScript.Echo "  error " & code & ": " & errorText
  cancel = True  ' no message box
End Sub

' One trace line. It may hold CR, LF and anything the server sent; the PASS
' command carries the password as it is sent.
Sub c_Debugger(info)
  Dim shown
  shown = info
  If Left(shown, 15) = "Say:      PASS " Then shown = "Say:      PASS ********" & vbCrLf
  shown = Replace(Replace(shown, vbCr, "\r"), vbLf, "\n")
  WScript.Echo "  | " & shown
  lines = lines + 1
  If Left(info, 1) = "[" Then labels = labels & info
End Sub

If args.Count < 3 Then Finish False, "usage: trace.vbs HOST[:PORT] USER PASSWORD [tls]"
Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.POP3host = args(0)
c.POP3user = args(1)
c.POP3password = args(2)
c.IsSecured = (args(args.Count - 1) = "tls")

c.Debug_ = True
If Not c.POP3Login Then Finish False, "POP3Login failed with error " & c.ErrCode
c.POP3Logout
c.Debug_ = False

If labels <> "[POP3 logging in][POP3 logging out]" Then Finish False, "unexpected labels " & labels
Finish True, lines & " trace lines"
