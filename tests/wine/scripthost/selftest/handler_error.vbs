Sub src_Error(ErrCode, ErrText, Cancel)
    WScript.Echo "in handler"
    x = 1 / 0
    Cancel = True
End Sub
Set src = WScript.CreateObject("ScriptHostTest.EventSource", "src_")
' The handler's error fails the run; the object carries on.
WScript.Echo "cancelled", src.Fire(5, "boom")
