' A message round trip through the Corvane control: composes a text part and a
' file attachment through the control's MIME members, submits the message with
' SendMime, finds it again over POP3, and compares what arrived with what was
' sent. The protocol trace is printed as it goes.
'
'   scripthost.exe roundtrip.vbs SMTPHOST:PORT POP3HOST:PORT USER PASSWORD ADDRESS FILE FILE.B64 [tls]
'
' FILE.B64 holds FILE in Base64 as another program wrote it (for example
' "base64 -w 76 FILE"): the attachment that arrives is decoded and compared with
' it byte for byte. With "tls" both sessions use implicit TLS; the servers'
' certificates must be trusted and name the hosts given.
' The last line says what arrived: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim args, c, subject, text, message, attempt, n, found, sent
Set args = WScript.Arguments

Sub c_Debugger(info)
  Dim line
  line = Replace(Replace(info, vbCr, "\r"), vbLf, "\n")
  If Len(line) > 100 Then line = Left(line, 100) & "..."
  WScript.Echo "  | " & line
End Sub

Sub c_Error(code, errorText, cancel)
  WScript.Echo "  ! error " & code & ": " & errorText
  cancel = True  ' no message box
End Sub

Sub Finish(passed, what)
  If passed Then WScript.Echo "PASS: " & what Else WScript.Echo "FAIL: " & what
  If passed Then WScript.Quit 0 Else WScript.Quit 1
End Sub

' The bytes of a Base64 text as hexadecimal digits, two a byte; other characters
' (line ends) are skipped.
Function DecodeBase64(b64)
  Const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
  Dim bytes, bits, held, i, value
  bytes = "" : bits = 0 : held = 0
  For i = 1 To Len(b64)
    value = InStr(1, digits, Mid(b64, i, 1), vbBinaryCompare) - 1
    If value >= 0 Then
      bits = (bits * 64 + value) Mod 65536
      held = held + 6
      If held >= 8 Then
        held = held - 8
        bytes = bytes & Right("0" & Hex(Int(bits / 2 ^ held) Mod 256), 2)
      End If
    End If
  Next
  DecodeBase64 = bytes
End Function

' The text between the first `before` after position `from` and the next `after`.
Function Between(whole, before, after, from)
  Dim start, finish
  Between = ""
  start = InStr(from, whole, before, vbBinaryCompare)
  If start = 0 Then Exit Function
  start = start + Len(before)
  finish = InStr(start, whole, after, vbBinaryCompare)
  If finish > 0 Then Between = Mid(whole, start, finish - start)
End Function

Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.SMTPhost = args(0)
c.POP3host = args(1)
c.POP3user = args(2)
c.POP3password = args(3)
If args.Count > 7 Then c.IsSecured = (args(7) = "tls")
c.Debug_ = True

' --- Compose: a text part with a line that starts with a dot and one of 998
' characters, and the file as a Base64 part named after it.
subject = "Round trip " & Year(Now) & Month(Now) & Day(Now) & "-" & CLng(Timer * 1000)
text = "Hello from the round trip." & vbCrLf & ".a line that starts with a dot" & vbCrLf & String(998, "x")
c.MimeFrom = "Round Trip " & args(4)
c.MimeTo = args(4)
c.MimeSubject = subject
c.MimeContentAdd 1, text
c.MimeContentAddFromFile 2, args(5)
WScript.Echo "== composed """ & subject & """: " & c.MimeContentCount & " parts, to " & c.MimeTo

' --- Send
If Not c.SMTPLogin Then Finish False, "SMTPLogin failed with error " & c.ErrCode
sent = c.SendMime
c.SMTPLogout
WScript.Echo "== SendMime returned " & sent
If sent <> -1 Then Finish False, "the message was not accepted (error " & c.ErrCode & ")"

' --- Find it again: delivery takes a moment
c.Debug_ = False
found = False
For attempt = 1 To 50
  If Not c.POP3Login Then Finish False, "POP3Login failed with error " & c.ErrCode
  For n = c.MailBoxCount To 1 Step -1
    message = c.Retrieve(CInt(n))
    If InStr(1, message, "Subject: " & subject & vbCrLf, vbBinaryCompare) > 0 Then
      found = True
      c.Delete CInt(n)  ' committed by the logout
      Exit For
    End If
  Next
  c.POP3Logout
  If found Then Exit For
  WScript.Sleep 200
Next
If Not found Then Finish False, "the message did not arrive"
WScript.Echo "== retrieved " & Len(message) & " characters"

' --- Compare
Dim fso, reference, expected, arrived, name, same
Set fso = CreateObject("Scripting.FileSystemObject")
Set reference = fso.OpenTextFile(args(6), 1)
expected = DecodeBase64(reference.ReadAll)
reference.Close
name = Mid(args(5), InStrRev(Replace(args(5), "/", "\"), "\") + 1)
arrived = DecodeBase64(Between(message, vbCrLf & vbCrLf, vbCrLf & vbCrLf & "--", _
                               InStr(1, message, "name=""" & name & """", vbBinaryCompare)))
same = (StrComp(arrived, expected, vbBinaryCompare) = 0)
If Between(message, "8bit" & vbCrLf & vbCrLf, vbCrLf & vbCrLf & "--", 1) <> text Then Finish False, "the text part changed"
WScript.Echo "text part: identical"
Dim verdict
If same Then verdict = "identical" Else verdict = "DIFFERENT"
Finish same, "the attachment " & name & " arrived with " & Len(arrived) / 2 & " of " & Len(expected) / 2 & _
  " bytes " & verdict
