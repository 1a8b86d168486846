' Logs in to a POP3 mailbox with an OAuth bearer token (SASL XOAUTH2) instead of
' a password, and counts the messages.
'
'   cscript oauth.vbs HOST[:PORT] USER TOKEN [tls|stls]
'
' The token comes from the mail provider's authorization service; the control
' only presents it. With "tls" the connection uses implicit TLS (port 995 unless
' HOST gives one), with "stls" the plain connection is upgraded first: a token
' is worth as much as a password and is never sent in the clear by a careful
' program. The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim args, c, security
Set args = WScript.Arguments

Sub Finish(passed, what)
  If passed Then WScript.Echo "PASS: " & what Else WScript.Echo "FAIL: " & what
  If passed Then WScript.Quit 0 Else WScript.Quit 1
End Sub

Sub c_Error(code, errorText, cancel)
  WScript.Echo "  error " & code & ": " & errorText
  cancel = True
End Sub

If args.Count < 3 Then Finish False, "usage: oauth.vbs HOST[:PORT] USER TOKEN [tls|stls]"
security = ""
If args.Count > 3 Then security = args(3)

Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.POP3host = args(0)
c.IsSecured = (security = "tls")
c.StartTLS = (security = "stls")
c.AuthMechanism = "XOAUTH2"
c.POP3user = args(1)
c.POP3password = args(2)             ' the bearer token

If Not c.POP3Login Then Finish False, "POP3Login failed with error " & c.ErrCode
WScript.Echo c.MailBoxCount & " messages, " & c.MailBoxSize & " bytes"
c.POP3Logout
Finish True, "logged in as " & args(1) & " with a bearer token"
