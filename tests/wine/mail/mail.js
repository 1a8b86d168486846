// The control's POP3 and SMTP members from JScript against the real Dovecot and
// Postfix: the mailbox mail.sh filled, a message sent and read back, a refusal.
// Arguments: as mail.vbs. check and finish come from tests/wine/lib/checks.js.
var args = WScript.Arguments;
var errors = [];
var c = WScript.CreateObject("prjCorvane.Corvane", "c_");
function c_Error(code, text, cancel) {
  errors.push(code + " " + text);
}
c.POP3host = args(0);
c.SMTPhost = args(1);
c.IsSecured = args(2) == "tls";
c.Timeout = 3;
c.POP3user = args(3);
c.POP3password = args(4);

var fixture = "Subject: fixture\r\n\r\n.a line that starts with a dot\r\n..two\r\n";
check("POP3Login", c.POP3Login() && c.MailBoxCount === 2, c.ErrCode + " " + errors);
var message = c.Retrieve(1);
check("Retrieve gives the status line and the message", message.indexOf("+OK") === 0 &&
      message.substr(message.indexOf("\r\n") + 2, fixture.length) === fixture, message);
check("Size", c.Size(1) === message.length - message.indexOf("\r\n") - 2, c.Size(1));
check("an index past the end gives nothing", c.Retrieve(9) === "" && c.ErrCode === 0, c.ErrCode);
check("Delete", c.Delete(1) && c.MailBoxCount === 1, c.MailBoxCount);
check("POP3Logout", c.POP3Logout() && !c.Busy, c.ErrCode);

var subject = "from JScript " + args(2);
c.SMTPsender = "<sender@" + args(7) + ">";
check("SMTPLogin", c.SMTPLogin(), c.ErrCode + " " + errors);
check("Send", c.Send(args(3) + "@" + args(7), subject, "", "\r\nbody\r\n.\r\nend"), c.ErrCode + " " + errors);
check("a refused recipient ends by the time-out", !c.Send(args(8), subject, "", "x") && c.ErrCode === 3, c.ErrCode);
check("SMTPLogout", c.SMTPLogout(), c.ErrCode);

var found = false;
for (var attempt = 0; attempt < 30 && !found; ++attempt) {
  if (attempt > 0) WScript.Sleep(100);
  c.POP3Login();
  for (var n = c.MailBoxCount; n >= 1 && !found; --n) {
    message = c.Retrieve(n);
    found = message.indexOf("Subject: " + subject + "\r\n\r\nbody\r\n.\r\nend\r\n") > 0;
  }
  c.POP3Logout();
}
check("the message came back, its lone dot line intact", found, message);
finish();
