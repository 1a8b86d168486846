' Uses the control as a raw text socket: talks to an SMTP server by hand (greeting,
' EHLO, QUIT) with SocketOpen, SocketSend, SocketRead and SocketClose.
'
'   cscript raw_socket.vbs HOST PORT [tls]
'
' With "tls" the connection uses implicit TLS (an SMTP server's port 465).
' The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim args, c, port, greeting, capabilities, goodbye
Set args = WScript.Arguments

Sub Finish(passed, what)
  If passed Then WScript.Echo "PASS: " & what Else WScript.Echo "FAIL: " & what
  If passed Then WScript.Quit 0 Else WScript.Quit 1
End Sub

Sub c_Error(code, errorText, cancel)
  WScript.Echo "  error " & code & ": " & errorText
  cancel = True  ' no message box
End Sub

' An SMTP reply is complete when a whole line has a blank after its code:
' "250 OK" ends it, "250-SIZE" is followed by more lines.
Function Complete(reply)
  Dim lines, k
  Complete = False
  lines = Split(reply, vbCrLf)
  For k = 0 To UBound(lines) - 1           ' the last piece has no line end yet
    If Mid(lines(k), 4, 1) = " " Then Complete = True
  Next
End Function

' SocketRead waits only for the first text of a connection; after that it returns
' at once with whatever has arrived. So read in a loop, letting the socket's
' events in between (WScript.Sleep runs them), until the reply is complete.
Function ReadReply()
  Dim reply, attempt
  reply = ""
  For attempt = 1 To 100
    reply = reply & c.SocketRead()
    If Complete(reply) Then Exit For
    WScript.Sleep 50
  Next
  ReadReply = reply
  If Right(reply, 2) = vbCrLf Then reply = Left(reply, Len(reply) - 2)
  WScript.Echo "S: " & Replace(reply, vbCrLf, vbCrLf & "S: ")
End Function

Sub SendLine(line)
  WScript.Echo "C: " & line
  If c.SocketSend(line & vbCrLf) <> -1 Then Finish False, "could not send " & line
End Sub

If args.Count < 2 Then Finish False, "usage: raw_socket.vbs HOST PORT [tls]"
port = CLng(args(1))
If port > 32767 Then port = port - 65536       ' SocketOpen's port is a 16-bit integer

Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.IsSecured = (args(args.Count - 1) = "tls")
If c.SocketOpen(args(0), CInt(port)) <> -1 Then Finish False, "no connection (error " & c.ErrCode & ")"

greeting = ReadReply()
SendLine "EHLO client.example"
capabilities = ReadReply()
SendLine "QUIT"
goodbye = ReadReply()
If c.SocketClose <> -1 Then Finish False, "the connection did not close"

If Left(greeting, 3) <> "220" Then Finish False, "no greeting"
If InStr(capabilities, "250 ") = 0 Then Finish False, "EHLO was not answered"
If Left(goodbye, 3) <> "221" Then Finish False, "QUIT was not answered"
Finish True, "EHLO answered with " & UBound(Split(capabilities, vbCrLf)) & " lines, QUIT with 221"
