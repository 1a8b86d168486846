// The property pages' logic against real controls, reached by property name as
// the host's selection reaches them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "pages/pages.h"
#include "raises.h"
#include "scripted.h"

namespace corvane::testing {
namespace {

// Controls selected on a scripted host; every access is logged as "get NAME" or
// "put NAME=VALUE" with the item's number.
class Selection : public PageSelection {
 public:
  explicit Selection(size_t count) : controls(count) {}
  size_t Count() const override { return controls.size(); }
  std::u16string Get(size_t item, std::u16string_view property) override {
    log.push_back(DecimalText(static_cast<int64_t>(item)) + u" get " + std::u16string(property));
    Corvane& c = controls[item].control;
    const std::map<std::u16string_view, std::u16string> values{
        {u"POP3host", c.POP3host()}, {u"POP3user", c.POP3user()}, {u"POP3password", c.POP3password()},
        {u"SMTPhost", c.SMTPhost()}, {u"SMTPsender", c.SMTPsender()}};
    return values.at(property);
  }
  void Put(size_t item, std::u16string_view property, const std::u16string& value) override {
    log.push_back(DecimalText(static_cast<int64_t>(item)) + u" put " + std::u16string(property) + u"=" + value);
    Corvane& c = controls[item].control;
    if (property == u"POP3host") c.POP3host(value);
    if (property == u"POP3user") c.POP3user(value);
    if (property == u"POP3password") c.POP3password(value);
    if (property == u"SMTPhost") c.SMTPhost(value);
    if (property == u"SMTPsender") c.SMTPsender(value);
  }
  std::vector<ScriptedControl> controls;
  std::vector<std::u16string> log;
};

size_t ControlNamed(const PageLayout& layout, std::u16string_view name) {
  for (size_t k = 0; k < layout.controls.size(); ++k)
    if (layout.controls[k].name == name) return k;
  throw std::out_of_range("no such control");
}

TEST(PropertyPages, EachFieldIsATextBoxAndTheTabOrderCoversEveryControlOnce) {
  for (const PageLayout* page : {&Pop3Page(), &SmtpPage()}) {
    for (const PageField& field : page->fields) EXPECT_NE(page->controls[field.control].kind, PageControl::Label);
    std::vector<int> order;
    for (const PageControl& c : page->controls) order.push_back(c.tabIndex);
    std::ranges::sort(order);
    for (size_t k = 0; k < order.size(); ++k) EXPECT_EQ(order[k], static_cast<int>(k));
  }
  EXPECT_EQ(Pop3Page().controls[ControlNamed(Pop3Page(), u"txtPassword")].kind, PageControl::PasswordBox);
}

// Receiving shows the first selected control, in the tab order, without an edit;
// applying writes every field back to it alone, through its setters.
TEST(PropertyPages, ReceivingShowsAndAppliesTheFirstSelectedControlOnly) {
  Selection selection(2);
  selection.controls[0].control.POP3host(u"pop.test:995");
  selection.controls[0].control.POP3password(u"secret");
  selection.controls[1].control.POP3host(u"second.test");
  PageLogic page(Pop3Page());
  page.SelectionChanged(selection);
  EXPECT_EQ(page.Text(ControlNamed(Pop3Page(), u"txtPOP3host")), u"pop.test:995");
  EXPECT_EQ(page.Text(ControlNamed(Pop3Page(), u"txtPassword")), u"secret");
  EXPECT_FALSE(page.Changed());
  page.Edit(ControlNamed(Pop3Page(), u"txtUserName"), u"ann");
  EXPECT_TRUE(page.Changed());
  page.ApplyChanges(selection);
  EXPECT_FALSE(page.Changed());
  EXPECT_EQ(selection.log, (std::vector<std::u16string>{u"0 get POP3host", u"0 get POP3password", u"0 get POP3user",
                                                        u"0 put POP3host=pop.test:995", u"0 put POP3password=secret",
                                                        u"0 put POP3user=ann"}));
  EXPECT_EQ(selection.controls[0].control.POP3user(), u"ann");
  EXPECT_EQ(selection.controls[1].control.POP3host(), u"second.test");
}

TEST(PropertyPages, SendingGoesThroughHostThenSenderAndAnEmptySenderBecomesTheNullPath) {
  Selection selection(1);
  PageLogic page(SmtpPage());
  page.SelectionChanged(selection);
  page.Edit(ControlNamed(SmtpPage(), u"txtSMTPhost"), u"smtp.test:2525");
  page.Edit(ControlNamed(SmtpPage(), u"txtSender"), u"");
  page.ApplyChanges(selection);
  EXPECT_EQ(selection.log, (std::vector<std::u16string>{u"0 get SMTPhost", u"0 get SMTPsender",
                                                        u"0 put SMTPhost=smtp.test:2525", u"0 put SMTPsender="}));
  EXPECT_EQ(selection.controls[0].control.SMTPsender(), u"<>");
}

TEST(PropertyPages, AnEmptySelectionIsTheSubscriptError) {
  Selection none(0);
  PageLogic page(SmtpPage());
  for (auto notify : {&PageLogic::SelectionChanged, &PageLogic::ApplyChanges}) {
    EXPECT_EQ(testing_support::NumberRaisedBy([&] { (page.*notify)(none); }), ErrorNumber::SubscriptOutOfRange);
  }
}

}  // namespace
}  // namespace corvane::testing
