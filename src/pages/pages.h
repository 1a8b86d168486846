#pragma once
// The design-time property pages pagPOP3 ("Receiving") and pagSMTP ("Sending"):
// their layout, and the logic that moves the settings between the text boxes
// and the first selected control's properties, by name. The pages keep no
// settings of their own; the properties' own rules apply ("host:port").
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The controls a page edits, as the host hands them over: properties by name.
class PageSelection {
 public:
  virtual ~PageSelection() = default;
  virtual size_t Count() const = 0;
  virtual std::u16string Get(size_t item, std::u16string_view property) = 0;
  virtual void Put(size_t item, std::u16string_view property, const std::u16string& value) = 0;
};

struct PageControl {
  enum Kind { Label, TextBox, PasswordBox };  // a password box shows "*" for each character
  Kind kind;
  std::u16string_view name;
  std::u16string_view caption;   // a label's text
  int left, top, width, height;  // twips from the page's top left
  int tabIndex;
};

// A text box and the property it edits.
struct PageField {
  size_t control;  // index into PageLayout::controls
  std::u16string_view property;
};

struct PageLayout {
  std::u16string_view name, caption;
  int width, height;  // twips
  std::span<const PageControl> controls;
  std::span<const PageField> fields;  // in the order both directions go through them
};

const PageLayout& Pop3Page();
const PageLayout& SmtpPage();

class PageLogic {
 public:
  explicit PageLogic(const PageLayout& layout);

  const PageLayout& Layout() const { return layout_; }
  const std::u16string& Text(size_t control) const { return texts_.at(control); }
  // The user typed: the page now has changes to apply.
  void Edit(size_t control, std::u16string text);
  bool Changed() const { return changed_; }

  // Fills the text boxes from item 0 of the selection; an empty selection raises
  // the subscript error. Filling is no edit.
  void SelectionChanged(PageSelection& selection);
  // Puts every text box's text into item 0's property, in order, then the page
  // has no changes left. A failing put raises its error, the puts before it done.
  void ApplyChanges(PageSelection& selection);

 private:
  const PageLayout& layout_;
  std::vector<std::u16string> texts_;
  bool changed_ = false;
};

}  // namespace corvane
