' The MIME class as a VBScript host sees it: late binding by name, results in
' variables passed by reference, automation errors, the ANSI code page.
' Prints "ok - ..." / "not ok - ..." per check and ends with "RESULT PASS" or
' "RESULT FAIL"; a script that stops early prints no RESULT line.
' Check and Finish come from tests/wine/lib/checks.vbs, appended when it runs.
Option Explicit

Dim m, text, result, expected
Set m = CreateObject("prjCorvane.MIME")

' The worked example: two parts, one of them Base64.
m.Too = "Ops"
m.From = "Dev"
m.Subject = "Hi"
m.Notification = "Dev"
m.ContentAdd 1, "Hello"
m.ContentAdd 2, "abc"
m.ContentEncoding(2) = "base64"
m.ContentType(2) = "application/octet-stream"
result = m.GenerateMime(text)
Check "GenerateMime returns the 16-bit integer -1", result = -1 And TypeName(result) = "Integer", _
  TypeName(result) & " " & result
Check "GenerateMime writes the message into the variable passed", TypeName(text) = "String", TypeName(text)
Check "the worked example is 446 characters", Len(text) = 446, Len(text)
expected = text
Check "ContentCount is the 32-bit integer 2", m.ContentCount = 2 And TypeName(m.ContentCount) = "Long", _
  TypeName(m.ContentCount) & " " & m.ContentCount
' By-reference parameters: a variable of another type receives the text; a value
' (an expression in parentheses) is accepted and nothing is written back.
Dim number
number = 42
m.GenerateMime number
Check "a numeric variable passed to GenerateMime receives the same text again", number = expected, TypeName(number)
Check "an expression for the by-reference parameter is accepted", m.GenerateMime((number)) = -1, ""
number = 5
m.Subject = number
Check "a number put into a by-reference string property is stored as text", m.Subject = "5", m.Subject
Check "the variable put into a property keeps its type and value", TypeName(number) = "Integer" And number = 5, _
  TypeName(number)

' ContentAdd's result is the empty Variant.
Check "ContentAdd returns Empty", IsEmpty(m.ContentAdd(3, "third")), TypeName(m.ContentAdd(3, "third"))

' Automation errors: the number, description and source reach the script.
Dim number9, description, source
On Error Resume Next
m.ContentAdd -1, "x"
number9 = Err.Number
description = Err.Description
source = Err.Source
On Error GoTo 0
Check "ContentAdd with a negative id raises error 9", number9 = 9, number9
Check "error 9 comes with its description and source", _
  description = "Subscript out of range" And source = "prjCorvane.MIME", description & " / " & source
Check "the failed ContentAdd stored nothing", m.ContentCount = 3, m.ContentCount

Dim missingMember, badArgument
On Error Resume Next
m.Send
missingMember = Err.Number
Err.Clear
m.ContentAdd "one", "x"
badArgument = Err.Number
On Error GoTo 0
Check "an unknown member is error 438", missingMember = 438, missingMember
Check "an id that is no number is a type mismatch (13)", badArgument = 13, badArgument

m.Clear

' The 8-bit character set is the ANSI code page (1252 here): the euro sign is
' byte 0x80 and e acute byte 0xE9, so the part encodes as "gOk=".
m.ContentAdd 1, Chr(128) & Chr(233)
m.ContentEncoding(1) = "base64"
m.GenerateMime text
Check "characters become bytes of the ANSI code page", InStr(text, vbCrLf & vbCrLf & "gOk=" & vbCrLf) > 0, text

Finish
