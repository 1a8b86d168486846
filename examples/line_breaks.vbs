' What the control does with line breaks in values: Send and SendMime refuse a
' recipient, subject or sender that holds CR or LF (error 6) before anything of the
' message is sent, so nobody can slip in a header or a command; the session stays
' usable. Line breaks in the message text are fine.
'
'   cscript line_breaks.vbs HOST[:PORT] FROM TO [tls]
'
' The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim args, c, lastError, body
Set args = WScript.Arguments

Sub Finish(passed, what)
  If passed Then WScript.Echo "PASS: " & what Else WScript.Echo "FAIL: " & what
  If passed Then WScript.Quit 0 Else WScript.Quit 1
End Sub

Sub c_Error(code, errorText, cancel)
  WScript.Echo "  error " & code & ": " & errorText
  lastError = errorText
  cancel = True  ' no message box
End Sub

If args.Count < 3 Then Finish False, "usage: line_breaks.vbs HOST[:PORT] FROM TO [tls]"
Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.SMTPhost = args(0)
c.IsSecured = (args(args.Count - 1) = "tls")
c.SMTPsender = "<" & args(1) & ">"
If Not c.SMTPLogin Then Finish False, "SMTPLogin failed with error " & c.ErrCode

' A subject taken from a web form, with a header smuggled in: refused.
If c.Send("<" & args(2) & ">", "Hello" & vbCrLf & "Bcc: <someone@example.com>", "", "text") Then _
  Finish False, "a subject with a line break was sent"
If c.ErrCode <> 6 Or InStr(lastError, "Subject holds a line break") <> 1 Then Finish False, "Send: error " & c.ErrCode

' A recipient with a line break, for SendMime: refused; the composition is kept, to be put right.
c.MimeFrom = args(1)
c.MimeTo = "<" & args(2) & ">" & vbLf & "<someone@example.com>"
c.MimeContentAdd 1, "text"
If c.SendMime <> 0 Then Finish False, "a recipient with a line break was sent"
If c.ErrCode <> 6 Or InStr(lastError, "To holds a line break") <> 1 Then Finish False, "SendMime: error " & c.ErrCode

' The same session sends a good message. Line breaks belong in the text, and a
' line that is a lone "." or starts with one arrives as written.
body = vbCrLf & "First line" & vbCrLf & "." & vbCrLf & ".hidden?" & vbCrLf & "last line"
If Not c.Send("<" & args(2) & ">", "Corvane example: line breaks", "", body) Then _
  Finish False, "the good message was not sent: error " & c.ErrCode
c.SMTPLogout
Finish True, "two values with line breaks refused with error 6, then the good message sent"
