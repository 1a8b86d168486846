' Objects by ProgID, and the errors the script sees when the host cannot oblige.
Set d = WScript.CreateObject("Scripting.Dictionary")
d.Add "k", "v"
WScript.Echo "dictionary", d.Count, d("k")

On Error Resume Next
Set o = WScript.CreateObject("No.Such.Thing")
WScript.Echo "no class", Hex(Err.Number), Err.Description
Err.Clear
WScript.ConnectObject d, "d_"
WScript.Echo "no events", Hex(Err.Number), Err.Description
Err.Clear
WScript.Sleep -1
WScript.Echo "negative sleep", Hex(Err.Number), Err.Description
Err.Clear
WScript.Echo WScript.Arguments(0)
WScript.Echo "no argument", Hex(Err.Number), Err.Description
Err.Clear
WScript.NoSuchMember
WScript.Echo "no member", Err.Number
