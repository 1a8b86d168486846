' A UTF-8 file with a byte order mark; Echo writes UTF-8.
WScript.Echo "café", Len("café")
