' Reads a POP3 mailbox: logs in, lists every message with its size, sender and
' subject, and with "delete" deletes them all (the server removes them when the
' session ends).
'
'   cscript read_mail.vbs HOST[:PORT] USER PASSWORD [delete] [tls]
'
' With "tls" the connection uses implicit TLS (port 995 unless HOST gives one).
' The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim args, c, n, count, text, deleting, deleted, i
Set args = WScript.Arguments

Sub Finish(passed, what)
  If passed Then WScript.Echo "PASS: " & what Else WScript.Echo "FAIL: " & what
  If passed Then WScript.Quit 0 Else WScript.Quit 1
End Sub

' Errors are printed, and the message box the control would show is cancelled.
Sub c_Error(code, errorText, cancel)
  WScript.Echo "  error " & code & ": " & errorText
  cancel = True
End Sub

' The value of a header line ("Subject", "From") of a message, or "".
Function Header(message, name)
  Dim lines, k
  Header = ""
  lines = Split(message, vbCrLf)
  For k = 1 To UBound(lines)               ' line 0 is the server's "+OK ..."
    If lines(k) = "" Then Exit Function    ' the end of the header
    If LCase(Left(lines(k), Len(name) + 1)) = LCase(name) & ":" Then
      Header = Trim(Mid(lines(k), Len(name) + 2))
      Exit Function
    End If
  Next
End Function

If args.Count < 3 Then Finish False, "usage: read_mail.vbs HOST[:PORT] USER PASSWORD [delete] [tls]"
deleting = False
For i = 3 To args.Count - 1
  If args(i) = "delete" Then deleting = True
Next

Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.POP3host = args(0)
c.POP3user = args(1)
c.POP3password = args(2)
c.IsSecured = (args(args.Count - 1) = "tls")

If Not c.POP3Login Then Finish False, "POP3Login failed with error " & c.ErrCode
WScript.Echo c.MailBoxCount & " messages, " & c.MailBoxSize & " bytes"

count = c.MailBoxCount                   ' Delete lowers MailBoxCount as it goes
deleted = 0
For n = 1 To count
  text = c.Retrieve(CInt(n))             ' the server's status line, then the message
  If text = "" Then Finish False, "message " & n & " could not be retrieved (error " & c.ErrCode & ")"
  WScript.Echo "#" & n & " " & c.Size(CInt(n)) & " bytes  From: " & Header(text, "From") & _
    "  Subject: " & Header(text, "Subject")
  If deleting Then
    If Not c.Delete(CInt(n)) Then Finish False, "message " & n & " was not deleted (error " & c.ErrCode & ")"
    deleted = deleted + 1
  End If
Next

If Not c.POP3Logout Then Finish False, "the server did not acknowledge QUIT: nothing was deleted"
Finish True, "read " & count & " messages, deleted " & deleted
