' Lists only the messages not seen before: remembers each message's unique id
' (UIDL) in a file and reads the headers of new ones with TOP, leaving the
' messages on the server.
'
'   cscript new_mail.vbs HOST[:PORT] USER PASSWORD SEEN-FILE [stls]
'
' With "stls" the plain connection is upgraded to TLS before the login (HOST
' must then be the name the server's certificate carries).
' The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Const ForReading = 1, ForAppending = 8
Dim args, c, fso, seen, file, n, id, text, fresh, count, line, lines
Set args = WScript.Arguments

Sub Finish(passed, what)
  If passed Then WScript.Echo "PASS: " & what Else WScript.Echo "FAIL: " & what
  If passed Then WScript.Quit 0 Else WScript.Quit 1
End Sub

Sub c_Error(code, errorText, cancel)
  WScript.Echo "  error " & code & ": " & errorText
  cancel = True
End Sub

If args.Count < 4 Then Finish False, "usage: new_mail.vbs HOST[:PORT] USER PASSWORD SEEN-FILE [stls]"

' The ids seen by earlier runs, one a line.
Set fso = CreateObject("Scripting.FileSystemObject")
Set seen = CreateObject("Scripting.Dictionary")
If fso.FileExists(args(3)) Then
  Set file = fso.OpenTextFile(args(3), ForReading)
  Do Until file.AtEndOfStream
    id = file.ReadLine
    If id <> "" Then seen(id) = True
  Loop
  file.Close
End If

Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.POP3host = args(0)
c.POP3user = args(1)
c.POP3password = args(2)
c.StartTLS = (args(args.Count - 1) = "stls")

If Not c.POP3Login Then Finish False, "POP3Login failed with error " & c.ErrCode
Set file = fso.OpenTextFile(args(3), ForAppending, True)
fresh = 0
count = c.MailBoxCount
For n = 1 To count
  id = c.UniqueId(CInt(n))
  If id = "" Then Finish False, "message " & n & " has no unique id (error " & c.ErrCode & ")"
  If Not seen.Exists(id) Then
    text = c.Top(CInt(n), 0)            ' the status line and the headers alone
    If text = "" Then Finish False, "the headers of message " & n & " could not be read"
    lines = Split(text, vbCrLf)
    WScript.Echo "new: " & id & "  " & lines(0)
    For Each line In lines
      If LCase(Left(line, 8)) = "subject:" Then WScript.Echo "  " & line
    Next
    file.WriteLine id
    fresh = fresh + 1
  End If
Next
file.Close
c.POP3Logout
Finish True, fresh & " new of " & count
