' Events reach prefix_EventName; assignments to the by-reference arguments go
' back to the object; events without a handler and disconnected objects are quiet.
Dim calls : calls = 0

Sub src_Error(ErrCode, ErrText, Cancel)
    calls = calls + 1
    WScript.Echo "handler", ErrCode, ErrText, Cancel
    ErrCode = ErrCode + 1
    ErrText = "changed " & ErrText
    Cancel = True
End Sub

Sub other_Error(code, text, cancel)
    WScript.Echo "other", code, text
End Sub

Set src = WScript.CreateObject("ScriptHostTest.EventSource", "src_")
WScript.Echo "cancelled", src.Fire(5, "boom")
WScript.Echo "left", src.LastCode, src.LastText
src.Trace "no handler for this event"

WScript.DisconnectObject src
WScript.Echo "disconnected", src.Fire(9, "quiet"), src.LastCode, calls

WScript.ConnectObject src, "other_"
WScript.Echo "other cancelled", src.Fire(-3, "x"), src.LastCode
