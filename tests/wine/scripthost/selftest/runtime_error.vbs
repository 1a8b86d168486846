WScript.Echo "start"
' A run-time error stops the script and is reported with its place and number.
Err.Raise vbObjectError + 7, "selftest", "custom failure"
WScript.Echo "not reached"
