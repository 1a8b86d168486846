' Checks that the control can reach a server over implicit TLS: opens a TLS
' connection, reads the server's greeting, and on failure says what the TLS error
' means and what to do.
'
'   cscript tls_connect.vbs HOST PORT
'
' HOST must be the name the server's certificate is made out to (pop.example.com
' on 995, smtp.example.com on 465), and the certificate authority that issued it
' must be trusted by this computer: on Windows, in the certificate store
' (certutil -addstore Root ca.cer, as administrator).
' The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim args, c, port, greeting, attempt, failure
Set args = WScript.Arguments
failure = ""

Sub Finish(passed, what)
  If passed Then WScript.Echo "PASS: " & what Else WScript.Echo "FAIL: " & what
  If passed Then WScript.Quit 0 Else WScript.Quit 1
End Sub

' What to do about the errors a TLS connection can report.
Function Advice(code)
  Select Case code
    Case 12045: Advice = "the certificate's authority is not trusted: add it to the trusted root store"
    Case 12038: Advice = "the certificate is made out to another name: connect with the name it names"
    Case 12037: Advice = "the certificate has expired or is not yet valid: check the server and this computer's clock"
    Case 12157: Advice = "the TLS handshake failed: is this a TLS port (995, 465)?"
    Case 10061: Advice = "nothing listens on that port"
    Case 11001: Advice = "no such host"
    Case Else: Advice = "see the guide's list of errors"
  End Select
End Function

Sub c_Error(code, errorText, cancel)
  WScript.Echo "  error " & code & ": " & errorText
  If failure = "" Then failure = "error " & code & ": " & Advice(code)
  cancel = True  ' no message box
End Sub

If args.Count < 2 Then Finish False, "usage: tls_connect.vbs HOST PORT"
port = CLng(args(1))
If port > 32767 Then port = port - 65536       ' SocketOpen's port is a 16-bit integer

Set c = WScript.CreateObject("prjCorvane.Corvane", "c_")
c.IsSecured = True                              ' TLS from the first byte
c.Timeout = 10
If c.SocketOpen(args(0), CInt(port)) <> -1 Then
  If failure = "" Then failure = "no connection within " & c.Timeout & " seconds"
  Finish False, failure
End If

' The first SocketRead waits for the greeting; later ones return at once.
greeting = ""
For attempt = 1 To 50
  greeting = greeting & c.SocketRead()
  If InStr(greeting, vbLf) > 0 Then Exit For
  WScript.Sleep 100
Next
c.SocketClose
If greeting = "" Then Finish False, "connected, but the server said nothing"
Finish True, "TLS connection to " & args(0) & ":" & args(1) & ", the server says " & Replace(greeting, vbCrLf, "")
