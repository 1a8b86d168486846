' Sends a plain message through a submission service: a plain connection upgraded
' with STARTTLS, then authenticated, as on port 587.
'
'   cscript submission.vbs HOST:PORT USER PASSWORD FROM TO [MECHANISM]
'
' MECHANISM is PLAIN or LOGIN; without it the control takes the best the server
' offers. HOST must be the name the server's certificate carries.
' The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim args, c
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

If args.Count < 5 Then Finish False, "usage: submission.vbs HOST:PORT USER PASSWORD FROM TO [MECHANISM]"

Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.SMTPhost = args(0)
c.StartTLS = True                 ' never a password in the clear: no upgrade, no login
c.SMTPuser = args(1)
c.SMTPpassword = args(2)          ' never saved with the control's settings
If args.Count > 5 Then c.AuthMechanism = args(5)
c.SMTPsender = "<" & args(3) & ">"

If Not c.SMTPLogin Then Finish False, "SMTPLogin failed with error " & c.ErrCode
If Not c.Send("<" & args(4) & ">", "Corvane example: through submission", "", _
              vbCrLf & "Hello," & vbCrLf & "this message was sent by submission.vbs.") Then
  Finish False, "Send failed with error " & c.ErrCode
End If
c.SMTPLogout
Finish True, "sent to " & args(4) & " as " & args(1)
