// The control against faulty peers of corvane_loopback (plain, Timeout 2): each
// case ends in its outcome (ErrCode 3 for a stall, noise or an endless line, 5
// for a close or a reset, 0 with the whole answer for a trickle) within
// Timeout + 1.5 s, and leaves the control good for a session against a
// well-behaved peer. A flood of lines keeps every wait fed, so it ends by the cap
// of 128 Mi characters (ErrCode 7), which the peer's 16 MB/s reach in 8.4 s at
// the soonest: its bound is 20 s. A refused recipient leaves the server's
// transaction open, so the next Send's MAIL FROM gets 503 and fails too (ErrCode
// 3 each, after Timeout); after SMTPLogout and SMTPLogin the same peer takes the
// message. Arguments: NAME=PORT pairs, the ports of the peers.
// check and finish come from tests/wine/lib/checks.js.
var args = WScript.Arguments;
var port = {};
for (var i = 0; i < args.length; ++i) port[args(i).split("=")[0]] = args(i).split("=")[1];

var timeout = 2, bound = timeout + 1.5, capBound = 20;
var message = "+OK 29 octets\r\nSubject: fault\r\n\r\nbody line\r\n";
var c = WScript.CreateObject("prjCorvane.Corvane", "c_");
var errors = [];
function c_Error(code, text, cancel) {
  errors.push(code + " " + text);
}
c.IsSecured = false;
c.Timeout = timeout;

function pop3Login() { return c.POP3Login(); }
function smtpLogin() { return c.SMTPLogin(); }
function send() { return c.Send("you@corvane.test", "s", "", "hello"); }
function sendAfterARefusal() {
  var outcomes = [];
  for (var k = 0; k < 2; ++k) outcomes.push(send() + " " + c.ErrCode);
  outcomes.push(c.SMTPLogout() && c.SMTPLogin() && send());
  return outcomes.join(", ");
}

// peer, the session opened before (null: none), the operation, what it must
// return, ErrCode, and the bound in seconds when not Timeout + 1.5.
var cases = [
  ["pop3_close_greeting", null, pop3Login, false, 5],
  ["pop3_reset_user", null, pop3Login, false, 5],
  ["pop3_garbage_user", null, pop3Login, false, 3],
  ["pop3_longline_pass", null, pop3Login, false, 3],
  ["pop3_stall_stat", null, pop3Login, false, 3],
  ["pop3_close_list", pop3Login, function () { return c.Size(1); }, 0, 5],
  ["pop3_trickle_retr", pop3Login, function () { return c.Retrieve(1); }, message, 0],
  ["pop3_flood_retr", pop3Login, function () { return c.Retrieve(1); }, "", 7, capBound],
  ["smtp_garbage_greeting", null, smtpLogin, false, 3],
  ["smtp_stall_data", smtpLogin, send, false, 3],
  ["smtp_close_dot", smtpLogin, send, false, 5],
  ["smtp_refuse_rcpt", smtpLogin, sendAfterARefusal, "false 3, false 3, true", 0, 2 * timeout + 1.5]
];

function aim(pop3, name) {
  if (pop3) c.POP3host = "localhost:" + port[name]; else c.SMTPhost = "localhost:" + port[name];
}

var slowest = 0, slowestName = "";
for (var n = 0; n < cases.length; ++n) {
  var name = cases[n][0], before = cases[n][1], run = cases[n][2], want = cases[n][3], code = cases[n][4];
  var most = cases[n][5] || bound;
  var pop3 = name.indexOf("pop3") === 0;
  aim(pop3, name);
  errors = [];
  if (before !== null && !before()) {
    check(name + ": the session opens", false, c.ErrCode + " " + errors);
    continue;
  }
  var start = new Date().getTime();
  var got = run();
  var seconds = (new Date().getTime() - start) / 1000;
  if (seconds / most > slowest) { slowest = seconds / most; slowestName = name + " " + seconds + " s of " + most + " s"; }
  var shown = typeof got === "string" && got.length > 60 ? got.length + " characters" : got;
  check(name + ": ErrCode " + code + " and the right result in " + seconds + " s",
        got === want && c.ErrCode === code && seconds <= most,
        "got " + shown + ", ErrCode " + c.ErrCode + ", " + seconds + " s; " + errors);
  if (c.Busy) pop3 ? c.POP3Logout() : c.SMTPLogout();
  aim(pop3, pop3 ? "pop3_ok" : "smtp_ok");
  errors = [];
  var usable = !c.Busy && (pop3 ? c.POP3Login() && c.POP3Logout() : c.SMTPLogin() && c.SMTPLogout()) &&
               !c.Busy && c.ErrCode === 0;
  check(name + ": a session with a well-behaved peer afterwards", usable, c.ErrCode + " " + errors);
}
WScript.Echo("# slowest against its bound: " + slowestName);

// The guide's read-and-delete loop against answers that carry "-ERR" in their
// first piece (messages 1 and 3): only messages whose text came back whole are
// deleted. The script's caller reads the peer's own log of what QUIT removed.
aim(true, "pop3_split_err");
errors = [];
var deleted = [];
if (c.POP3Login()) {
  for (var n = 1; n <= 4; ++n) {
    var text = c.Retrieve(n);
    if (text === "") continue;
    check("pop3_split_err: message " + n + " comes back whole",
          text.substring(text.indexOf("\r\n") + 2) === "Subject: message " + n + "\r\n\r\nbody " + n + "\r\n", text);
    if (c.Delete(n)) deleted.push(n);
  }
  c.POP3Logout();
}
check("pop3_split_err: the loop deletes messages 2 and 4 only", deleted.join() === "2,4" && c.ErrCode === 0,
      deleted.join() + "; ErrCode " + c.ErrCode + "; " + errors);
finish();
