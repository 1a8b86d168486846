' Sends a message with file attachments: composes it with the control's MIME
' members (a text part, then one Base64 part per file) and sends it with SendMime.
'
'   cscript send_attachment.vbs HOST[:PORT] FROM TO FILE [FILE...] [tls]
'
' FROM and TO are addresses like alice@example.com. With "tls" the connection uses
' implicit TLS (port 465 unless HOST gives one).
' The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim args, c, last, i, part, names, sent, problem
Set args = WScript.Arguments

Sub Finish(passed, what)
  If passed Then WScript.Echo "PASS: " & what Else WScript.Echo "FAIL: " & what
  If passed Then WScript.Quit 0 Else WScript.Quit 1
End Sub

Sub c_Error(code, errorText, cancel)
  WScript.Echo "  error " & code & ": " & errorText
  cancel = True  ' no message box
End Sub

If args.Count < 4 Then Finish False, "usage: send_attachment.vbs HOST[:PORT] FROM TO FILE [FILE...] [tls]"
last = args.Count - 1
If args(last) = "tls" Then last = last - 1

Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.SMTPhost = args(0)
c.IsSecured = (args(args.Count - 1) = "tls")

' --- Compose. The address members put the address in angle brackets.
c.MimeFrom = "Corvane example " & args(1)
c.MimeTo = args(2)
c.MimeSubject = "Corvane example: " & last - 2 & " attachments"
names = ""
part = 1
For i = 3 To last
  part = part + 1
  ' A file that cannot be read is an automation error (53, 75 or 76), not an Error event.
  On Error Resume Next
  c.MimeContentAddFromFile part, args(i)
  If Err.Number <> 0 Then
    problem = Err.Number & " " & Err.Description
    On Error GoTo 0
    Finish False, "could not attach " & args(i) & ": " & problem
  End If
  On Error GoTo 0
  WScript.Echo "part " & part & ": " & c.MimeContentType(part)
  names = names & " " & Mid(args(i), InStrRev(args(i), "\") + 1)
Next
' The text is part 1: it comes first in the message.
c.MimeContentAdd 1, "Hello," & vbCrLf & vbCrLf & "attached:" & names & vbCrLf
WScript.Echo "composed " & c.MimeContentCount & " parts from " & c.MimeFrom & " to " & c.MimeTo

' --- Send. SendMime empties the composition afterwards, sent or not.
If Not c.SMTPLogin Then Finish False, "SMTPLogin failed with error " & c.ErrCode
sent = c.SendMime
c.SMTPLogout
If sent <> -1 Then Finish False, "SendMime failed with error " & c.ErrCode
Finish True, "sent" & names & " to " & args(2)
