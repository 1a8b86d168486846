' The control's POP3 and SMTP members from VBScript against the real Dovecot and
' Postfix, where the OCX path differs from the native one: a mailbox read byte for
' byte through the ANSI code page, and a message sent to two recipients and read
' back. The protocol's cases (refusals, RSET, QUIT) are the native mail tests'.
' Arguments: POP3HOST:PORT SMTPHOST:PORT tls|plain USER PASSWORD OTHERUSER
'   OTHERPASSWORD DOMAIN
' USER's mailbox holds the two messages that mail.sh delivered (see Fixture).
' Check and Finish come from tests/wine/lib/checks.vbs, appended when it runs.
Option Explicit

Dim args, c, errors, message, one, subject, recipient, cc, body
Set args = WScript.Arguments
errors = ""

Sub c_Error(code, text, cancel)
  errors = errors & code & " " & text & "|"
  cancel = True
End Sub

' The first message mail.sh delivers: a line with a leading dot and bytes 128-255.
Function Fixture()
  Dim k
  Fixture = "Subject: fixture" & vbCrLf & vbCrLf & ".a line that starts with a dot" & vbCrLf & "..two" & vbCrLf
  For k = 128 To 255
    Fixture = Fixture & Chr(k)
  Next
  Fixture = Fixture & vbCrLf
End Function

Sub Account(user, password)
  c.POP3user = user
  c.POP3password = password
End Sub

Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.POP3host = args(0)
c.SMTPhost = args(1)
c.IsSecured = (args(2) = "tls")
c.Timeout = 3
Account args(3), args(4)

' --- POP3
one = 1
Check "POP3Login", c.POP3Login And c.Busy And c.POP3SessionActive, c.ErrCode & " " & errors
Check "the counters", c.MailBoxCount = 2 And c.MailBoxSize = Len(Fixture()) + 26, c.MailBoxCount & " " & c.MailBoxSize
Check "Size", c.Size(one) = Len(Fixture()), c.Size(one)
message = c.Retrieve(one)
Check "Retrieve gives the status line and the message byte for byte", _
  Left(message, 3) = "+OK" And Mid(message, InStr(message, vbCrLf) + 2) = Fixture(), message
Check "POP3Logout", c.POP3Logout And Not c.Busy, c.ErrCode

' --- SMTP: to the other user and a copy to ours
c.SMTPsender = "<sender@" & args(7) & ">"
subject = "from VBScript " & args(2)
recipient = args(5) & "@" & args(7)
cc = args(3) & "@" & args(7)
body = vbCrLf & "Line one" & vbCrLf & ".dot" & vbCrLf & "last"
Check "SMTPLogin", c.SMTPLogin And c.Busy, c.ErrCode & " " & errors
Check "Send", c.Send(recipient, subject, cc, body), c.ErrCode & " " & errors
Check "SMTPLogout", c.SMTPLogout And Not c.Busy, c.ErrCode

' --- Both copies arrived
Sub ExpectArrived(user, password)
  Dim attempt, last, found
  Account user, password
  found = False
  For attempt = 1 To 30
    c.POP3Login
    If c.MailBoxCount > 0 Then
      last = c.MailBoxCount
      message = c.Retrieve(last)
      found = InStr(message, "Subject: " & subject & vbCrLf & vbCrLf & "Line one" & vbCrLf & ".dot" & vbCrLf & _
                             "last" & vbCrLf) > 0
      If found Then c.Delete last
    End If
    c.POP3Logout
    If found Then Exit For
    WScript.Sleep 100
  Next
  Check "the message reached " & user, found, message
End Sub
ExpectArrived args(5), args(6)
ExpectArrived args(3), args(4)

Finish
