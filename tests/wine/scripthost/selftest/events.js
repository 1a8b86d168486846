// JScript handlers get the values; they cannot assign to the caller's arguments.
function src_Error(code, text, cancel) {
    WScript.Echo("handler", code, text, cancel);
}
var src = WScript.CreateObject("ScriptHostTest.EventSource", "src_");
WScript.Echo("cancelled", src.Fire(5, "boom"), src.LastCode, src.LastText);
