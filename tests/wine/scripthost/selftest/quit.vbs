' Sleep waits about as long as asked; Quit ends the script with its code.
WScript.Echo "before"
started = Timer
WScript.Sleep 300
WScript.Echo "slept enough", Timer - started >= 0.25
WScript.Quit 7
WScript.Echo "not reached"
