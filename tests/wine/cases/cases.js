// The protocol cases of tests/cases played through prjCorvane.Corvane against the
// transcript server of corvane_loopback, as tests/unit/cases_test.cpp plays them:
// the server's text whole, and once more for every fault at every "S!" answer
// (Timeout 2: the call the fault meets returns false, "" or 0 with the fault's
// ErrCode within 2 * Timeout + 2 s, and leaves the control free). A case that
// names what the OCX cannot show, or whose host's port matters, is skipped. A
// flood ends by the received-text cap of 2^27 characters, which takes seconds
// here, and the server must have sent less than three times the cap (the OCX
// takes in about twice the cap before refusing it; a doubled cap lets four through).
// Arguments: the cases folder, the transcript port, the select port [, a part of
// the names to play]. check and finish come from tests/wine/lib/checks.js.
var args = WScript.Arguments, folder = args(0), here = "127.0.0.1:" + args(1), only = args.length > 3 ? args(3) : "";
var hidden = /^(connects|closes|state|pumps|seconds|timer|LastReply|LastSaid|Received|TicksLeft|Say|WaitFor|WaitClose|LongestReceived|Pump|Mime\..*|MimeToOnTrace|timeout|IsSecured|StartTLS|LossyHost|MimeContentType|MimeContentEncoding)$/;
var faults = {close: 5, reset: 5, stall: 3, garbage: 3, longline: 3, flood: 7};
var cap = 134217728, floodSeconds = 60;

// Words apart by spaces, a word in double quotes may hold spaces; "\r", "\n",
// "\t", "\0" and "\xHH" stand for those characters, "\c" for c.
function words(line) {
  var out = [], re = /"((?:\\.|[^"\\])*)"|(\S+)/g, m;
  while ((m = re.exec(line)) !== null) {
    out.push((m[0].charAt(0) === '"' ? m[1] : m[2]).replace(/\\(x[0-9A-Fa-f]{2}|.)/g, function (all, c) {
      return c.length === 3 ? String.fromCharCode(parseInt(c.substring(1), 16)) : {r: "\r", n: "\n", t: "\t", "0": "\0"}[c] || c;
    }));
  }
  return out;
}

