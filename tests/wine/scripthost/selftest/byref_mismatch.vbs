' A value that does not fit the event's argument type is reported and not
' written; the other arguments still are.
Sub src_Error(ErrCode, ErrText, Cancel)
    ErrCode = "not a number"
    ErrText = "kept"
End Sub
Set src = WScript.CreateObject("ScriptHostTest.EventSource", "src_")
src.Fire 5, "boom"
WScript.Echo "left", src.LastCode, src.LastText
