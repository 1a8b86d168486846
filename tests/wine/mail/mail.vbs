' The control's POP3 and SMTP members from VBScript against the real Dovecot and
' Postfix: a mailbox read byte for byte, deletion, RSET and the deletion committed
' by QUIT, a wrong password, a message sent to two recipients and read back, the
' servers' refusals and a refused line break.
' Arguments: POP3HOST:PORT SMTPHOST:PORT tls|plain USER PASSWORD OTHERUSER
'   OTHERPASSWORD DOMAIN REFUSEDRECIPIENT REFUSEDSENDER
' USER's mailbox holds the two messages that mail.sh delivered (see Fixture).
' Check and Finish come from tests/wine/lib/checks.vbs, appended when it runs.
Option Explicit

Dim args, c, errors, message, one, two, subject, recipient, cc, body
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
one = 1 : two = 2
Check "POP3Login", c.POP3Login And c.Busy And c.POP3SessionActive, c.ErrCode & " " & errors
Check "the counters", c.MailBoxCount = 2 And c.MailBoxSize = Len(Fixture()) + 26, c.MailBoxCount & " " & c.MailBoxSize
Check "Size", c.Size(one) = Len(Fixture()), c.Size(one)
message = c.Retrieve(one)
Check "Retrieve gives the status line and the message byte for byte", _
  Left(message, 3) = "+OK" And Mid(message, InStr(message, vbCrLf) + 2) = Fixture(), message
Check "Delete refreshes the counters", c.Delete(two) And c.MailBoxCount = 1, c.MailBoxCount
Check "Reset", c.Reset, c.ErrCode
Check "Delete again", c.Delete(two), c.ErrCode
Check "POP3Logout", c.POP3Logout And Not c.Busy, c.ErrCode
Check "QUIT committed the deletion", c.POP3Login And c.MailBoxCount = 1, c.MailBoxCount
c.POP3Logout
c.POP3password = "wrong"
Check "a wrong password fails the login", Not c.POP3Login And Not c.Busy And (c.ErrCode = 3 Or c.ErrCode = 5), c.ErrCode
Check "with the engine's text", InStr(errors, ": said 'PASS wrong', waited '+OK', got '") > 0, errors
errors = ""

' --- SMTP: to the other user and a copy to ours
c.SMTPsender = "<sender@" & args(7) & ">"
subject = "from VBScript " & args(2)
recipient = args(5) & "@" & args(7)
cc = args(3) & "@" & args(7)
body = vbCrLf & "Line one" & vbCrLf & ".dot" & vbCrLf & "last"
Check "SMTPLogin", c.SMTPLogin And c.Busy, c.ErrCode & " " & errors
Check "Send", c.Send(recipient, subject, cc, body), c.ErrCode & " " & errors
Check "a line break in the subject is refused with code 6", _
  Not c.Send(recipient, "Hi" & vbCrLf & "Bcc: x", cc, body) And c.ErrCode = 6, c.ErrCode
Check "a refused recipient ends by the time-out", Not c.Send(args(8), subject, "", body) And c.ErrCode = 3, c.ErrCode
Check "SMTPLogout", c.SMTPLogout And Not c.Busy, c.ErrCode
c.SMTPsender = args(9)
c.SMTPLogin
Check "a refused sender ends by the time-out", Not c.Send(recipient, subject, "", body) And c.ErrCode = 3, c.ErrCode
c.SMTPLogout

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
