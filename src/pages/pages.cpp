#include "pages/pages.h"

#include "control/errors.h"

namespace corvane {

namespace {

using K = PageControl::Kind;

constexpr PageControl kPop3Controls[] = {
    {K::Label, u"lblPOP3host", u"POP3 host:", 120, 240, 1260, 240, 0},
    {K::TextBox, u"txtPOP3host", u"", 1320, 240, 2700, 285, 1},
    {K::Label, u"lblUserName", u"User account:", 120, 720, 1260, 240, 2},
    {K::TextBox, u"txtUserName", u"", 1320, 720, 2700, 285, 3},
    {K::Label, u"lblPassword", u"Password:", 120, 1200, 1260, 240, 4},
    {K::PasswordBox, u"txtPassword", u"", 1320, 1200, 2700, 285, 5},
};
constexpr PageField kPop3Fields[] = {{1, u"POP3host"}, {5, u"POP3password"}, {3, u"POP3user"}};

constexpr PageControl kSmtpControls[] = {
    {K::TextBox, u"txtSMTPhost", u"", 1320, 240, 2700, 285, 0},
    {K::Label, u"lblSMTPhost", u"SMTP host:", 120, 240, 1185, 240, 1},
    {K::TextBox, u"txtSender", u"", 1320, 720, 2700, 285, 2},
    {K::Label, u"lblSender", u"Return path:", 120, 720, 1185, 240, 3},
};
constexpr PageField kSmtpFields[] = {{0, u"SMTPhost"}, {2, u"SMTPsender"}};

constexpr PageLayout kPop3Page{u"pagPOP3", u"Receiving", 4230, 1725, kPop3Controls, kPop3Fields};
constexpr PageLayout kSmtpPage{u"pagSMTP", u"Sending", 4245, 1260, kSmtpControls, kSmtpFields};

void RequireSelection(const PageSelection& selection) {
  if (selection.Count() == 0)
    throw AutomationError(ErrorNumber::SubscriptOutOfRange, "The property page has no control selected");
}

}  // namespace

const PageLayout& Pop3Page() { return kPop3Page; }
const PageLayout& SmtpPage() { return kSmtpPage; }

PageLogic::PageLogic(const PageLayout& layout) : layout_(layout), texts_(layout.controls.size()) {}

void PageLogic::Edit(size_t control, std::u16string text) {
  texts_.at(control) = std::move(text);
  changed_ = true;
}

void PageLogic::SelectionChanged(PageSelection& selection) {
  RequireSelection(selection);
  for (const PageField& field : layout_.fields) texts_[field.control] = selection.Get(0, field.property);
}

void PageLogic::ApplyChanges(PageSelection& selection) {
  RequireSelection(selection);
  for (const PageField& field : layout_.fields) selection.Put(0, field.property, texts_[field.control]);
  changed_ = false;
}

}  // namespace corvane
