// The same WScript members seen from JScript.
WScript.Echo("js", 1 + 1, true, WScript.Arguments.length, WScript.Arguments.Item(0), WScript.ScriptName);