// The cases of one file, "use" expanded, with the lines of the whole playing.
function load(file) {
  var lines = new ActiveXObject("Scripting.FileSystemObject").OpenTextFile(folder + "\\" + file, 1).ReadAll().split(/\r?\n/);
  var cases = [], blocks = {}, into = null;
  for (var i = 0; i < lines.length; ++i) {
    var line = lines[i].replace(/^@whole /, "");
    if (line.indexOf("== ") === 0) cases.push({name: file.replace(".txt", ": ") + line.substring(3), lines: into = []});
    else if (line.indexOf("-- ") === 0) blocks[line.substring(3)] = into = [];
    else if (line.indexOf("use ") === 0) into.push.apply(into, blocks[line.substring(4)]);
    else if (!/^(#|@split |only whole$|$)/.test(line)) into.push(line);
  }
  return cases;
}

// What stops a case from being played here: a member named, or a host's port.
function hiddenIn(lines) {
  for (var i = 0; i < lines.length; ++i) {
    var step = words(lines[i]);
    if (/^(set|call|expect)$/.test(step[0]) && hidden.test(step[1])) return step[1];
    if (step[0] === "set" && /host$/.test(step[1]) && /:/.test(step[3])) return step[1] + " with a port";
  }
  return null;
}

// The select connection: a second control as a raw socket, whose reads wait only
// for the connection's first data.
var select = WScript.CreateObject("prjCorvane.Corvane");
check("the select connection opens", select.SocketOpen("127.0.0.1", args(2) > 32767 ? args(2) - 65536 : +args(2)) === -1, select.ErrCode);
function tell(text) { select.SocketSend(text + "\r\n"); }
function verdict() {
  tell("RESULT");
  for (var reply = "", n = 0; n < 600 && !/\r\n$/.test(reply); ++n) {
    WScript.Sleep(50);
    reply += select.SocketRead();
  }
  return reply.replace(/\r\n$/, "");
}

var c, trace, errors;
function c_Debugger(info) { trace.push(info); }
function c_Error(code, text, cancel) { errors.push(text); }
function call(name, a) {
  var n = a.length;
  return n === 0 ? c[name]() : n === 1 ? c[name](a[0]) : n === 2 ? c[name](a[0], a[1]) : c[name](a[0], a[1], a[2], a[3]);
}
function logOut() { if (c.Busy) c.POP3SessionActive ? c.POP3Logout() : c.SMTPLogout(); }

// Plays a case, with `fault` in place of the `point`th "S!" answer (from 0): the
// next call meets it.
function play(name, lines, fault, point) {
  var script = [], steps = [], points = 0, met = -1, failed = null;
  for (var i = 0; i < lines.length; ++i) {
    if (/^(set|call|expect) /.test(lines[i])) {
      if (met === -2 && lines[i].indexOf("call ") === 0) met = steps.length;
      steps.push(lines[i]);
    } else if (lines[i].indexOf("S! ") === 0) {
      var faulted = fault && points++ === point;
      script.push(faulted ? "fault " + fault : "S: " + lines[i].substring(3));
      if (faulted) met = -2;
    } else {
      script.push(lines[i]);
    }
  }
  tell(script.concat(["END"]).join("\r\n"));
  c = WScript.CreateObject("prjCorvane.Corvane", "c_");
  trace = [];
  errors = [];
  c.POP3host = c.SMTPhost = here;
  if (fault) c.Timeout = 2;
  for (var s = 0; s < steps.length && failed === null; ++s) {
    var step = words(steps[s]), kind = step[0], what = step[1], got, arrow = 2;
    if (kind === "call") for (arrow = 2; arrow < step.length && step[arrow] !== "->"; ++arrow) {}
    var a = step.slice(2, arrow), expected = step.slice(arrow + 1), value = expected[0];
    if (kind === "set") {
      if (/host$/.test(what) && !/[\r\n\0]/.test(value)) value = here;
      c[what] = value === "true" ? true : value === "false" ? false : what === "Timeout" ? +value : value;
      continue;
    }
    if (/^(Size|Delete|Retrieve)$/.test(what)) a[0] = +a[0];
    var start = new Date().getTime();
    try {
      got = what === "trace" ? trace : what === "errors" ? [errors.length] : what === "error" ? errors.slice(-1).concat([""]).slice(0, 1)
          : [kind === "call" ? call(what, a) : c[what]];
    } catch (e) {
      got = ["raises", (e.number >>> 16) === 0x800A ? e.number & 0xFFFF : e.number];
    }
    var seconds = (new Date().getTime() - start) / 1000;
    if (s === met) {
      var ok = (got[0] === false || got[0] === "" || got[0] === 0) && c.ErrCode === faults[fault] &&
               seconds <= (fault === "flood" ? floodSeconds : 2 * 2 + 2);
      if (!ok) failed = steps[s] + ": got " + escape(got[0]) + ", ErrCode " + c.ErrCode + " in " + seconds + " s";
      logOut();
      if (ok && c.Busy) failed = steps[s] + ": still Busy after logging out";
      if (fault === "flood") WScript.Echo("# flood: " + seconds + " s");
      break;
    }
    if (arrow === step.length) continue;
    if (step[arrow] === "has") {  // these lines, in this order, among others
      for (var g = 0, found = []; g < got.length && found.length < expected.length; ++g)
        if (String(got[g]) === expected[found.length]) found.push(got[g]);
      got = found;
    }
    // The OCX reads bytes in the ANSI code page, where 0x80 is the euro sign.
    if (got.join("\n") !== expected.join("\n").replace(/\x80/g, "\u20AC"))
      failed = steps[s] + ": got " + escape(got.join(" | ")) + "; " + errors.join(" | ");
  }
  var said = verdict(), flooded = /flooded (\d+)/.exec(said);
  logOut();
  WScript.DisconnectObject(c);
  c = null;
  CollectGarbage();
  if (failed === null && said.indexOf("OK") !== 0) failed = "the server: " + said;
  if (failed === null && fault === "flood" && !(flooded && flooded[1] < 3 * cap)) failed = "past the cap: " + said;
  check(name + (fault ? " (" + fault + " at " + (point + 1) + ")" : ""), failed === null, failed);
}

var played = 0, skipped = 0, files = ["pop3.txt", "smtp.txt"];
for (var f = 0; f < files.length; ++f) {
  var cases = load(files[f]);
  for (var k = 0; k < cases.length; ++k) {
    var why = hiddenIn(cases[k].lines), points = 0;
    if (cases[k].name.indexOf(only) < 0) continue;
    if (why) { WScript.Echo("# skipped: " + cases[k].name + " (" + why + ")"); ++skipped; continue; }
    play(cases[k].name, cases[k].lines);
    ++played;
    for (var p = 0; p < cases[k].lines.length; ++p) points += cases[k].lines[p].indexOf("S! ") === 0;
    for (var point = 0; point < points; ++point)
      for (var fault in faults) play(cases[k].name, cases[k].lines, fault, point);
  }
}
WScript.Echo("# played " + played + " cases, skipped " + skipped);
if (!only) check("at least 18 cases were played", played >= 18, played);
finish();
