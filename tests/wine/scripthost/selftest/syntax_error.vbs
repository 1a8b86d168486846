WScript.Echo "a script that does not compile runs no statement at all"
If Then Else
