// The MIME class as a JScript host sees it. JScript passes every argument by
// value, so it cannot read GenerateMime's text; it checks what it can reach:
// properties, part properties, results and automation errors.
// Prints "ok - ..." / "not ok - ..." per check and ends with "RESULT PASS" or
// "RESULT FAIL"; a script that stops early prints no RESULT line.
// check and finish come from tests/wine/lib/checks.js, appended when it runs.

// The automation error number of a failed call, or null if it succeeded.
function errorOf(call) {
  try {
    call();
  } catch (e) {
    return { number: e.number >>> 0, description: e.description };
  }
  return null;
}

var m = new ActiveXObject("prjCorvane.MIME");
m.Too = "Ops";
m.From = "Dev";
m.Subject = "Hi";
m.Notification = "Dev";
m.ContentAdd(1, "Hello");
m.ContentAdd(2, "abc");

check("ContentCount is 2", m.ContentCount === 2, m.ContentCount);
check("header properties read back", m.Too === "Ops" && m.From === "Dev" && m.Subject === "Hi" && m.Notification === "Dev",
      [m.Too, m.From, m.Subject, m.Notification].join("|"));
check("ContentAdd returns nothing", typeof m.ContentAdd(2, "abc") === "undefined", typeof m.ContentAdd(2, "abc"));
check("GenerateMime takes a value for its by-reference parameter and returns -1", m.GenerateMime("") === -1, "");
check("cc is a property of its own", (m.cc = "copy", m.cc === "copy"), m.cc);

var failure = errorOf(function () { m.ContentAdd(-1, "x"); });
check("ContentAdd with a negative id raises 0x800A0009 (error 9)", failure && failure.number === 0x800A0009,
      failure && failure.number.toString(16));
check("error 9 says subscript out of range", failure && failure.description === "Subscript out of range",
      failure && failure.description);

failure = errorOf(function () { m.Send(); });
check("an unknown member is error 438", failure && (failure.number & 0xFFFF) === 438, failure && failure.number);

finish();
