' Percent-encodes text with z_URLEnc_EncodeEx: the mask chooses what is encoded,
' 1 control and non-ASCII characters, 2 unsafe ones (blank < > " # % { } | \ ~ ^
' [ ] `), 4 reserved ones (; / ? : @ = &); add them up for several.
'
'   cscript percent.vbs
'
' Prints each case and checks it. The last line says how it went: "PASS: ..." or "FAIL: ...".
Option Explicit

Dim c, failures, cases
failures = 0
cases = 0
Set c = CreateObject("prjCorvane.Corvane")   ' no events needed: no connection

Sub Show(text, mask, expected)
  Dim got
  got = c.z_URLEnc_EncodeEx((text), mask)     ' (text): the variable is not handed back
  cases = cases + 1
  WScript.Echo "mask " & mask & ": " & Replace(Replace(text, vbCr, "<CR>"), vbLf, "<LF>") & " -> " & got
  If got <> expected Then
    failures = failures + 1
    WScript.Echo "  expected " & expected
  End If
End Sub

Show "a b/c?" & vbCrLf, 1, "a b/c?%0D%0A"
Show "a b/c?" & vbCrLf, 3, "a%20b/c?%0D%0A"
Show "a b/c?" & vbCrLf, 7, "a%20b%2Fc%3F%0D%0A"
Show "100% sure", 2, "100%25%20sure"
Show "caf" & Chr(233), 1, "caf%E9"                     ' one byte per character: no UTF-8
Show "1+1=2", 7, "1+1%3D2"                             ' "+" is never encoded

' A query string: encode each value with 7, not the separators between them.
Dim query
query = "?q=" & c.z_URLEnc_EncodeEx("mail & more", 7) & "&lang=" & c.z_URLEnc_EncodeEx("en", 7)
cases = cases + 1
WScript.Echo "query: " & query
If query <> "?q=mail%20%26%20more&lang=en" Then failures = failures + 1

If failures = 0 Then
  WScript.Echo "PASS: " & cases & " encodings as expected"
Else
  WScript.Echo "FAIL: " & failures & " of " & cases & " encodings differ"
  WScript.Quit 1
End If
