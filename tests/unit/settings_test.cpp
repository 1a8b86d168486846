// Connection settings: host:port puts, the sender's null path, and saving and
// loading the nine settings through a property bag and its byte form.
#include <gtest/gtest.h>

#include "control/errors.h"
#include "scripted.h"

namespace corvane::testing {
namespace {

using Entries = std::vector<std::pair<std::u16string, BagValue>>;

// A bag that also records the keys asked for, in order.
class RecordingBag : public MemoryPropertyBag {
 public:
  std::vector<std::u16string> asked;

 protected:
  std::optional<BagValue> Get(std::u16string_view key) override {
    asked.emplace_back(key);
    return MemoryPropertyBag::Get(key);
  }
};

TEST(HostSetting, SplitsAtTheFirstColonIntoHostAndPort) {
  struct Case {
    std::u16string put, host, get;
  };
  for (const Case& c : std::vector<Case>{
           {u"pop.example.test:995", u"pop.example.test", u"pop.example.test:995"},
           {u"pop.example.test", u"pop.example.test", u"pop.example.test"},
           {u"pop.example.test:", u"pop.example.test", u"pop.example.test"},
           {u"pop.example.test:abc", u"pop.example.test", u"pop.example.test"},
           {u"smtp.test:25:more", u"smtp.test", u"smtp.test:25"},
           {u": 1100.4", u"", u":1100"},
       }) {
    ScriptedControl s;
    s.control.POP3host(c.put);
    s.control.SMTPhost(c.put);
    EXPECT_EQ(s.control.POP3host(), c.get) << c.put.size();
    EXPECT_EQ(s.control.SMTPhost(), c.get);
    MemoryPropertyBag bag;
    s.control.WriteProperties(bag);
    EXPECT_EQ(bag.ReadString(u"POP3host", u"?"), c.host.empty() ? u"?" : c.host);  // saved without the port
    EXPECT_EQ(s.host.changes, (std::vector<std::u16string>{u"POP3host", u"SMTPhost"}));
  }
}

TEST(HostSetting, APortBeyondThirtyTwoBitsIsAnOverflowAndChangesNothing) {
  ScriptedControl s;
  s.control.POP3host(u"kept:110");
  s.host.changes.clear();
  try {
    s.control.POP3host(u"other:4294967296");
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), ErrorNumber::Overflow);
  }
  EXPECT_EQ(s.control.POP3host(), u"kept:110");
  EXPECT_TRUE(s.host.changes.empty());
}

TEST(Sender, AnEmptyPutStoresTheNullPath) {
  ScriptedControl s;
  s.control.SMTPsender(u"");
  EXPECT_EQ(s.control.SMTPsender(), u"<>");
  s.control.SMTPsender(u"me@example.test");
  EXPECT_EQ(s.control.SMTPsender(), u"me@example.test");
  EXPECT_EQ(s.host.changes, (std::vector<std::u16string>{u"SMTPsender", u"SMTPsender"}));
}

TEST(SavedSettings, ANewInstanceSavesOnlyItsEmptySenderWhoseDefaultIsTheNullPath) {
  ScriptedControl s;
  MemoryPropertyBag bag;
  s.control.WriteProperties(bag);
  EXPECT_EQ(bag.entries, (Entries{{u"SMTPsender", u""}}));
}

TEST(SavedSettings, EverySettingWithItsKeyTypeAndOrder) {
  ScriptedControl s;
  s.control.POP3host(u"pop.test:1100");
  s.control.POP3user(u"ann");
  s.control.POP3password(u"secret");
  s.control.SMTPhost(u"smtp.test:2525");
  s.control.SMTPsender(u"<ann@test>");
  s.control.Timeout(25);
  s.control.IsSecured(true);
  RecordingBag bag;
  s.control.WriteProperties(bag);
  const Entries saved{{u"POP3host", u"pop.test"},       {u"POP3port", int32_t{1100}},   {u"POP3user", u"ann"},
                      {u"POP3password", u"secret"},     {u"SMTPhost", u"smtp.test"},    {u"SMTPport", int32_t{2525}},
                      {u"SMTPsender", u"<ann@test>"},   {u"TimeOut", int16_t{25}},      {u"IsSecured", true}};
  EXPECT_EQ(bag.entries, saved);

  // Loaded by a new instance, through the byte form: the same settings, read
  // in the same order, and no change signalled.
  RecordingBag copy;
  copy.entries = MemoryPropertyBag::Parse(bag.Serialize()).entries;
  ScriptedHost host;
  RecordingEvents events;
  Corvane loaded(host, events);
  loaded.ReadProperties(copy);
  std::vector<std::u16string> keys;
  for (const auto& entry : saved) keys.push_back(entry.first);
  EXPECT_EQ(copy.asked, keys);
  EXPECT_EQ(loaded.POP3host(), u"pop.test:1100");
  EXPECT_EQ(loaded.SMTPhost(), u"smtp.test:2525");
  EXPECT_EQ(loaded.POP3user(), u"ann");
  EXPECT_EQ(loaded.POP3password(), u"secret");
  EXPECT_EQ(loaded.SMTPsender(), u"<ann@test>");
  EXPECT_EQ(loaded.Timeout(), 25);
  EXPECT_TRUE(loaded.IsSecured());
  EXPECT_TRUE(host.socket->secured);
  EXPECT_TRUE(host.changes.empty());
}

