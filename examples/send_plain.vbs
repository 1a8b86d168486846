' Sends a plain text message over SMTP with Send: a subject, a body with From and
' To header lines of its own, and an optional copy.
'
'   cscript send_plain.vbs HOST[:PORT] FROM TO [CC] [tls]
'
' FROM, TO and CC are addresses like alice@example.com. With "tls" the connection
' uses implicit TLS (port 465 unless HOST gives one).
' The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim args, c, last, cc, subject, body
Set args = WScript.Arguments

Sub Finish(passed, what)
  If passed Then WScript.Echo "PASS: " & what Else WScript.Echo "FAIL: " & what
  If passed Then WScript.Quit 0 Else WScript.Quit 1
End Sub

Sub c_Error(code, errorText, cancel)
  WScript.Echo "  error " & code & ": " & errorText
  cancel = True  ' no message box
End Sub

If args.Count < 3 Then Finish False, "usage: send_plain.vbs HOST[:PORT] FROM TO [CC] [tls]"
last = args.Count - 1
If args(last) = "tls" Then last = last - 1
cc = ""
If last >= 3 Then cc = "<" & args(3) & ">"

Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.SMTPhost = args(0)
c.IsSecured = (args(args.Count - 1) = "tls")
c.SMTPsender = "<" & args(1) & ">"          ' the envelope sender, in angle brackets

' Send writes only the Subject line: other header lines go at the start of the
' body, then an empty line, then the text. A line that starts with "." is fine.
subject = "Corvane example: a plain message"
body = "From: Corvane example <" & args(1) & ">" & vbCrLf & _
       "To: <" & args(2) & ">" & vbCrLf & _
       vbCrLf & _
       "Hello," & vbCrLf & _
       "this message was sent by send_plain.vbs." & vbCrLf & _
       ".signature"

If Not c.SMTPLogin Then Finish False, "SMTPLogin failed with error " & c.ErrCode
If Not c.Send("<" & args(2) & ">", subject, cc, body) Then
  c.SMTPLogout
  Finish False, "Send failed with error " & c.ErrCode
End If
c.SMTPLogout
If cc = "" Then Finish True, "sent to " & args(2)
Finish True, "sent to " & args(2) & " and " & args(3)
