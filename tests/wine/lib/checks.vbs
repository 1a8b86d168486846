' --- The helpers the VBScript tests share, from tests/wine/lib/checks.vbs:
' scripts/lib/wine.sh (wine_script) appends them to each test before it runs, as
' VBScript has no include. Sub and Function are known before the first line runs,
' so the test calls them above, and lines in error reports are the test's own.

Dim checkFailed  ' Empty until a check fails

' Prints "ok - what", or "not ok - what: detail".
Sub Check(what, passed, detail)
  If passed Then
    WScript.Echo "ok - " & what
  Else
    checkFailed = True
    WScript.Echo "not ok - " & what & ": " & detail
  End If
End Sub

' The last line, "RESULT PASS" or "RESULT FAIL"; after a failure the exit status is 1.
' A script that stops early prints no RESULT line.
Sub Finish
  If checkFailed Then
    WScript.Echo "RESULT FAIL"
    WScript.Quit 1
  End If
  WScript.Echo "RESULT PASS"
End Sub

' Ports above 32767 travel in their negative 16-bit form.
Function Port16(port)
  If port > 32767 Then Port16 = CInt(port - 65536) Else Port16 = CInt(port)
End Function
