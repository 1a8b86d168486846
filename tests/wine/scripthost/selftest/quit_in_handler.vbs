Sub src_Error(ErrCode, ErrText, Cancel)
    WScript.Echo "quitting"
    WScript.Quit 3
End Sub
Set src = WScript.CreateObject("ScriptHostTest.EventSource", "src_")
src.Fire 5, "boom"
WScript.Echo "not reached"
