// Percent-encodes text with z_URLEnc_EncodeEx: the mask chooses what is encoded,
// 1 control and non-ASCII characters, 2 unsafe ones (blank < > " # % { } | \ ~ ^
// [ ] `), 4 reserved ones (; / ? : @ = &); add them up for several.
//
//   cscript percent.js
//
// Prints each case and checks it. The last line says how it went: "PASS: ..." or "FAIL: ...".
var c = WScript.CreateObject("prjCorvane.Corvane");  // no events needed: no connection
var failures = 0, cases = 0;

function show(text, mask, expected) {
  var got = c.z_URLEnc_EncodeEx(text, mask);
  ++cases;
  WScript.Echo("mask " + mask + ": " + text.replace(/\r/g, "<CR>").replace(/\n/g, "<LF>") + " -> " + got);
  if (got !== expected) {
    ++failures;
    WScript.Echo("  expected " + expected);
  }
}

show("a b/c?\r\n", 1, "a b/c?%0D%0A");
show("a b/c?\r\n", 3, "a%20b/c?%0D%0A");
show("a b/c?\r\n", 7, "a%20b%2Fc%3F%0D%0A");
show("100% sure", 2, "100%25%20sure");
show("caf\u00e9", 1, "caf%E9");  // one byte per character: no UTF-8
show("1+1=2", 7, "1+1%3D2");     // "+" is never encoded

// A query string: encode each value with 7, not the separators between them.
var query = "?q=" + c.z_URLEnc_EncodeEx("mail & more", 7) + "&lang=" + c.z_URLEnc_EncodeEx("en", 7);
++cases;
WScript.Echo("query: " + query);
if (query !== "?q=mail%20%26%20more&lang=en") ++failures;

if (failures === 0) {
  WScript.Echo("PASS: " + cases + " encodings as expected");
} else {
  WScript.Echo("FAIL: " + failures + " of " + cases + " encodings differ");
  WScript.Quit(1);
}
