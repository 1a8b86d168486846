WScript.Echo("start");
undefinedFunction();
WScript.Echo("not reached");
