' Echo joins its arguments with single spaces; Empty shows as nothing.
WScript.Echo "hello", 42, True, False
WScript.Echo "a", Empty, "b"
WScript.Echo
WScript.Echo WScript.ScriptName, WScript.Arguments.Count, WScript.Arguments(0), WScript.Arguments.Item(1)
