' Composes a message with a text part and a small binary attachment through the
' creatable MIME class, and prints the whole message text.
'
'   cscript compose.vbs
'
' The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim mime, message, ok, bytes, i
Set mime = CreateObject("prjCorvane.MIME")
mime.From = "Corvane Demo <demo@example.test>"
mime.Too = "<ops@example.test>, <dev@example.test>"
mime.Subject = "Nightly report"
mime.Notification = "<demo@example.test>"

mime.ContentAdd 1, "The nightly build passed." & vbCrLf & "Attached: the first 100 byte values."

' An attachment carries one character per byte.
bytes = ""
For i = 0 To 99
  bytes = bytes & Chr(i)
Next
mime.ContentAdd 2, bytes
mime.ContentEncoding(2) = "base64"
mime.ContentType(2) = "application/octet-stream; name=""bytes.bin"""

ok = mime.GenerateMime(message)
WScript.Echo message
WScript.Echo "----"
WScript.Echo "GenerateMime returned " & ok & "; " & mime.ContentCount & " parts, " & Len(message) & " characters"
If ok = -1 And Len(message) > 0 Then
  WScript.Echo "PASS: composed " & Len(message) & " characters"
Else
  WScript.Echo "FAIL: GenerateMime returned " & ok
  WScript.Quit 1
End If