TEST(SavedSettings, AbsentKeysLoadTheirDefaultsAndAnEmptySenderStaysEmpty) {
  ScriptedControl s;
  s.control.POP3host(u"old:1");
  s.control.IsSecured(true);
  MemoryPropertyBag bag;
  bag.Write(u"SMTPsender", std::u16string(), u"<>");
  s.control.ReadProperties(bag);
  EXPECT_EQ(s.control.POP3host(), u"");
  EXPECT_EQ(s.control.SMTPsender(), u"");
  EXPECT_EQ(s.control.Timeout(), 10);
  EXPECT_FALSE(s.control.IsSecured());
}

TEST(SavedSettings, ValuesOfAnotherTypeAreConvertedAsAutomationDoes) {
  ScriptedControl s;
  MemoryPropertyBag bag;
  bag.entries = {{u"POP3host", int32_t{7}}, {u"POP3port", u" 995 "}, {u"SMTPport", int16_t{25}},
                 {u"TimeOut", int32_t{30}}, {u"IsSecured", u"true"}};
  s.control.ReadProperties(bag);
  EXPECT_EQ(s.control.POP3host(), u"7:995");
  EXPECT_EQ(s.control.SMTPhost(), u":25");
  EXPECT_EQ(s.control.Timeout(), 30);
  EXPECT_TRUE(s.control.IsSecured());
}

TEST(SavedSettings, AValueThatCannotBeLoadedIsAClearErrorAfterTheSettingsBeforeIt) {
  struct Case {
    std::u16string key;
    BagValue value;
    ErrorNumber number;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{
           {u"POP3port", u"pop", ErrorNumber::TypeMismatch, "Saved setting POP3port: \"pop\" is not a whole number"},
           {u"SMTPport", u"99999999999", ErrorNumber::Overflow,
            "Saved setting SMTPport: 99999999999 does not fit a 32-bit integer"},
           {u"TimeOut", int32_t{40000}, ErrorNumber::Overflow,
            "Saved setting TimeOut: 40000 does not fit a 16-bit integer"},
           {u"TimeOut", int16_t{61}, ErrorNumber::InvalidPropertyValue,
            "Saved setting TimeOut: 61 is not between 0 and 60"},
           {u"IsSecured", u"maybe", ErrorNumber::TypeMismatch,
            "Saved setting IsSecured: \"maybe\" is not a whole number"},
       }) {
    ScriptedControl s;
    MemoryPropertyBag bag;
    bag.entries = {{u"POP3host", u"read.first"}, {c.key, c.value}};
    try {
      s.control.ReadProperties(bag);
      ADD_FAILURE() << c.text;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), c.number);
      EXPECT_EQ(e.what(), c.text);
    }
    EXPECT_EQ(s.control.POP3host(), u"read.first");
  }
}

TEST(SavedSettings, TheByteFormRefusesDamagedAndNewerData) {
  MemoryPropertyBag bag;
  bag.entries = {{u"POP3user", u"ann"}, {u"TimeOut", int16_t{-2}}};
  const std::string bytes = bag.Serialize();
  EXPECT_EQ(MemoryPropertyBag::Parse(bytes).entries, bag.entries);
  std::string newer = bytes;
  newer[0] = 2;
  for (const std::string& bad : {bytes.substr(0, bytes.size() - 1), bytes + "x", newer, std::string()}) {
    try {
      MemoryPropertyBag::Parse(bad);
      ADD_FAILURE() << bad.size();
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), ErrorNumber::InvalidFileFormat);
    }
  }
}

}  // namespace
}  // namespace corvane::testing
